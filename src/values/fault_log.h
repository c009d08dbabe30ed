// The record of a run's faults: each fault of the machine or of the
// database's structure that a statement met, once, with how many times it
// happened and where the run was the first time.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "values/fault.h"

namespace ms {

class FaultLog {
 public:
  struct Entry {
    Fault fault;
    std::string what;   // the failure as the engine or the system said it
    std::string where;  // the table, field or file, when known
    std::int64_t count = 0;
    std::string firstAt;  // where the run was the first time
  };

  void record(const RunError& error);
  bool empty() const { return entries_.empty(); }
  const std::vector<Entry>& entries() const { return entries_; }
  // What a run with faults kept.
  enum class Kept {
    Nothing,    // it changed nothing
    Published,  // its work is saved and its files in place; it met its faults after that
    Undecided,  // it cannot be told yet whether its work was saved: the next start settles it
  };
  // The text of the message that ends a run with faults.
  std::string report(Kept kept = Kept::Nothing) const;

 private:
  std::vector<Entry> entries_;
};

// Makes `log` the one that skipped faults are recorded in for as long as the
// scope lives (none is active outside a run).
class FaultScope {
 public:
  explicit FaultScope(FaultLog& log);
  ~FaultScope();
  FaultScope(const FaultScope&) = delete;
  FaultScope& operator=(const FaultScope&) = delete;

 private:
  FaultLog* previous_;
};

// Where the run is, for the first occurrence of a fault: a step ("the
// allocation") and the record it is on (0: not on a record). Cheap enough to
// call on every record.
void setFaultPlace(const char* step, double record);

// A failure as the operator reads it: what failed, naming the table, field
// or file at fault.
std::string describeFailure(const std::exception& failure);

// Records a fault met outside attempt() and test(), also when trace is off.
void recordFault(const RunError& error) noexcept;

}  // namespace ms
