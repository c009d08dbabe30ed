// Values: Val, the decimal and plain texts of a number, Format with the
// report patterns, fixed-width fields and rounding on the decimal text.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <stdexcept>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "values/decimal_text.h"
#include "values/fault_log.h"
#include "values/rounding.h"
#include "values/text_rules.h"
#include "values/value.h"

namespace ms {
namespace {

// A failing statement is skipped either way; only an odd value in the data
// is skipped silently, a fault or a programming error is recorded.
TEST(Skipping, OddValuesGoSilentlyFaultsAndProgrammingErrorsAreRecorded) {
  const std::pair<std::function<void()>, int> statements[] = {
      {[] { throw RunError(Fault::TypeMismatch, "Type mismatch"); }, 0},
      {[] { throw RunError(Fault::Io, "No space left on device"); }, 1},
      {[] { throw std::invalid_argument("unsupported pattern"); }, 1},
      {[] { (void)std::string("ab").substr(3); }, 1},
  };
  for (const auto& [statement, recorded] : statements) {
    FaultLog log;
    FaultScope scope(log);
    EXPECT_FALSE(attempt(statement));
    EXPECT_TRUE(test([&] { return (statement(), false); }));  // a failing test enters its branch
    EXPECT_EQ(log.entries().size(), static_cast<std::size_t>(recorded)) << log.report();
    EXPECT_TRUE(!recorded || log.entries()[0].count == 2);
  }
}

TEST(Val, ReadsTheNumberATextBeginsWithAndNeverFails) {
  // Blanks, tabs and line feeds are skipped anywhere; a carriage return is not.
  const std::vector<std::pair<std::string, double>> cases = {
      {"3    ", 3},  {" ", 0},     {"", 0},        {"1.2 ", 1.2},  {"12.", 12},       {" -12.5", -12.5},
      {"+7", 7},     {".5", 0.5},  {"-", 0},       {".", 0},       {"1.2.3", 1.2},    {"12abc", 12},
      {"abc", 0},    {"1,000", 1}, {"1e", 1},      {"3d2", 300},   {"2.5E-1", 0.25},  {"12 Dover", 12},
      {"1e-999", 0}, {"0.1", 0.1}, {"1 2 3", 123}, {"\t4\n5", 45}, {"- 1 . 5", -1.5}, {"1 e 2", 100},
      {"\r5", 0},    {"5\r6", 5}};
  for (const auto& [text, number] : cases) EXPECT_EQ(Val(text), number) << '"' << text << '"';
  EXPECT_TRUE(std::isinf(Val("1e999")) && std::isinf(Val(std::string(400, '9'))));
}

// The decimal text of a number, and the plain text of a number stored in a
// text field: fifteen significant digits and no exponent.
TEST(PlainText, FifteenSignificantDigitsWithoutExponentAsTheStoreWritesThem) {
  std::vector<std::pair<double, std::string>> cases = {
      {1.5, "1.5"},          {0.25, "0.25"},         {12, "12"},
      {0.1 + 0.2, "0.3"},    {-12.5, "-12.5"},       {0, "0"},
      {-0.0, "0"},           {2.675, "2.675"},       {1.15 * 100, "115"},
      {0.0001, "0.0001"},    {7012345.0, "7012345"}, {26.6, "26.6"},
      {99999.99, "99999.99"}};
  cases.insert(cases.end(), {{-0.000123, "-0.000123"},
                             {1.0 / 3, "0.333333333333333"},
                             {2.0 / 3, "0.666666666666667"},
                             {123456789012345.0, "123456789012345"}});
  for (const auto& [number, text] : cases) {
    EXPECT_EQ(decimalText(number), text) << number;
    EXPECT_EQ(plainText(number), text) << number;
  }
  EXPECT_EQ(decimalText(123456789012345678.0), "123456789012346000");
  EXPECT_EQ(decimalText(1e-5), "0.00001");
  EXPECT_EQ(strictNumber(plainText(1e-5)), 1e-5);  // read back as the same number
  EXPECT_EQ(strictNumber(plainText(1e15)), 1e15);
}

// Worked examples, then values whose binary form lies just below the decimal
// text, carries into a new integer digit, region ranks and values that round
// to zero (without a sign); then texts.
TEST(Format, PatternsRoundHalfAwayFromZeroOnTheDecimalTextAndTextsThatReadAsNumbers) {
  const std::vector<std::tuple<double, const char*, const char*>> cases = {
      {0, "0.0", "0.0"},        {12.46, "0.0", "12.5"},    {0.5, ".0", ".5"},
      {0, ".0", ".0"},          {45.66, ".0", "45.7"},     {0.25, ".00", ".25"},
      {12.5, ".00", "12.50"},   {0.266, ".000", ".266"},   {75, "0.0", "75.0"},
      {100, ".0", "100.0"},     {100.0 / 3, ".0", "33.3"}, {1.0 / 3, ".0", ".3"},
      {-12.5, ".00", "-12.50"}, {-0.5, ".0", "-.5"},       {1234567.89, ".00", "1234567.89"},
      {37.5, "0.00", "37.50"},  {0, "0.00", "0.00"},       {2.675, ".00", "2.68"},
      {1.005, "0.00", "1.01"},  {12.45, "0.0", "12.5"},    {-2.675, ".00", "-2.68"},
      {0.96, ".0", "1.0"},      {99.95, "0.0", "100.0"},   {0.999, ".00", "1.00"},
      {0.04, ".0", ".0"},       {0.05, ".0", ".1"},        {5, "00", "05"},
      {12, "00", "12"},         {123, "00", "123"},        {4.5, "00", "05"},
      {0, "00", "00"},          {-0.04, ".0", ".0"},       {-0.004, "0.00", "0.00"}};
  for (const auto& [number, pattern, text] : cases)
    EXPECT_EQ(format(number, pattern), text) << number << " as " << pattern;
  EXPECT_EQ(format(100 - 100.00000000000001, "0.0"), "0.0");
  EXPECT_THROW(format(1.0, "#,##0"), std::invalid_argument);
  // A text that reads as a number is formatted, other text comes back as it is.
  const std::vector<std::pair<std::string, std::string>> texts = {
      {"1.2 ", "1.20"}, {"12.", "12.00"},   {"7 ", "7.00"}, {"-12.5", "-12.50"},
      {"abc", "abc"},   {"12abc", "12abc"}, {"", ""}};
  for (const auto& [text, formatted] : texts) EXPECT_EQ(format(text, ".00"), formatted) << '"' << text << '"';
  EXPECT_EQ(format(std::string("0.266"), ".000"), ".266");
}

TEST(FixedWidth, AlignsPadsAndKeepsTheLeftmostCharactersCountingCharactersNotBytes) {
  EXPECT_EQ((std::vector<std::string>{rset("4000", 6), lset("12", 6), lset("M2 120", 6), rset("1234567", 6),
                                      lset("1234567", 6), rset("123456789.9", 10), rset("", 3), rset("£5", 4),
                                      lset("Société Générale", 7), lset("é€x", 2)}),
            (std::vector<std::string>{"  4000", "12    ", "M2 120", "123456", "123456", "123456789.", "   ",
                                      "  £5", "Société", "é€"}));
  EXPECT_EQ((std::vector<std::string>{trim("  60  "), trim("      "), trim("\tx ")}),
            (std::vector<std::string>{"60", "", "\tx"}));
  FixedField figure(6);  // code zero until first filled
  const std::string unfilled = figure.str();
  figure.rset("4000");
  EXPECT_EQ(std::tuple(unfilled, figure.str()), std::tuple(std::string(6, '\0'), std::string("  4000")));
}

using RoundCase = std::tuple<double, unsigned, const char*>;  // value, decimal places, text

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
    for (const auto& [value, decimals, text] : list)
      EXPECT_EQ(roundText(value, decimals), text) << value << ", " << decimals;
  EXPECT_EQ(roundText(1e15, 2), "1000000000000000 ");
  EXPECT_THROW(roundText(NAN, 2), std::exception);
}

}  // namespace
}  // namespace ms
