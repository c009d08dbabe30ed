#include "values/decimal_text.h"

#include <charconv>
#include <cmath>
#include <cstdlib>

#include "values/fault.h"

namespace ms {

namespace {

constexpr int kSignificant = 15;

}  // namespace

DecimalDigits decimalDigits(double value) {
  if (!std::isfinite(value)) throw RunError(Fault::Overflow, "Overflow");
  DecimalDigits out;
  if (value == 0) return out;  // also -0
  out.negative = value < 0;

  // "d.dddddddddddddde+XX": fifteen significant digits, correctly rounded.
  char buf[64];
  auto res =
      std::to_chars(buf, buf + sizeof buf, std::fabs(value), std::chars_format::scientific, kSignificant - 1);
  std::string sci(buf, res.ptr);
  std::string::size_type e = sci.find('e');
  std::string digits = sci.substr(0, 1) + sci.substr(2, e - 2);
  int exponent = std::atoi(sci.c_str() + e + 1);

  if (exponent >= 0) {
    std::string::size_type wholeLen = static_cast<std::string::size_type>(exponent) + 1;
    if (wholeLen >= digits.size()) {
      out.whole = digits + std::string(wholeLen - digits.size(), '0');
    } else {
      out.whole = digits.substr(0, wholeLen);
      out.fraction = digits.substr(wholeLen);
    }
  } else {
    out.fraction = std::string(static_cast<std::string::size_type>(-exponent - 1), '0') + digits;
  }
  std::string::size_type last = out.fraction.find_last_not_of('0');
  out.fraction.erase(last == std::string::npos ? 0 : last + 1);
  return out;
}

std::string decimalText(double value) {
  DecimalDigits d = decimalDigits(value);
  std::string text = d.negative ? "-" : "";
  text += d.whole.empty() ? "0" : d.whole;
  if (!d.fraction.empty()) text += "." + d.fraction;
  return text;
}

}  // namespace ms
