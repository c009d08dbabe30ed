// The SQLite engine of the store: one open database file, with the advisory
// lock on the file, the busy handler that waits for other programs, and
// transactions committed at short intervals while the program works.
#pragma once

#include <sqlite3.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "store/connection.h"
#include "store/file_lock.h"
#include "store/sqlite_handle.h"
#include "values/fault.h"
#include "values/value.h"

namespace ms::store {

class SqliteConnection;

// A statement of the file, kept by its connection.
class SqliteStatement : public Statement {
 public:
  SqliteStatement(SqliteConnection& connection, StatementHandle statement, std::string table)
      : connection_(connection), statement_(std::move(statement)), table_(std::move(table)) {}
  void bind(int parameter, const Value& value, int type) override {
    bindValue(statement_.get(), parameter, value, type);
  }
  void bindInteger(int parameter, std::int64_t value) override {
    sqlite3_bind_int64(statement_.get(), parameter, value);
  }
  bool next() override;
  std::int64_t integer(int column) const override { return sqlite3_column_int64(statement_.get(), column); }
  void readRow(std::vector<Value>& row, std::vector<int>& types, const char* wanted) const override {
    for (std::size_t i = 0; i < row.size(); ++i)
      if (!wanted || wanted[i]) readColumn(statement_.get(), static_cast<int>(i + 1), row[i], types[i]);
  }
  std::int64_t write() override;
  void reset() override {
    sqlite3_reset(statement_.get());
    sqlite3_clear_bindings(statement_.get());
  }

 private:
  SqliteConnection& connection_;
  StatementHandle statement_;
  std::string table_;
};

class SqliteConnection : public Connection {
 public:
  // Opens an existing file and takes its lock; see Database::open.
  static std::shared_ptr<SqliteConnection> open(const std::string& path, OpenMode mode);
  ~SqliteConnection() override;

  bool isOpen() const override { return db_ != nullptr; }
  const Dialect& dialect() const override { return kSqliteDialect; }
  sqlite3* handle() const { return db_.get(); }
  Statement* prepare(const std::string& sql, const std::string& table) override;
  bool holdsTexts(const TableLayout& layout, std::size_t column) override;

  // The first read or write opens a transaction, so that the file is locked
  // and checked once per interval rather than once per statement.
  void enter() override;

  // Steps a statement that writes. When the open transaction has only read
  // and another program is about to write, the engine refuses at once rather
  // than wait (waiting could never end): the reads are then ended and the
  // transaction begun again for writing, which waits its turn.
  int stepWrite(sqlite3_stmt* statement);

  // A busy file leaves the transaction open to be tried again.
  // Does nothing while a statement waits for another program (the window
  // runs inside that wait).
  void idle() override;
  void commitNow() override;
  void close() override;
  std::string markRun() override;
  bool runCommitted(const std::string& token) override;
  std::string identity() const override;
  void handOver() override {
    if (lock_) lock_->handOver();
  }

  // A RunError for the last failing SQLite call; `where` names the table.
  [[noreturn]] void fail(int rc, const std::string& context, const std::string& where = {});
  // The failure that a result code stands for; a busy file is said to be
  // held by another program, or the wait to have been stopped.
  RunError error(int rc, const std::string& detail, const std::string& where);

 protected:
  bool tryCommit() override;
  void noteRollback() override;
  std::shared_ptr<TableLayout> readLayout(const std::string& name) override;
  std::string indexDefinition(const std::string& engineName) override;
  void buildIndexes(const std::vector<std::string>& definitions) override;
  bool canDeferSaves() const override { return true; }
  void writeSaves(DeferredSaves& saves) override;
  void runDdl(const std::vector<std::string>& statements) override;
  void beginHeld() override;
  void rollback() noexcept override;

 private:
  SqliteConnection() = default;
  static int onBusy(void* connection, int attempts);
  static int onProgress(void* connection);
  static void deferredValue(sqlite3_context* context, int count, sqlite3_value** arguments);
  void whileShowingProgress(const std::function<void()>& work);

  DatabaseHandle db_;
  std::unique_ptr<FileLock> lock_;
  std::string path_;
  // The header's user version, which marks a run.
  int userVersion();
  bool empty_ = false;  // the file held no table when it was opened
  std::unordered_map<std::string, std::unique_ptr<SqliteStatement>> statements_;

  bool waiting_ = false;      // inside the wait for another program
  bool interrupted_ = false;  // the wait hook stopped the last wait
  Clock::time_point busySince_;
  Clock::time_point lastHook_;
  Clock::duration waitedBefore_{};  // waited for others before the current wait

  DeferredSaves* writing_ = nullptr;  // the saves being written
  Value deferredScratch_;
};

}  // namespace ms::store
