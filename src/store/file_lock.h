// The advisory flock(2) that an open database holds on its file: shared for
// a shared open, exclusive for an exclusive one, never waiting.
//
// An exclusive lock is taken only while holding the gate byte: a write lock
// of the open file description (F_OFD_SETLK) on byte kGateByte of the file,
// far above the bytes the engine locks. The Start Dialog's check hands the
// gate byte over to the run that follows it (handOver), so that from the
// check until the run's shared lock is in place no other program can pass
// its own check; flock(2) cannot turn an exclusive lock into a shared one
// without letting go of it in between.
//
// The lock lives on a descriptor of its own. Closing any descriptor of a
// file drops every POSIX lock this process holds on it, and the engine keeps
// its own locks that way; so a released lock keeps its descriptor open until
// no open database of this process uses the same file.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

namespace ms::store {

// The byte of the database file that the exclusive check holds: 1 GiB and
// 4 KiB, beyond the engine's lock bytes (1 GiB to 1 GiB + 512).
constexpr long long kGateByte = 0x40001000;

class FileLock {
 public:
  // Fails with Fault::InUse ("database in use") when the lock or, for an
  // exclusive one, the gate byte is held elsewhere; Fault::NotFound when the
  // file is missing. A shared lock that is only a look (`look`) leaves a
  // gate byte handed over in place: it is not the run's own open.
  static std::unique_ptr<FileLock> acquire(const std::string& path, bool exclusive, bool look = false);
  ~FileLock();
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;

  // Keeps the gate byte of an exclusive lock after the lock goes, until this
  // process next takes a shared lock on the same file that is not a look
  // (or ends).
  void handOver() { handOver_ = true; }

  // The first bytes of the file, up to `size`, read through the lock's own
  // descriptor (opening and closing another would drop the engine's locks).
  std::string start(std::size_t size) const;

 private:
  FileLock(int fd, int gateFd, unsigned long long device, unsigned long long inode);
  int fd_;
  int gateFd_;  // -1: no gate byte held
  bool handOver_ = false;
  unsigned long long device_;
  unsigned long long inode_;
};

}  // namespace ms::store
