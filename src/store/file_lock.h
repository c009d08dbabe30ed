// The advisory flock(2) that an open database holds on its file: shared for
// a shared open, exclusive for an exclusive one, never waiting.
//
// The lock lives on a descriptor of its own. Closing any descriptor of a
// file drops every POSIX lock this process holds on it, and the engine keeps
// its own locks that way; so a released lock keeps its descriptor open until
// no open database of this process uses the same file.
#pragma once

#include <memory>
#include <string>

namespace ms::store {

class FileLock {
 public:
  // Fails with Fault::InUse ("database in use") when the lock is held
  // elsewhere, Fault::NotFound when the file is missing.
  static std::unique_ptr<FileLock> acquire(const std::string& path, bool exclusive);
  ~FileLock();
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;

 private:
  FileLock(int fd, unsigned long long device, unsigned long long inode);
  int fd_;
  unsigned long long device_;
  unsigned long long inode_;
};

}  // namespace ms::store
