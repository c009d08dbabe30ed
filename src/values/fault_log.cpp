#include "values/fault_log.h"

#include <cstdio>
#include <cstdlib>
#include <new>
#include <stdexcept>

namespace ms {

namespace {

FaultLog* activeLog = nullptr;
const char* placeStep = "the run";
double placeRecord = 0;

bool tracing() {
  static const bool on = [] {
    const char* value = std::getenv("MAILSORT_TRACE");
    return value && std::string(value) == "1";
  }();
  return on;
}

std::string currentPlace() {
  if (placeRecord <= 0) return placeStep;
  char number[32];
  std::snprintf(number, sizeof number, "%.0f", placeRecord);
  return std::string("record ") + number + " of " + placeStep;
}

std::string describe(const std::string& what, const std::string& where) {
  return where.empty() || what.find(where) != std::string::npos ? what : where + ": " + what;
}

}  // namespace

std::string describeFailure(const std::exception& failure) {
  const auto* error = dynamic_cast<const RunError*>(&failure);
  return describe(failure.what(), error ? error->where() : std::string());
}

bool isRecorded(Fault fault) {
  switch (fault) {
    case Fault::InvalidUseOfNull:
    case Fault::TypeMismatch:
    case Fault::DivisionByZero:
    case Fault::Overflow:
    case Fault::NoCurrentRecord:
    case Fault::Engine:
    case Fault::Interrupted:
      return false;
    case Fault::NotFound:
    case Fault::InUse:
    case Fault::Busy:
    case Fault::Io:
    case Fault::Damaged:
    case Fault::ReadOnly:
    case Fault::Stalled:
    case Fault::Program:
      return true;
  }
  return true;
}

void FaultLog::record(const RunError& error) {
  for (Entry& entry : entries_) {
    if (entry.fault == error.fault() && entry.what == error.what() && entry.where == error.where()) {
      ++entry.count;
      return;
    }
  }
  entries_.push_back({error.fault(), error.what(), error.where(), 1, currentPlace()});
}

std::string FaultLog::report(Kept kept) const {
  std::string text;
  switch (kept) {
    case Kept::Published:
      text =
          "The run is incomplete: its work is saved and its files are in place, but it met faults of the "
          "machine in putting them in place or printing them. Check the files and the printer named below.\n";
      break;
    case Kept::Undecided:
      text =
          "The run is incomplete: the database was lost while it saved the run's work, so it cannot be told "
          "yet whether the work was saved. Nothing was printed. Start the program again when the database "
          "answers: it then puts this run's files in place if its work was saved, or clears them if not.\n";
      break;
    case Kept::Nothing:
      text =
          "The run is incomplete: it met faults of the machine or of the database, so it changed nothing: "
          "the work table, the bags table and the Post Office files are as they were, and nothing was "
          "printed. Put the fault right and run the job again.\n";
      break;
  }
  for (const Entry& entry : entries_) {
    text += "\n- " + describe(entry.what, entry.where) + " (" + std::to_string(entry.count) +
            (entry.count == 1 ? " time, at " : " times, first at ") + entry.firstAt + ")";
  }
  return text;
}

FaultScope::FaultScope(FaultLog& log) : previous_(activeLog) {
  activeLog = &log;
  setFaultPlace("the run", 0);
}

FaultScope::~FaultScope() { activeLog = previous_; }

void setFaultPlace(const char* step, double record) {
  placeStep = step;
  placeRecord = record;
}

void recordFault(const RunError& error) noexcept {
  try {
    if (activeLog) activeLog->record(error);
  } catch (...) {
    // out of memory while recording: nothing more can be kept
  }
}

void noteSkipped(const std::exception& failure) noexcept {
  try {
    const auto* error = dynamic_cast<const RunError*>(&failure);
    const bool machine = dynamic_cast<const std::bad_alloc*>(&failure) != nullptr;
    // A logic error is the program's own (an index out of range, an
    // argument it should never pass), never an odd value in the data: it is
    // not skipped silently.
    const bool programming = dynamic_cast<const std::logic_error*>(&failure) != nullptr;
    const bool recorded = machine || programming || (error && isRecorded(error->fault()));
    if (tracing()) {
      std::string where = error ? error->where() : std::string();
      std::fprintf(stderr, "mailsort: skipped at %s: %s%s\n", currentPlace().c_str(),
                   describe(failure.what(), where).c_str(), recorded ? " [fault]" : "");
    }
    if (!recorded || !activeLog) return;
    if (error)
      activeLog->record(*error);
    else if (programming)
      activeLog->record(RunError(Fault::Program, std::string("a programming error: ") + failure.what()));
    else
      activeLog->record(RunError(Fault::Io, "Out of memory"));
  } catch (...) {
    // nothing can be done while out of memory
  }
}

}  // namespace ms
