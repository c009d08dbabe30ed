// Field values: Null, numbers and texts, and the two conversions between
// numbers and texts that the whole system relies on.
#include <gtest/gtest.h>

#include <clocale>

#include "store/fault.h"
#include "store/value.h"
#include "store_test_support.h"

namespace ms {
namespace {

using store::faultOf;

TEST(PlainText, ShortestTextWithFifteenSignificantDigits) {
  EXPECT_EQ(plainText(0.1 + 0.2), "0.3");
  EXPECT_EQ(plainText(7012345), "7012345");
  EXPECT_EQ(plainText(7 * 1000000.0 + 123 * 1000.0), "7123000");
  EXPECT_EQ(plainText(1.5), "1.5");
  EXPECT_EQ(plainText(-1.5), "-1.5");
  EXPECT_EQ(plainText(0.25), "0.25");
  EXPECT_EQ(plainText(0), "0");
  EXPECT_EQ(plainText(-0.0), "0");
  EXPECT_EQ(plainText(1.0 / 3), "0.333333333333333");
  EXPECT_EQ(plainText(2.0 / 3), "0.666666666666667");
  EXPECT_EQ(plainText(123456789012345.0), "123456789012345");
  EXPECT_EQ(plainText(99999999999999.9), "99999999999999.9");
  EXPECT_EQ(plainText(1.005 * 1000), "1005");
  EXPECT_EQ(plainText(0.0001), "0.0001");
  // Outside what the system writes, but still readable back.
  EXPECT_EQ(strictNumber(plainText(1e-5)), 1e-5);
  EXPECT_EQ(strictNumber(plainText(1e15)), 1e15);
}

TEST(PlainText, IgnoresTheLocaleOfTheProcess) {
  const char* before = std::setlocale(LC_NUMERIC, nullptr);
  std::string saved = before ? before : "C";
  if (!std::setlocale(LC_NUMERIC, "de_DE.UTF-8") && !std::setlocale(LC_NUMERIC, "fr_FR.UTF-8"))
    GTEST_SKIP() << "no locale with a decimal comma";
  EXPECT_EQ(plainText(1.5), "1.5");
  EXPECT_EQ(strictNumber("1.5"), 1.5);
  std::setlocale(LC_NUMERIC, saved.c_str());
}

TEST(StrictNumber, AcceptsOnlyAWholeNumberWithBlanksAround) {
  EXPECT_EQ(strictNumber("12"), 12);
  EXPECT_EQ(strictNumber(" 12 "), 12);
  EXPECT_EQ(strictNumber("\t12\t"), 12);
  EXPECT_EQ(strictNumber("-1.5"), -1.5);
  EXPECT_EQ(strictNumber("+2"), 2);
  EXPECT_EQ(strictNumber("1e3"), 1000);
  EXPECT_EQ(strictNumber("1E-2"), 0.01);
  EXPECT_EQ(strictNumber(".5"), 0.5);
  EXPECT_EQ(strictNumber("007"), 7);
  for (const char* bad :
       {"", " ", "abc", "12a", "1 2", "1,5", "--1", "+-1", "1e", "e3", ".", "inf", "nan", "0x10", "1.2.3"})
    EXPECT_EQ(faultOf([&] { strictNumber(bad); }), Fault::TypeMismatch) << "[" << bad << "]";
  EXPECT_EQ(faultOf([&] { strictNumber("1e999"); }), Fault::Overflow);
}

TEST(Value, ConvertsOnDemandAndNullFailsWhereAValueIsNeeded) {
  Value null;
  EXPECT_TRUE(null.isNull());
  EXPECT_EQ(faultOf([&] { null.number(); }), Fault::InvalidUseOfNull);
  EXPECT_EQ(faultOf([&] { null.text(); }), Fault::InvalidUseOfNull);
  EXPECT_EQ(null.textOrEmpty(), "");

  EXPECT_EQ(Value(" 42 ").number(), 42);
  EXPECT_EQ(faultOf([&] { Value("4x").number(); }), Fault::TypeMismatch);
  EXPECT_EQ(Value(12345).text(), "12345");
  EXPECT_EQ(Value(0.5).textOrEmpty(), "0.5");

  // A number and its text are different values; Null equals only Null.
  EXPECT_NE(Value(12), Value("12"));
  EXPECT_EQ(Value(), Value());
  EXPECT_NE(Value(), Value(""));

  EXPECT_TRUE(isY(Value("Y")));
  for (const Value& other : {Value("y"), Value("N "), Value("Y "), Value(), Value(1)})
    EXPECT_FALSE(isY(other));
}

}  // namespace
}  // namespace ms
