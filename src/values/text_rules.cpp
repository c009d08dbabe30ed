#include "values/text_rules.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <stdexcept>

#include "values/decimal_text.h"
#include "values/fault.h"

namespace ms {

namespace {

bool isSkipped(char c) { return c == ' ' || c == '\t' || c == '\n'; }
bool isDigit(char c) { return c >= '0' && c <= '9'; }

// Reads the text left to right, skipping blanks, tabs and line feeds
// wherever they stand.
class Reader {
 public:
  explicit Reader(const std::string& text) : text_(text) {}
  char peek() {
    while (pos_ < text_.size() && isSkipped(text_[pos_])) ++pos_;
    return pos_ < text_.size() ? text_[pos_] : '\0';
  }
  void take() { ++pos_; }
  std::size_t pos() const { return pos_; }
  void rewind(std::size_t pos) { pos_ = pos; }

 private:
  const std::string& text_;
  std::size_t pos_ = 0;
};

// A parsed Format pattern: zeros before the point are the least number of
// integer digits, zeros after it the number of decimals.
struct Pattern {
  std::size_t minWhole = 0;
  std::size_t decimals = 0;
};

Pattern parsePattern(const std::string& pattern) {
  Pattern p;
  std::size_t i = 0;
  while (i < pattern.size() && pattern[i] == '0') ++p.minWhole, ++i;
  if (i < pattern.size() && pattern[i] == '.') {
    ++i;
    while (i < pattern.size() && pattern[i] == '0') ++p.decimals, ++i;
    if (p.decimals == 0) i = std::string::npos;  // a bare point is not a pattern we print
  }
  if (i != pattern.size() || (p.minWhole == 0 && p.decimals == 0))
    throw std::invalid_argument("unsupported Format pattern \"" + pattern + "\"");
  return p;
}

// Adds one to a string of decimal digits ("199" -> "200", "99" -> "100").
void incrementDigits(std::string& digits) {
  for (std::size_t i = digits.size(); i-- > 0;) {
    if (digits[i] != '9') {
      ++digits[i];
      return;
    }
    digits[i] = '0';
  }
  digits.insert(digits.begin(), '1');
}

}  // namespace

double Val(const std::string& text) {
  Reader in(text);
  std::string number;
  if (in.peek() == '+' || in.peek() == '-') {
    if (in.peek() == '-') number += '-';
    in.take();
  }
  bool anyDigit = false;
  bool point = false;
  for (char c = in.peek();; c = in.peek()) {
    if (isDigit(c)) {
      number += c;
      anyDigit = true;
    } else if (c == '.' && !point) {
      number += '.';
      point = true;
    } else {
      break;
    }
    in.take();
  }
  if (!anyDigit) return 0;

  // An exponent counts only when at least one digit follows its letter.
  if (char c = in.peek(); c == 'E' || c == 'e' || c == 'D' || c == 'd') {
    std::size_t mark = in.pos();
    in.take();
    std::string exponent = "e";
    if (in.peek() == '+' || in.peek() == '-') {
      if (in.peek() == '-') exponent += '-';
      in.take();
    }
    bool expDigit = false;
    while (isDigit(in.peek())) {
      exponent += in.peek();
      expDigit = true;
      in.take();
    }
    if (expDigit)
      number += exponent;
    else
      in.rewind(mark);
  }

  double result = 0;
  const char* first = number.data();
  const char* last = number.data() + number.size();
  bool negative = *first == '-';
  if (negative) ++first;
  auto [ptr, ec] = std::from_chars(first, last, result, std::chars_format::general);
  (void)ptr;
  if (ec == std::errc::result_out_of_range) {
    // Too large or too small for a double: its infinity, or zero.
    std::string::size_type e = number.find('e');
    bool tiny = e != std::string::npos && number.compare(e, 2, "e-") == 0;
    result = tiny ? 0.0 : std::numeric_limits<double>::infinity();
  }
  return negative ? -result : result;
}

std::string format(double number, const std::string& pattern) {
  Pattern p = parsePattern(pattern);
  DecimalDigits d = decimalDigits(number);

  // All kept digits in one string, rounded half away from zero on the
  // first dropped digit of the decimal text.
  std::string fraction = d.fraction;
  if (fraction.size() <= p.decimals) fraction.resize(p.decimals + 1, '0');
  std::string kept = d.whole + fraction.substr(0, p.decimals);
  if (fraction[p.decimals] >= '5') {
    if (kept.empty()) kept = "0";
    incrementDigits(kept);
  }

  std::string whole = kept.substr(0, kept.size() - p.decimals);
  std::string decimals = kept.substr(kept.size() - p.decimals);
  std::string::size_type firstDigit = whole.find_first_not_of('0');
  whole.erase(0, firstDigit == std::string::npos ? whole.size() : firstDigit);
  if (whole.size() < p.minWhole) whole.insert(0, p.minWhole - whole.size(), '0');

  // A figure that rounds to zero has no sign (100 - 100.00000000000001 is
  // "0.0", not "-0.0").
  const bool zero = kept.find_first_not_of('0') == std::string::npos;
  std::string text = d.negative && !zero ? "-" : "";
  text += whole;
  if (p.decimals > 0) text += "." + decimals;
  return text;
}

std::string format(const std::string& text, const std::string& pattern) {
  double number = 0;
  try {
    number = strictNumber(text);
  } catch (const RunError&) {
    return text;
  }
  return format(number, pattern);
}

std::size_t charCount(const std::string& text) {
  std::size_t count = 0;
  for (unsigned char c : text)
    if ((c & 0xC0) != 0x80) ++count;
  return count;
}

std::string leftChars(const std::string& text, std::size_t n) {
  std::size_t count = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) {
      if (count == n) return text.substr(0, i);
      ++count;
    }
  }
  return text;
}

std::string midChars(const std::string& text, std::size_t start, std::size_t n) {
  if (start < 1) return "";
  const std::size_t skipped = leftChars(text, start - 1).size();
  return leftChars(text.substr(skipped), n);
}

std::string rset(const std::string& text, std::size_t width) {
  std::size_t n = charCount(text);
  if (n >= width) return leftChars(text, width);
  return std::string(width - n, ' ') + text;
}

std::string lset(const std::string& text, std::size_t width) {
  std::size_t n = charCount(text);
  if (n >= width) return leftChars(text, width);
  return text + std::string(width - n, ' ');
}

std::string trim(const std::string& text) {
  std::string::size_type first = text.find_first_not_of(' ');
  if (first == std::string::npos) return "";
  std::string::size_type last = text.find_last_not_of(' ');
  return text.substr(first, last - first + 1);
}

}  // namespace ms
