// Failures that the passes rely on, and the two small rules that let a
// procedure go on after one: a failing statement is skipped, and a failing
// If test enters its first branch.
//
// Two kinds of failure pass through those rules. Odd values in the data (a
// Null, a text that is not a number, a record that is not there) are what
// the rules were made for: they are skipped and nothing is said. Faults of
// the machine or of the database's structure (an I/O error, a full disk, a
// busy, damaged or read-only database, a table the run needs and does not
// find) are skipped as well, so that the run still does what it can, but
// they are recorded in the run's FaultLog, which the run reports at its end.
#pragma once

#include <stdexcept>
#include <string>

namespace ms {

enum class Fault {
  // Odd values in the data: skipped silently.
  InvalidUseOfNull,  // a Null where a number or a text is needed
  TypeMismatch,      // a text that is not a number where a number is needed
  DivisionByZero,
  Overflow,         // a number too large for its target (a 32-bit integer, a byte)
  NoCurrentRecord,  // a field read or an edit with the cursor at EOF/BOF
  Engine,           // anything else the database engine refuses (a duplicate key, say)
  Interrupted,      // a wait for the database that the run gave up (Cancel): the run ends as cancelled
  // Faults of the machine or of the database's structure, and the program's own: recorded.
  NotFound,  // a file, table, field or index that the run needs and does not find
  InUse,     // the database file is held by another program
  Busy,      // another program held the database past the wait
  Io,        // a read or write error, a full disk, a file that cannot be created, written or closed
  Damaged,   // a database that is damaged, or a file that is not a database
  ReadOnly,  // a database or a file that may not be written
  Stalled,   // a walk over a table that could not move on to its next record
  Program,   // a programming error (a std::logic_error) met inside a skipped statement
};

// Whether a failure is a fault of the machine or of the database's
// structure, which the run records and reports, rather than an odd value.
bool isRecorded(Fault fault);

class RunError : public std::runtime_error {
 public:
  // `where` names the table, field or file at fault, when there is one.
  RunError(Fault fault, const std::string& what, std::string where = {})
      : std::runtime_error(what), fault_(fault), where_(std::move(where)) {}
  Fault fault() const { return fault_; }
  const std::string& where() const { return where_; }

 private:
  Fault fault_;
  std::string where_;
};

// Called with every failure that attempt() and test() skip: writes it to
// standard error when MAILSORT_TRACE=1, and records the faults that must be
// reported in the active FaultLog.
void noteSkipped(const std::exception& failure) noexcept;

// Runs one statement; if it fails, the failure is swallowed and the caller
// goes on with its next statement. Returns whether the statement completed.
template <class Statement>
bool attempt(Statement&& statement) noexcept {
  try {
    statement();
    return true;
  } catch (const std::exception& failure) {
    noteSkipped(failure);
    return false;
  }
}

// Evaluates the test of an If: a test that fails counts as true, so that
// the first branch is entered.
template <class Test>
bool test(Test&& condition) noexcept {
  try {
    return static_cast<bool>(condition());
  } catch (const std::exception& failure) {
    noteSkipped(failure);
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
