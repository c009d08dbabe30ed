#include "values/rounding.h"

#include "values/decimal_text.h"
#include "values/text_rules.h"

namespace ms {

namespace {

// The decimal text read by position, counting from 1; past its end it reads
// as a blank.
class Positions {
 public:
  explicit Positions(std::string text) : text_(std::move(text)) {}
  char at(std::size_t pos) const { return pos >= 1 && pos <= text_.size() ? text_[pos - 1] : ' '; }
  std::string mid(std::size_t pos, std::size_t n) const {
    std::string out;
    for (std::size_t i = 0; i < n; ++i) out += at(pos + i);
    return out;
  }

 private:
  std::string text_;
};

// Carries one into the digits left of `pos` (1-based, in both texts), the
// kept text already holding them. A carry past the leftmost digit puts a
// new leading "1" after the sign (9.96 -> 10.0, -99.96 -> -100.0).
void carry(const Positions& t, std::size_t pos, std::string& out) {
  for (std::size_t q = pos;; --q) {
    if (q == 0 || t.at(q) == '-') {
      // position q is the sign or nothing: the new digit goes right after it
      out.insert(out.begin() + static_cast<std::ptrdiff_t>(q), '1');
      return;
    }
    char c = t.at(q);
    if (c == '.') continue;
    if (c == '9') {
      out[q - 1] = '0';
      continue;
    }
    out[q - 1] = static_cast<char>(c + 1);
    return;
  }
}

}  // namespace

std::string roundText(double value, unsigned places) {
  const Positions t(decimalText(value));
  std::string out;

  // The whole part, up to the point; a text without a point comes back
  // whole, followed by one blank.
  std::size_t pos = 1;
  for (;; ++pos) {
    char c = t.at(pos);
    if (c == '.') break;
    out += c;
    if (c == ' ') return out;
  }
  out += '.';
  const std::size_t p = pos + 1;  // first decimal

  if (places == 0) {
    // Any non-zero digit among the first five decimals lifts the value to
    // the next whole number above its whole part (toward zero, with sign).
    if (Val(t.mid(p, 5)) > 0) return decimalText(Val(out) + 1);
    return out;
  }

  for (unsigned k = 1; k <= places; ++k) {
    char c = t.at(p + k - 1);
    if (k < places) {
      out += c;
      if (c == ' ') return out;
      continue;
    }
    double next = Val(std::string(1, t.at(p + places)));
    if (next < 5) {
      out += c;
    } else if (c != '9') {
      out += static_cast<char>(c + 1);
    } else {
      carry(t, p + places - 2, out);
      out += '0';
    }
  }
  return out;
}

}  // namespace ms
