// Helpers for the program's tests: a job folder that is the current
// directory while it lives, a stand-in label program and the built programs.
#pragma once

#include <string>
#include <vector>

#include "support/fixture_db.h"

namespace ms::testing {

class JobFolder {
 public:
  const std::string& path() const { return dir_.path(); }
  FixtureDb& db() { return db_; }
  // Work records with these codes, each with reference rows (region 1, a label).
  void addJob(const std::vector<std::string>& codes);
  std::string flag(const std::string& name) {
    return db_.scalar("SELECT \"" + name + "\" FROM parmcode").textOrEmpty();
  }
  bool tableExists(const std::string& name) {
    return db_.scalar("SELECT count(*) FROM sqlite_master WHERE type = 'table' AND name = '" + name + "'")
               .number() > 0;
  }

 private:
  TempDir dir_;
  FixtureDb db_{dir_.path()};
  InFolder inFolder_{dir_.path()};
};

// A `kvprint.exe` first on PATH for the rest of the test program, which
// writes "kvprint.started" into its current directory; whether it was
// started in `folder` within `seconds`.
bool labelProgramStartedIn(const std::string& folder, double seconds);

// Why build/mailsort and build/mailsort-sample cannot be run here; the empty
// text when they can.
std::string missingForSampleRun();
// Runs a shell command in `dir`; its exit status.
int shellIn(const std::string& dir, const std::string& command);

}  // namespace ms::testing
