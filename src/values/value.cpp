#include "values/value.h"

#include <cctype>
#include <charconv>
#include <cmath>
#include <string_view>
#include <system_error>

#include "values/fault.h"

namespace ms {

std::string plainText(double number) {
  if (std::isnan(number)) return "NaN";
  if (std::isinf(number)) return number < 0 ? "-Inf" : "Inf";
  if (number == 0) return "0";  // also -0

  // Fifteen significant digits, trailing zeros dropped: the shortest text that
  // gives back the number to that precision. Independent of the C locale.
  char buffer[64];
  auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, number, std::chars_format::general, 15);
  if (ec != std::errc()) return "0";
  std::string text(buffer, end);

  // Very large and very small magnitudes come in exponent form ("1e+15");
  // write it the way the reports show exponents: "1E+15", "1E-05".
  auto e = text.find('e');
  if (e != std::string::npos) {
    std::string mantissa = text.substr(0, e);
    char sign = text[e + 1];
    std::string digits = text.substr(e + 2);
    while (digits.size() < 2) digits.insert(digits.begin(), '0');
    text = mantissa + "E" + sign + digits;
  }
  return text;
}

double strictNumber(const std::string& text) {
  auto isBlank = [](char c) { return c == ' ' || c == '\t'; };
  std::size_t first = 0, last = text.size();
  while (first < last && isBlank(text[first])) ++first;
  while (last > first && isBlank(text[last - 1])) --last;

  const char* begin = text.data() + first;
  const char* end = text.data() + last;
  bool negative = false;
  if (begin < end && (*begin == '+' || *begin == '-')) {
    negative = *begin == '-';
    ++begin;
  }
  // Only digits, a point and an exponent make a number here: no second sign,
  // no "inf"/"nan", no hexadecimal.
  if (begin == end || !(std::isdigit(static_cast<unsigned char>(*begin)) || *begin == '.'))
    throw RunError(Fault::TypeMismatch, "Type mismatch");

  double value = 0;
  auto [ptr, ec] = std::from_chars(begin, end, value, std::chars_format::general);
  if (ec == std::errc::result_out_of_range) {
    // A negative exponent underflows to zero; anything else is a number too
    // large for a double.
    std::string_view rest(begin, static_cast<std::size_t>(end - begin));
    auto e = rest.find_first_of("eE");
    if (e != std::string_view::npos && e + 1 < rest.size() && rest[e + 1] == '-') return 0;
    throw RunError(Fault::Overflow, "Overflow");
  }
  if (ec != std::errc() || ptr != end) throw RunError(Fault::TypeMismatch, "Type mismatch");
  return negative ? -value : value;
}

double Value::number() const {
  if (auto n = std::get_if<double>(&v_)) return *n;
  if (auto t = std::get_if<std::string>(&v_)) return strictNumber(*t);
  throw RunError(Fault::InvalidUseOfNull, "Invalid use of Null");
}

std::string Value::text() const {
  if (auto t = std::get_if<std::string>(&v_)) return *t;
  if (auto n = std::get_if<double>(&v_)) return plainText(*n);
  throw RunError(Fault::InvalidUseOfNull, "Invalid use of Null");
}

std::string Value::textOrEmpty() const {
  if (isNull()) return std::string();
  return text();
}

}  // namespace ms
