// Val, the plain decimal text of a number, and Format with the report
// patterns.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <utility>
#include <vector>

#include "reports/common/decimal_text.h"
#include "reports/common/text_rules.h"
#include "store/fault.h"
#include "store/value.h"

namespace ms {
namespace {

TEST(Val, ReadsTheNumberATextBeginsWith) {
  const std::vector<std::pair<std::string, double>> cases = {
      {"3    ", 3},      {" ", 0},     {"", 0},        {"1.2 ", 1.2},    {"12.", 12},
      {" -12.5", -12.5}, {"+7", 7},    {".5", 0.5},    {"-.5", -0.5},    {"1.2.3", 1.2},
      {"12abc", 12},     {"abc", 0},   {"-", 0},       {".", 0},         {"1,000", 1},
      {"4000", 4000},    {"0.1", 0.1}, {"2.5e2", 250}, {"2.5E-1", 0.25}, {"1e", 1},
      {"12 Dover", 12},  {"3d2", 300}, {"007", 7},     {"13", 13},       {"-11", -11},
  };
  for (const auto& [text, number] : cases) EXPECT_EQ(Val(text), number) << '"' << text << '"';
}

TEST(Val, SkipsBlanksTabsAndLineFeedsAnywhereButStopsAtOtherCharacters) {
  EXPECT_EQ(Val("1 2 3"), 123);
  EXPECT_EQ(Val("\t4\n5"), 45);
  EXPECT_EQ(Val("- 1 . 5"), -1.5);
  EXPECT_EQ(Val("1 e 2"), 100);
  EXPECT_EQ(Val("\r5"), 0);  // a carriage return is not skipped
  EXPECT_EQ(Val("5\r6"), 5);
}

TEST(Val, NeverFailsOnNumbersOutOfRange) {
  EXPECT_TRUE(std::isinf(Val("1e999")));
  EXPECT_LT(Val("-1e999"), 0);
  EXPECT_EQ(Val("1e-999"), 0);
  EXPECT_TRUE(std::isinf(Val(std::string(400, '9'))));
  EXPECT_EQ(Val(std::string(20, '9')), 1e20);
}

TEST(PlainText, FifteenSignificantDigitsWithoutExponent) {
  const std::vector<std::pair<double, std::string>> cases = {
      {1.5, "1.5"},
      {0.25, "0.25"},
      {12, "12"},
      {0.1 + 0.2, "0.3"},
      {-12.5, "-12.5"},
      {0, "0"},
      {-0.0, "0"},
      {2.675, "2.675"},
      {1.15 * 100, "115"},
      {1.0 / 3, "0.333333333333333"},
      {2.0 / 3, "0.666666666666667"},
      {123456789012345678.0, "123456789012346000"},
      {1e15, "1000000000000000"},
      {1e-5, "0.00001"},
      {-0.000123, "-0.000123"},
  };
  for (const auto& [number, text] : cases) EXPECT_EQ(decimalText(number), text) << number;
}

TEST(PlainText, AgreesWithTheStoresPlainTextForOrdinaryValues) {
  for (double v : {1.5, 0.25, 12.0, 0.1 + 0.2, -12.5, 2.675, 1.0 / 3, 105.0 / 25, 26.6, 0.266, 99999.99})
    EXPECT_EQ(decimalText(v), plainText(v)) << v;
}

TEST(PlainText, InfiniteValuesOverflow) {
  try {
    decimalText(INFINITY);
    FAIL() << "no failure";
  } catch (const RunError& e) {
    EXPECT_EQ(e.fault(), Fault::Overflow);
  }
}

struct FormatCase {
  double number;
  const char* pattern;
  const char* text;
};

TEST(Format, PatternsRoundHalfAwayFromZeroOnTheDecimalText) {
  const std::vector<FormatCase> cases = {
      // Worked examples of the reports.
      {0, "0.0", "0.0"},
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
      // The decimal text decides, not the binary value just below it.
      {2.675, ".00", "2.68"},
      {1.005, "0.00", "1.01"},
      {12.45, "0.0", "12.5"},
      {-2.675, ".00", "-2.68"},
      // Carries into a new integer digit.
      {0.96, ".0", "1.0"},
      {99.95, "0.0", "100.0"},
      {0.999, ".00", "1.00"},
      {0.04, ".0", ".0"},
      {0.05, ".0", ".1"},
      // Percentage figure and region ranks.
      {37.5, "0.00", "37.50"},
      {0, "0.00", "0.00"},
      {5, "00", "05"},
      {12, "00", "12"},
      {123, "00", "123"},
      {4.5, "00", "05"},
      {0, "00", "00"},
  };
  for (const FormatCase& c : cases)
    EXPECT_EQ(format(c.number, c.pattern), c.text) << c.number << " as " << c.pattern;
}

TEST(Format, TextThatReadsAsANumberIsFormattedOtherTextComesBackUnchanged) {
  EXPECT_EQ(format(std::string("1.2 "), ".00"), "1.20");
  EXPECT_EQ(format(std::string("12."), ".00"), "12.00");
  EXPECT_EQ(format(std::string("7 "), ".00"), "7.00");
  EXPECT_EQ(format(std::string("0.266"), ".000"), ".266");
  EXPECT_EQ(format(std::string("-12.5"), ".00"), "-12.50");
  EXPECT_EQ(format(std::string("abc"), ".00"), "abc");
  EXPECT_EQ(format(std::string("12abc"), ".00"), "12abc");
  EXPECT_EQ(format(std::string(""), ".00"), "");
}

TEST(Format, UnknownPatternIsRefused) {
  EXPECT_THROW(format(1.0, "#,##0"), std::invalid_argument);
  EXPECT_THROW(format(1.0, ""), std::invalid_argument);
}

}  // namespace
}  // namespace ms
