// Field values: Null, numbers and texts, and the two conversions between
// numbers and texts that the whole system relies on.
#include <gtest/gtest.h>

#include "store/value.h"
#include "store_test_support.h"

namespace ms {
namespace {

using store::faultOf;

TEST(ValueText, PlainTextIsShortestWithFifteenSignificantDigits) {
  EXPECT_EQ(plainText(0.1 + 0.2), "0.3");
  EXPECT_EQ(plainText(7 * 1000000.0 + 12345), "7012345");
  EXPECT_EQ(plainText(-1.5), "-1.5");
  EXPECT_EQ(plainText(-0.0), "0");
  EXPECT_EQ(plainText(2.0 / 3), "0.666666666666667");
  EXPECT_EQ(plainText(123456789012345.0), "123456789012345");
  EXPECT_EQ(plainText(0.0001), "0.0001");
  // Outside what the system writes, but still read back as the same number.
  EXPECT_EQ(strictNumber(plainText(1e-5)), 1e-5);
  EXPECT_EQ(strictNumber(plainText(1e15)), 1e15);
}

TEST(ValueText, StrictNumberTakesOnlyAWholeNumberWithBlanksAround) {
  EXPECT_EQ(strictNumber(" 12 "), 12);
  EXPECT_EQ(strictNumber("\t-1.5"), -1.5);
  EXPECT_EQ(strictNumber("+2"), 2);
  EXPECT_EQ(strictNumber("1e3"), 1000);
  EXPECT_EQ(strictNumber(".5"), 0.5);
  for (const char* bad : {"", " ", "abc", "12a", "1 2", "1,5", "--1", "1e", ".", "inf", "nan", "0x10"})
    EXPECT_EQ(faultOf([&] { strictNumber(bad); }), Fault::TypeMismatch) << "[" << bad << "]";
  EXPECT_EQ(faultOf([&] { strictNumber("1e999"); }), Fault::Overflow);
}

TEST(ValueText, NullFailsWhereAValueIsNeededAndOnlyYSetsAFlag) {
  EXPECT_EQ(faultOf([] { Value().number(); }), Fault::InvalidUseOfNull);
  EXPECT_EQ(faultOf([] { Value().text(); }), Fault::InvalidUseOfNull);
  EXPECT_EQ(Value().textOrEmpty(), "");
  EXPECT_EQ(Value(" 42 ").number(), 42);
  EXPECT_EQ(faultOf([] { Value("4x").number(); }), Fault::TypeMismatch);
  EXPECT_EQ(Value(12345).text(), "12345");
  EXPECT_NE(Value(12), Value("12"));
  EXPECT_NE(Value(), Value(""));
  EXPECT_TRUE(isY(Value("Y")));
  for (const Value& other : {Value("y"), Value("N "), Value("Y "), Value(), Value(1)})
    EXPECT_FALSE(isY(other));
}

}  // namespace
}  // namespace ms
