#include "reports/common/output_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <random>
#include <system_error>

#include "values/fault.h"

namespace ms {

namespace {

// The fault of a file that could not be created or renamed.
Fault faultOf(int error) {
  switch (error) {
    case ENOENT:
    case ENOTDIR:
      return Fault::NotFound;
    case EACCES:
    case EPERM:
    case EROFS:
      return Fault::ReadOnly;
    default:
      return Fault::Io;
  }
}

// A name no other file has yet: hidden, beside the file, with a random tail
// of a dot and eight hexadecimal digits.
constexpr std::size_t kTailSize = 9;

std::string temporaryName(const std::string& path) {
  static std::mt19937 random{std::random_device{}() ^ static_cast<unsigned>(::getpid())};
  char tail[16];
  std::snprintf(tail, sizeof tail, ".%08x", static_cast<unsigned>(random()));
  const std::filesystem::path file(path);
  return (file.parent_path() / ("." + file.filename().string() + tail)).string();
}

}  // namespace

bool OutputFile::isTemporaryName(const std::string& name, const std::string& file) {
  if (name.size() != file.size() + 1 + kTailSize || name[0] != '.' ||
      name.compare(1, file.size(), file) != 0 || name[file.size() + 1] != '.')
    return false;
  for (std::size_t i = file.size() + 2; i < name.size(); ++i)
    if (!std::isxdigit(static_cast<unsigned char>(name[i]))) return false;
  return true;
}

std::string systemMessage(int error) { return std::generic_category().message(error); }

OutputFile::~OutputFile() { discard(); }

int OutputFile::create(const std::string& path) {
  discard();
  path_ = path;
  name_ = std::filesystem::path(path).filename().string();

  struct stat there;
  if (::lstat(path.c_str(), &there) == 0) {
    if (S_ISDIR(there.st_mode)) throw RunError(Fault::Io, "is a folder, so it cannot be written", name_);
    // The write bits, not access(): a file kept read-only stays so for root too.
    if (S_ISREG(there.st_mode) && (there.st_mode & 0222) == 0)
      throw RunError(Fault::ReadOnly, "is read-only, so it was not replaced", name_);
  }

  for (int tries = 0; tries < 100; ++tries) {
    const std::string temporary = temporaryName(path);
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd >= 0) {
      temporary_ = temporary;
      return fd;
    }
    if (errno != EEXIST) break;
  }
  const int error = errno;
  throw RunError(faultOf(error), "could not be created: " + systemMessage(error), name_);
}

void OutputFile::putInPlace() {
  if (!pending()) return;
  if (::rename(temporary_.c_str(), path_.c_str()) != 0) {
    const int error = errno;
    discard();
    throw RunError(faultOf(error), "could not be put in place: " + systemMessage(error), name_);
  }
  temporary_.clear();
}

void OutputFile::discard() noexcept {
  if (!pending()) return;
  ::unlink(temporary_.c_str());
  temporary_.clear();
}

}  // namespace ms
