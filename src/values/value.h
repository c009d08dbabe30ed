// The value of one field: Null, a number (double) or a text (UTF-8).
#pragma once

#include <string>
#include <variant>

namespace ms {

// The plain text of a number: shortest decimal text with at most 15
// significant digits, "." as the point, no grouping, whole numbers without
// a point, "-" for negatives (1.5 -> "1.5", 0.1 + 0.2 -> "0.3", 12 -> "12").
std::string plainText(double number);

// Strict conversion of a whole text to a number: blanks around it are
// allowed, anything else that is not part of the number fails with
// TypeMismatch (the empty text included).
double strictNumber(const std::string& text);

class Value {
 public:
  Value() = default;  // Null
  Value(double number) : v_(number) {}
  Value(int number) : v_(static_cast<double>(number)) {}
  Value(long long number) : v_(static_cast<double>(number)) {}
  Value(std::string text) : v_(std::move(text)) {}
  Value(const char* text) : v_(std::string(text)) {}

  bool isNull() const { return std::holds_alternative<std::monostate>(v_); }
  bool isNumber() const { return std::holds_alternative<double>(v_); }
  bool isText() const { return std::holds_alternative<std::string>(v_); }

  // The value as a number: a number as it is, a text through strictNumber;
  // Null fails with InvalidUseOfNull.
  double number() const;
  // The value as a text: a text as it is, a number through plainText;
  // Null fails with InvalidUseOfNull.
  std::string text() const;
  // As text(), but Null gives the empty text (joining a text and Null
  // gives the text).
  std::string textOrEmpty() const;

  // Replace the value in place; a text keeps the room it already has, so a
  // cursor that reads row after row does not allocate for each.
  void setNull() { v_ = std::monostate(); }
  void setNumber(double number) { v_ = number; }
  void setText(const char* text, std::size_t size) {
    if (auto* held = std::get_if<std::string>(&v_))
      held->assign(text, size);
    else
      v_ = std::string(text, size);
  }

  bool operator==(const Value& other) const = default;

 private:
  std::variant<std::monostate, double, std::string> v_;
};

// Whether a value is a text equal to `text`, exactly and case-sensitively;
// a Null or a number equals no text.
inline bool isText(const Value& value, const std::string& text) {
  return value.isText() && value.textOrEmpty() == text;
}

// Only "Y" sets a flag; Null, "y", "N " and anything else do not.
inline bool isY(const Value& flag) { return isText(flag, "Y"); }

}  // namespace ms
