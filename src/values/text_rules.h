// The system's own text and number rules: Val, Format with the patterns the
// reports use, and fixed-width fields. Texts are UTF-8; widths and positions
// count characters, not bytes.
#pragma once

#include <cstddef>
#include <string>

#include "values/value.h"

namespace ms {

// The number that a text begins with: blanks, tabs and line feeds are
// skipped wherever they occur, "." is the point, an optional sign and
// exponent; reading stops at the first other character; no number gives 0.
// Never fails.
double Val(const std::string& text);

// Format with one of the patterns "0.00", "0.0", ".0", ".00", ".000", "00":
// rounded to the pattern's decimals, halves away from zero; a pattern
// without a leading "0" before its point prints no integer digit below 1
// (.5, .25); "00" gives at least two integer digits.
std::string format(double number, const std::string& pattern);
// Format applied to a text: a text that reads as a number is formatted as
// that number; any other text comes back as it is.
std::string format(const std::string& text, const std::string& pattern);

// Number of characters of a UTF-8 text.
std::size_t charCount(const std::string& text);
// The first n characters of a UTF-8 text (all of it when shorter).
std::string leftChars(const std::string& text, std::size_t n);
// At most n characters of a UTF-8 text from character `start` (counted from
// 1); the empty text when the text ends before `start`.
std::string midChars(const std::string& text, std::size_t start, std::size_t n);

// A text placed in a field of `width` characters: right-aligned (RSet) or
// left-aligned (LSet), blank-padded; a longer text keeps its leftmost
// characters.
std::string rset(const std::string& text, std::size_t width);
std::string lset(const std::string& text, std::size_t width);

// A fixed-width text variable: holds `width` characters of code zero until
// it is first filled, and keeps its content when a later fill fails.
class FixedField {
 public:
  explicit FixedField(std::size_t width) : width_(width), text_(width, '\0') {}
  void rset(const std::string& text) { text_ = ms::rset(text, width_); }
  void lset(const std::string& text) { text_ = ms::lset(text, width_); }
  const std::string& str() const { return text_; }
  std::size_t width() const { return width_; }

 private:
  std::size_t width_;
  std::string text_;
};

// Blanks removed at both ends (spaces only).
std::string trim(const std::string& text);

}  // namespace ms
