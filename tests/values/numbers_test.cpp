// Val, the plain decimal text of a number, and Format with the report
// patterns.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <utility>
#include <vector>

#include "values/decimal_text.h"
#include "values/text_rules.h"
#include "values/value.h"

namespace ms {
namespace {

TEST(Val, ReadsTheNumberATextBeginsWithAndNeverFails) {
  // Blanks, tabs and line feeds are skipped anywhere; a carriage return is not.
  const std::vector<std::pair<std::string, double>> cases = {
      {"3    ", 3},  {" ", 0},     {"", 0},        {"1.2 ", 1.2},  {"12.", 12},       {" -12.5", -12.5},
      {"+7", 7},     {".5", 0.5},  {"-", 0},       {".", 0},       {"1.2.3", 1.2},    {"12abc", 12},
      {"abc", 0},    {"1,000", 1}, {"1e", 1},      {"3d2", 300},   {"2.5E-1", 0.25},  {"12 Dover", 12},
      {"1e-999", 0}, {"0.1", 0.1}, {"1 2 3", 123}, {"\t4\n5", 45}, {"- 1 . 5", -1.5}, {"1 e 2", 100},
      {"\r5", 0},    {"5\r6", 5}};
  for (const auto& [text, number] : cases) EXPECT_EQ(Val(text), number) << '"' << text << '"';
  EXPECT_TRUE(std::isinf(Val("1e999")));
  EXPECT_TRUE(std::isinf(Val(std::string(400, '9'))));
}

TEST(PlainText, FifteenSignificantDigitsWithoutExponentAsTheStoreWritesThem) {
  const std::vector<std::pair<double, std::string>> cases = {
      {1.5, "1.5"},       {0.25, "0.25"},          {12, "12"},
      {0.1 + 0.2, "0.3"}, {-12.5, "-12.5"},        {0, "0"},
      {-0.0, "0"},        {2.675, "2.675"},        {1.15 * 100, "115"},
      {1e-5, "0.00001"},  {-0.000123, "-0.000123"}};
  EXPECT_EQ(decimalText(1.0 / 3), "0.333333333333333");
  EXPECT_EQ(decimalText(2.0 / 3), "0.666666666666667");
  EXPECT_EQ(decimalText(123456789012345678.0), "123456789012346000");
  for (const auto& [number, text] : cases) EXPECT_EQ(decimalText(number), text) << number;
  for (double v : {1.5, 0.25, 12.0, 0.1 + 0.2, -12.5, 2.675, 1.0 / 3, 105.0 / 25, 26.6, 0.266, 99999.99})
    EXPECT_EQ(decimalText(v), plainText(v)) << v;
}

// Worked examples, then values whose binary form lies just below the decimal
// text, carries into a new integer digit and region ranks; then texts.
TEST(Format, PatternsRoundHalfAwayFromZeroOnTheDecimalTextAndTextsThatReadAsNumbers) {
  struct Case {
    double number;
    const char* pattern;
    const char* text;
  };
  const std::vector<Case> cases = {{0, "0.0", "0.0"},
                                   {12.46, "0.0", "12.5"},
                                   {0.5, ".0", ".5"},
                                   {0, ".0", ".0"},
                                   {45.66, ".0", "45.7"},
                                   {0.25, ".00", ".25"},
                                   {12.5, ".00", "12.50"},
                                   {0.266, ".000", ".266"},
                                   {75, "0.0", "75.0"},
                                   {100, ".0", "100.0"},
                                   {100.0 / 3, ".0", "33.3"},
                                   {1.0 / 3, ".0", ".3"},
                                   {-12.5, ".00", "-12.50"},
                                   {-0.5, ".0", "-.5"},
                                   {1234567.89, ".00", "1234567.89"},
                                   {37.5, "0.00", "37.50"},
                                   {0, "0.00", "0.00"},
                                   {2.675, ".00", "2.68"},
                                   {1.005, "0.00", "1.01"},
                                   {12.45, "0.0", "12.5"},
                                   {-2.675, ".00", "-2.68"},
                                   {0.96, ".0", "1.0"},
                                   {99.95, "0.0", "100.0"},
                                   {0.999, ".00", "1.00"},
                                   {0.04, ".0", ".0"},
                                   {0.05, ".0", ".1"},
                                   {5, "00", "05"},
                                   {12, "00", "12"},
                                   {123, "00", "123"},
                                   {4.5, "00", "05"},
                                   {0, "00", "00"},
                                   {100 - 100.00000000000001, "0.0", "0.0"},  // rounds to zero: no sign
                                   {-0.04, ".0", ".0"},
                                   {-0.004, "0.00", "0.00"}};
  for (const Case& c : cases)
    EXPECT_EQ(format(c.number, c.pattern), c.text) << c.number << " as " << c.pattern;
  EXPECT_THROW(format(1.0, "#,##0"), std::invalid_argument);
  // A text that reads as a number is formatted, other text comes back as it is.
  const std::vector<std::pair<std::string, std::string>> texts = {
      {"1.2 ", "1.20"}, {"12.", "12.00"},   {"7 ", "7.00"}, {"-12.5", "-12.50"},
      {"abc", "abc"},   {"12abc", "12abc"}, {"", ""}};
  for (const auto& [text, formatted] : texts) EXPECT_EQ(format(text, ".00"), formatted) << '"' << text << '"';
  EXPECT_EQ(format(std::string("0.266"), ".000"), ".266");
}

}  // namespace
}  // namespace ms
