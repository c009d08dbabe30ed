// Value rounding on the decimal text of a number, digit by digit.
#pragma once

#include <string>

namespace ms {

// Rounds the plain text of `value` to `places` decimals and returns the
// text: with 0 places a value with any non-zero digit among its first five
// decimals goes up to the next whole number (12.3 -> "13", 12 -> "12 ",
// 12.000001 -> "12."); with d places half up on the next digit of the text
// (2.675, 2 -> "2.68"; 1.2, 2 -> "1.2 "; 1.96, 1 -> "2.0").
std::string roundText(double value, unsigned places);

}  // namespace ms
