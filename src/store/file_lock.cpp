#include "store/file_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <map>
#include <mutex>
#include <utility>
#include <vector>

#include "store/fault.h"

namespace ms::store {

namespace {

// Per file of this process: how many locks are held, and the descriptors of
// released ones that wait to be closed with the last.
struct FileUse {
  int held = 0;
  std::vector<int> released;
};

std::mutex usesMutex;
std::map<std::pair<unsigned long long, unsigned long long>, FileUse>& uses() {
  static auto* byFile = new std::map<std::pair<unsigned long long, unsigned long long>, FileUse>();
  return *byFile;
}

}  // namespace

std::unique_ptr<FileLock> FileLock::acquire(const std::string& path, bool exclusive) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    int error = errno;
    throw RunError(error == ENOENT ? Fault::NotFound : Fault::Engine,
                   "Could not open file '" + path + "': " + std::strerror(error));
  }
  struct stat status {};
  if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
    ::close(fd);
    throw RunError(Fault::NotFound, "Could not find file '" + path + "'.");
  }
  if (::flock(fd, (exclusive ? LOCK_EX : LOCK_SH) | LOCK_NB) != 0) {
    int error = errno;
    {
      // An open database of ours may hold engine locks on the same file.
      std::lock_guard lock(usesMutex);
      auto found = uses().find({status.st_dev, status.st_ino});
      if (found != uses().end())
        found->second.released.push_back(fd);
      else
        ::close(fd);
    }
    if (error == EWOULDBLOCK) throw RunError(Fault::InUse, "database in use");
    throw RunError(Fault::Engine, "Could not lock file '" + path + "': " + std::strerror(error));
  }
  std::lock_guard lock(usesMutex);
  ++uses()[{status.st_dev, status.st_ino}].held;
  return std::unique_ptr<FileLock>(new FileLock(fd, status.st_dev, status.st_ino));
}

FileLock::FileLock(int fd, unsigned long long device, unsigned long long inode)
    : fd_(fd), device_(device), inode_(inode) {}

FileLock::~FileLock() {
  ::flock(fd_, LOCK_UN);
  std::lock_guard lock(usesMutex);
  auto found = uses().find({device_, inode_});
  if (found == uses().end()) {
    ::close(fd_);
    return;
  }
  FileUse& use = found->second;
  use.released.push_back(fd_);
  if (--use.held > 0) return;
  for (int fd : use.released) ::close(fd);
  uses().erase(found);
}

}  // namespace ms::store
