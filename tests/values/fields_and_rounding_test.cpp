// Fixed-width fields and the rounding of values on their decimal text.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "values/rounding.h"
#include "values/text_rules.h"

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
  EXPECT_EQ(trim("  60  "), "60");
  EXPECT_EQ(trim("      "), "");
  EXPECT_EQ(trim("\tx "), "\tx");
  FixedField figure(6);  // code zero until first filled
  EXPECT_EQ(figure.str(), std::string(6, '\0'));
  figure.rset("4000");
  EXPECT_EQ(figure.str(), "  4000");
}

struct RoundCase {
  double value;
  unsigned places;
  const char* text;
};

// The worked examples first; then with no places any fraction in the first
// five decimals lifts, with places half up on the next digit of the text,
// carrying past the point; fewer decimals than asked end with one blank.
TEST(Round, WorkedExamplesFiveDecimalsForWholesHalfUpCarriesAndOneBlankForShortResults) {
  const std::vector<RoundCase> worked = {
      {1.2996, 3, "1.300"},  {1.96, 1, "2.0"},   {1.996, 2, "2.00"}, {1.256, 2, "1.26"},  {1.25, 2, "1.25"},
      {1.2, 2, "1.2 "},      {2.675, 2, "2.68"}, {7, 2, "7 "},       {12.3, 0, "13"},     {12.0, 0, "12 "},
      {12.000001, 0, "12."}, {-12.3, 0, "-11"},  {1.125, 2, "1.13"}, {19.996, 2, "20.00"}};
  const std::vector<RoundCase> wholes = {{12.00001, 0, "13"}, {0.00001, 0, "1"}, {0.000001, 0, "0."},
                                         {-2.5, 0, "-1"},     {99.5, 0, "100"},  {0, 0, "0 "},
                                         {105.0 / 25, 0, "5"}};
  const std::vector<RoundCase> places = {
      {1.124, 2, "1.12"},    {26.6 / 100, 3, "0.266"}, {0.2665, 3, "0.267"},   {1.15 * 100, 2, "115 "},
      {0.1 + 0.2, 1, "0.3"}, {-1.256, 2, "-1.26"},     {0.00005, 4, "0.0001"}, {1.25, 3, "1.25 "},
      {0.96, 1, "1.0"},      {99.995, 2, "100.00"},    {-9.96, 1, "-10.0"},    {-0.96, 1, "-1.0"}};
  for (const auto& list : {worked, wholes, places})
    for (const RoundCase& c : list)
      EXPECT_EQ(roundText(c.value, c.places), c.text) << c.value << ", " << c.places;
  EXPECT_EQ(roundText(1e15, 2), "1000000000000000 ");
  EXPECT_EQ(Val(roundText(7, 2)), 7);
  EXPECT_EQ(Val(roundText(12.000001, 0)), 12);
  EXPECT_THROW(roundText(NAN, 2), std::exception);
}

}  // namespace
}  // namespace ms
