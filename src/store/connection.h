// One open Mailsort Database: the SQLite handle, the advisory lock on the
// file, the prepared statements and table layouts kept for the life of the
// open, and the grouping of saves into short transactions.
//
// Every public entry point of the store takes `mutex` before it touches the
// connection; the background committer takes it too.
#pragma once

#include <sqlite3.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "store/database.h"
#include "store/file_lock.h"
#include "store/table_layout.h"

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
  static constexpr std::chrono::milliseconds kCommitInterval{250};

  std::mutex mutex;

  // Opens an existing file and takes its lock; see Database::open.
  static std::shared_ptr<Connection> open(const std::string& path, OpenMode mode);
  ~Connection();

  // All of the following expect `mutex` to be held, except close().

  // Fails when the database has been closed.
  void requireOpen() const;
  bool isOpen() const { return db_ != nullptr; }
  sqlite3* handle() const { return db_; }

  // A statement prepared once per open and kept.
  sqlite3_stmt* prepare(const std::string& sql);

  // The layout of a table, read once and kept until the next DDL statement.
  // Fails with Fault::NotFound for an unknown table.
  std::shared_ptr<const TableLayout> table(const std::string& name);

  // Before every read or write: the first opens a transaction, so that the
  // file is locked and checked once per interval rather than once per
  // statement; a transaction open longer than the commit interval is
  // committed first. After a write, the same check.
  void enter();
  void afterWrite();

  // Commits what is pending now (a walk reached its end). A busy file leaves
  // the transaction open for the committer to retry.
  void commitSoon();
  // Commits what is pending before DDL or close; fails when it cannot.
  void commitNow();

  // Runs DDL outside any pending transaction and forgets the table layouts.
  void executeDdl(const std::vector<std::string>& statements);

  // Commits, stops the committer and closes the file and its lock. Takes
  // `mutex` itself. Fails (after closing) when pending saves could not be
  // committed.
  void close();

  // A RunError for the last failing SQLite call.
  [[noreturn]] void fail(int rc, const std::string& context) const;

 private:
  Connection() = default;
  bool tryCommit();
  void committerLoop();

  sqlite3* db_ = nullptr;
  std::unique_ptr<FileLock> lock_;
  std::string path_;
  std::unordered_map<std::string, sqlite3_stmt*> statements_;
  NoCaseMap<std::shared_ptr<const TableLayout>> tables_;

  bool inTransaction_ = false;
  Clock::time_point transactionStart_;
  std::thread committer_;
  std::condition_variable wake_;
  bool stopping_ = false;
};

// "name" with embedded quotes doubled.
std::string quoteName(const std::string& name);
std::string lowerCase(std::string text);

}  // namespace ms::store
