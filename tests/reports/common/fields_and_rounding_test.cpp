// Fixed-width fields and the rounding of values on their decimal text.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "reports/common/rounding.h"
#include "reports/common/text_rules.h"

namespace ms {
namespace {

TEST(FixedWidth, AlignsPadsAndKeepsTheLeftmostCharactersCountingCharactersNotBytes) {
  EXPECT_EQ(rset("4000", 6), "  4000");
  EXPECT_EQ(lset("12", 6), "12    ");
  EXPECT_EQ(lset("M2 120", 6), "M2 120");
  EXPECT_EQ(rset("1234567", 6), "123456");
  EXPECT_EQ(lset("1234567", 6), "123456");
  EXPECT_EQ(rset("123456789.9", 10), "123456789.");
  EXPECT_EQ(rset("", 3), "   ");
  EXPECT_EQ(rset("£5", 4), "  £5");
  EXPECT_EQ(lset("Société Générale", 7), "Société");
  EXPECT_EQ(lset("é€x", 2), "é€");
  EXPECT_EQ(charCount("Société"), 7u);
  EXPECT_EQ(leftChars("ab", 5), "ab");
  EXPECT_EQ(trim("  60  "), "60");
  EXPECT_EQ(trim("      "), "");
  EXPECT_EQ(trim("\tx "), "\tx");
}

TEST(FixedWidth, FieldStartsAsCodeZeroAndHoldsCodesAndFlags) {
  FixedField figure(6);
  EXPECT_EQ(figure.str(), std::string(6, '\0'));
  figure.rset("4000");
  EXPECT_EQ(figure.str(), "  4000");
  FixedField code(3);
  code.lset("1");
  EXPECT_EQ(code.str(), "1  ");
  code.lset("12345");
  EXPECT_EQ(code.str(), "123");
  FixedField flag(1);
  flag.lset("YES");
  EXPECT_EQ(flag.str(), "Y");
  flag.rset("");
  EXPECT_EQ(flag.str(), " ");
}

struct RoundCase {
  double value;
  unsigned places;
  const char* text;
};

void expectRounds(const std::vector<RoundCase>& cases) {
  for (const RoundCase& c : cases)
    EXPECT_EQ(roundText(c.value, c.places), c.text) << c.value << ", " << c.places;
}

TEST(Round, WorkedExamples) {
  const std::vector<RoundCase> cases = {
      {1.2996, 3, "1.300"}, {1.96, 1, "2.0"},   {1.996, 2, "2.00"}, {1.256, 2, "1.26"}, {1.25, 2, "1.25"},
      {1.2, 2, "1.2 "},     {2.675, 2, "2.68"}, {7, 2, "7 "},       {12.3, 0, "13"},    {12.0, 0, "12 "}};
  expectRounds(cases);
}

TEST(Round, ZeroPlacesLiftsAnyFractionInTheFirstFiveDecimals) {
  const std::vector<RoundCase> cases = {{12.00001, 0, "13"},  {12.000001, 0, "12."}, {0.8, 0, "1"},
                                        {105.0 / 25, 0, "5"}, {0.04, 0, "1"},        {-12.3, 0, "-11"},
                                        {-2.5, 0, "-1"},      {99.5, 0, "100"},      {0, 0, "0 "},
                                        {50.0 / 25, 0, "2 "}, {0.00001, 0, "1"},     {0.000001, 0, "0."}};
  expectRounds(cases);
}

TEST(Round, PlacesRoundHalfUpOnTheNextDigitOfTheText) {
  const std::vector<RoundCase> cases = {{1.125, 2, "1.13"},     {1.124, 2, "1.12"},
                                        {26.6, 1, "26.6"},      {26.6 / 100, 3, "0.266"},
                                        {0.2665, 3, "0.267"},   {1.15 * 100, 2, "115 "},
                                        {0.1 + 0.2, 1, "0.3"},  {-1.256, 2, "-1.26"},
                                        {0.00005, 4, "0.0001"}, {1e15, 2, "1000000000000000 "}};
  expectRounds(cases);
}

TEST(Round, FewerDecimalsThanAskedEndWithOneBlankAndValReadsEveryResult) {
  const std::vector<RoundCase> cases = {{1.2, 3, "1.2 "}, {1.25, 3, "1.25 "}, {0.5, 4, "0.5 "}, {7, 0, "7 "}};
  expectRounds(cases);
  EXPECT_EQ(Val(roundText(7, 2)), 7);
  EXPECT_EQ(Val(roundText(1.2, 2)), 1.2);
  EXPECT_EQ(Val(roundText(12.000001, 0)), 12);
}

TEST(Round, CarriesAcrossThePointAndPastTheLeftmostDigit) {
  const std::vector<RoundCase> cases = {{19.996, 2, "20.00"}, {0.96, 1, "1.0"},      {1.0995, 3, "1.100"},
                                        {9.96, 1, "10.0"},    {99.995, 2, "100.00"}, {-9.96, 1, "-10.0"},
                                        {-0.96, 1, "-1.0"},   {-1.96, 1, "-2.0"}};
  expectRounds(cases);
  EXPECT_THROW(roundText(NAN, 2), std::exception);
}

}  // namespace
}  // namespace ms
