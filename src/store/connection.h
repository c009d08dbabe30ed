// One open Mailsort Database: the SQLite handle, the advisory lock on the
// file, the prepared statements and table layouts kept for the life of the
// open, and the grouping of saves into short transactions. The store is used
// from one thread: the program's own rhythm commits (the passes' calls, an
// idle timer of the window, close and exit).
#pragma once

#include <sqlite3.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "store/database.h"
#include "store/file_lock.h"
#include "store/sqlite_handle.h"
#include "store/table_layout.h"
#include "values/fault.h"
#include "values/value.h"

namespace ms::store {

// Resets a cached statement (and clears its bindings) when it goes out of
// scope, so that no statement stays active between store operations.
class StatementUse {
 public:
  explicit StatementUse(sqlite3_stmt* statement) : statement_(statement) {}
  ~StatementUse() {
    sqlite3_reset(statement_);
    sqlite3_clear_bindings(statement_);
  }
  StatementUse(const StatementUse&) = delete;
  StatementUse& operator=(const StatementUse&) = delete;
  sqlite3_stmt* get() const { return statement_; }

 private:
  sqlite3_stmt* statement_;
};

struct Connection {
  using Clock = std::chrono::steady_clock;
  // Saves are committed once their transaction has been open this long.
  static constexpr std::chrono::milliseconds kCommitInterval{900};
  // How long one statement waits while another program holds the file.
  static constexpr std::chrono::milliseconds kBusyWait{60000};

  // Opens an existing file and takes its lock; see Database::open.
  static std::shared_ptr<Connection> open(const std::string& path, OpenMode mode);
  ~Connection();

  // Fails when the database has been closed.
  void requireOpen() const;
  bool isOpen() const { return db_ != nullptr; }
  sqlite3* handle() const { return db_.get(); }

  // A statement prepared once per open and kept.
  sqlite3_stmt* prepare(const std::string& sql);

  // The layout of a table, read once and kept until the next DDL statement.
  // Fails with Fault::NotFound for an unknown table.
  std::shared_ptr<const TableLayout> table(const std::string& name);

  // Before every read or write: the first opens a transaction, so that the
  // file is locked and checked once per interval rather than once per
  // statement; a transaction open longer than the commit interval is
  // committed first. After a write, the same check. Either fails when saves
  // made earlier were lost (a commit that failed, a transaction that the
  // engine rolled back), so that the loss is never silent.
  void enter();
  void afterWrite();

  // Steps a statement that writes. When the open transaction has only read
  // and another program is about to write, the engine refuses at once rather
  // than wait (waiting could never end): the reads are then ended and the
  // transaction begun again for writing, which waits its turn.
  int stepWrite(sqlite3_stmt* statement);

  // Commits what is pending now (a walk reached its end). A busy file leaves
  // the transaction open to be tried again.
  void commitSoon();
  // The program has nothing for the store to do: saves pending for a commit
  // interval are committed. Never fails; a save that could not be committed
  // fails the next operation. Does nothing while a statement waits for
  // another program (the window runs inside that wait).
  void idle();
  // Commits what is pending before DDL or close; fails when it cannot.
  void commitNow();

  // Runs DDL outside any pending transaction and forgets the table layouts.
  void executeDdl(const std::vector<std::string>& statements);

  // Commits and closes the file and its lock. Fails (after closing) when
  // pending saves could not be committed.
  void close();

  // Changes whenever anything is written, committed or rolled back, so that
  // rows read earlier can tell whether they may still stand.
  std::uint64_t stamp() const { return stamp_; }

  // See Database::handOver.
  void handOver() {
    if (lock_) lock_->handOver();
  }

  // A RunError for the last failing SQLite call; `where` names the table.
  [[noreturn]] void fail(int rc, const std::string& context, const std::string& where = {}) const;

  // Called now and then while a statement waits for another program, on the
  // thread that opened the database (the window repaints, Cancel answers).
  std::function<void()> waitHook;
  std::chrono::milliseconds busyWait = kBusyWait;

 private:
  Connection() = default;
  bool tryCommit();
  void checkSaves();
  void noteRollback();
  void lose(const RunError& why);
  static int onBusy(void* connection, int attempts);

  DatabaseHandle db_;
  std::unique_ptr<FileLock> lock_;
  std::string path_;
  bool empty_ = false;  // the file held no table when it was opened
  std::unordered_map<std::string, StatementHandle> statements_;
  NoCaseMap<std::shared_ptr<const TableLayout>> tables_;

  bool inTransaction_ = false;
  bool wrote_ = false;              // the open transaction holds saves
  std::unique_ptr<RunError> lost_;  // saves that could not be written, not yet reported
  Clock::time_point transactionStart_;
  std::uint64_t stamp_ = 0;
  unsigned calls_ = 0;    // operations since the clock was last read
  bool waiting_ = false;  // inside the wait for another program
  Clock::time_point busySince_;
  Clock::time_point lastHook_;
};

// The kind of failure an SQLite result code stands for.
Fault faultOf(int rc, const std::string& message);

// "name" with embedded quotes doubled.
std::string quoteName(const std::string& name);
std::string lowerCase(std::string text);

}  // namespace ms::store
