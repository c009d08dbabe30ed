// Reads of the Job Parameters record that the planning report makes.
#pragma once

#include <string>

#include "run/run_state.h"
#include "values/fault.h"
#include "values/value.h"

namespace ms {

// A field of the Job Parameters record; fails when the record is not open.
inline Value jobParameter(RunState& run, const std::string& name) {
  if (!run.parmrs) throw RunError(Fault::NoCurrentRecord, "Job Parameters not open");
  return run.parmrs->field(name);
}

// Whether a Job Parameters field holds exactly `text`: a Null or a number is
// not equal to any text; a read that fails makes the test fail.
inline bool jobParameterIs(RunState& run, const std::string& name, const std::string& text) {
  return isText(jobParameter(run, name), text);
}

}  // namespace ms
