// Another program of the suite holding a database file open: a child
// process that keeps a shared flock(2) on it until the object goes.
#pragma once

#include <sys/types.h>

#include <string>

namespace ms::testing {

class FileHolder {
 public:
  explicit FileHolder(const std::string& path);
  ~FileHolder();
  FileHolder(const FileHolder&) = delete;
  FileHolder& operator=(const FileHolder&) = delete;

  // The child has its lock.
  bool holding() const { return holding_; }

 private:
  pid_t child_ = -1;
  bool holding_ = false;
};

}  // namespace ms::testing
