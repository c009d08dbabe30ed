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

#include "values/fault.h"

namespace ms::store {

namespace {

// Per file of this process: how many locks are held, the descriptors of
// released ones that wait to be closed with the last, and a gate byte
// handed over to the next shared lock.
struct FileUse {
  int held = 0;
  std::vector<int> released;
  int gateFd = -1;
};

using FileKey = std::pair<unsigned long long, unsigned long long>;

std::mutex usesMutex;
std::map<FileKey, FileUse>& uses() {
  static auto* byFile = new std::map<FileKey, FileUse>();
  return *byFile;
}

bool lockGate(int fd, short type) {
  struct flock byte {};
  byte.l_type = type;
  byte.l_whence = SEEK_SET;
  byte.l_start = kGateByte;
  byte.l_len = 1;
  return ::fcntl(fd, F_OFD_SETLK, &byte) == 0;
}

// Keeps a descriptor open until no open database of this process uses the
// file (see the header); expects usesMutex held.
void release(const FileKey& key, int fd) {
  auto found = uses().find(key);
  if (found == uses().end())
    ::close(fd);
  else
    found->second.released.push_back(fd);
}

void forgetIfUnused(std::map<FileKey, FileUse>::iterator found) {
  FileUse& use = found->second;
  if (use.held > 0 || use.gateFd >= 0) return;
  for (int fd : use.released) ::close(fd);
  uses().erase(found);
}

}  // namespace

std::unique_ptr<FileLock> FileLock::acquire(const std::string& path, bool exclusive, bool look) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    int error = errno;
    throw RunError(error == ENOENT ? Fault::NotFound : Fault::Io,
                   path + (error == ENOENT ? " not found"
                                           : std::string(" could not be opened: ") + std::strerror(error)),
                   path);
  }
  struct stat status {};
  if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
    ::close(fd);
    throw RunError(Fault::NotFound, path + " is not a file", path);
  }
  const FileKey key{status.st_dev, status.st_ino};

  std::lock_guard lock(usesMutex);
  // The gate byte first; a file this process may not write cannot hold
  // one, and then only the flock keeps the check.
  int gateFd = -1;
  if (exclusive) {
    gateFd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
    if (gateFd >= 0 && !lockGate(gateFd, F_WRLCK)) {
      int error = errno;
      ::close(gateFd);
      release(key, fd);
      if (error == EAGAIN || error == EACCES) throw RunError(Fault::InUse, "database in use");
      throw RunError(Fault::Io, path + " could not be locked: " + std::strerror(error), path);
    }
  }
  if (::flock(fd, (exclusive ? LOCK_EX : LOCK_SH) | LOCK_NB) != 0) {
    int error = errno;
    // An open database of ours may hold engine locks on the same file.
    release(key, fd);
    if (gateFd >= 0) release(key, gateFd);
    if (error == EWOULDBLOCK) throw RunError(Fault::InUse, "database in use");
    throw RunError(Fault::Io, path + " could not be locked: " + std::strerror(error), path);
  }
  FileUse& use = uses()[key];
  ++use.held;
  if (!exclusive && !look && use.gateFd >= 0) {  // the run is in: the check it followed lets go
    lockGate(use.gateFd, F_UNLCK);
    use.released.push_back(use.gateFd);
    use.gateFd = -1;
  }
  return std::unique_ptr<FileLock>(new FileLock(fd, gateFd, status.st_dev, status.st_ino));
}

FileLock::FileLock(int fd, int gateFd, unsigned long long device, unsigned long long inode)
    : fd_(fd), gateFd_(gateFd), device_(device), inode_(inode) {}

std::string FileLock::start(std::size_t size) const {
  std::string bytes(size, '\0');
  const ssize_t read = ::pread(fd_, bytes.data(), size, 0);
  bytes.resize(read > 0 ? static_cast<std::size_t>(read) : 0);
  return bytes;
}

FileLock::~FileLock() {
  ::flock(fd_, LOCK_UN);
  std::lock_guard lock(usesMutex);
  const FileKey key{device_, inode_};
  auto found = uses().find(key);
  if (found == uses().end()) {
    ::close(fd_);
    if (gateFd_ >= 0) ::close(gateFd_);
    return;
  }
  FileUse& use = found->second;
  use.released.push_back(fd_);
  if (gateFd_ >= 0) {
    if (handOver_ && use.gateFd < 0) {
      use.gateFd = gateFd_;
    } else {
      lockGate(gateFd_, F_UNLCK);
      use.released.push_back(gateFd_);
    }
  }
  --use.held;
  forgetIfUnused(found);
}

}  // namespace ms::store
