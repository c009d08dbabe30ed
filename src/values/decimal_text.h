// The decimal digits of a number as the system reads them: the value rounded
// to 15 significant digits, written out without an exponent. Format and the
// rounding procedure both work on these digits rather than on the binary
// value, so that 2.675 is two point six seven five and not a hair below it.
#pragma once

#include <string>

namespace ms {

struct DecimalDigits {
  bool negative = false;
  std::string whole;     // digits before the point, no leading zeros ("" below 1)
  std::string fraction;  // digits after the point, no trailing zeros
};

// Fails with Fault::Overflow for an infinite or NaN value.
DecimalDigits decimalDigits(double value);

// The digits as one text: "-" for negatives, "0" before the point below 1,
// no point for whole numbers (12 -> "12", 0.25 -> "0.25", 1e-5 -> "0.00001").
std::string decimalText(double value);

}  // namespace ms
