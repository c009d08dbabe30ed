// Failures that the passes rely on, and the two small rules that let a
// procedure go on after one: a failing statement is skipped, and a failing
// If test enters its first branch.
#pragma once

#include <stdexcept>
#include <string>

namespace ms {

enum class Fault {
  InvalidUseOfNull,  // a Null where a number or a text is needed
  TypeMismatch,      // a text that is not a number where a number is needed
  DivisionByZero,
  Overflow,         // a number too large for its target (a 32-bit integer, a byte)
  NoCurrentRecord,  // a field read or an edit with the cursor at EOF/BOF
  NotFound,         // a table, field or index the file does not have
  InUse,            // the database file is held by another program
  Engine,           // anything else the database engine refuses
};

class RunError : public std::runtime_error {
 public:
  RunError(Fault fault, const std::string& what) : std::runtime_error(what), fault_(fault) {}
  Fault fault() const { return fault_; }

 private:
  Fault fault_;
};

// Runs one statement; if it fails, the failure is swallowed and the caller
// goes on with its next statement. Returns whether the statement completed.
template <class Statement>
bool attempt(Statement&& statement) noexcept {
  try {
    statement();
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

// Evaluates the test of an If: a test that fails counts as true, so that
// the first branch is entered.
template <class Test>
bool test(Test&& condition) noexcept {
  try {
    return static_cast<bool>(condition());
  } catch (const std::exception&) {
    return true;
  }
}

// Division that fails as the passes expect instead of giving inf or NaN.
inline double divide(double numerator, double denominator) {
  if (denominator == 0) {
    if (numerator == 0) throw RunError(Fault::Overflow, "Overflow");
    throw RunError(Fault::DivisionByZero, "Division by zero");
  }
  return numerator / denominator;
}

}  // namespace ms
