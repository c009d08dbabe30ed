// Helpers for the program's tests: a job folder that is the current
// directory while it lives, a stand-in label program and another process
// holding the database with flock(2).
#pragma once

#include <sys/types.h>

#include <memory>
#include <string>

#include "support/fixture_db.h"

namespace ms::testing {

class JobFolder {
 public:
  JobFolder();
  ~JobFolder();
  const std::string& path() const { return dir_.path(); }
  FixtureDb& db() { return *db_; }
  // Work records with these codes, each with reference rows (region 1, a label).
  void addJob(const std::vector<std::string>& codes);
  std::string flag(const std::string& name);
  bool tableExists(const std::string& name);

 private:
  TempDir dir_;
  std::string previous_;
  std::unique_ptr<FixtureDb> db_;
};

// A `kvprint.exe` first on PATH for the rest of the test program, which
// writes "kvprint.started" into its current directory; whether it was
// started in `folder` within `seconds`.
bool labelProgramStartedIn(const std::string& folder, double seconds);

// A child process holding a shared flock on `path` until the object goes.
class FileHolder {
 public:
  explicit FileHolder(const std::string& path);
  ~FileHolder();
  bool holding = false;

 private:
  std::string path_;
  pid_t child_ = -1;
};

}  // namespace ms::testing
