// The PostgreSQL engine of the store: one session with the server, in
// libpq's pipeline mode. Reads wait for their rows; saves to tables without
// a unique key are sent without waiting for their answer, which the next
// read or commit collects, so that a pass saving every record pays no round
// trip per record. Saves to a table with a unique key wait for the answer
// under a savepoint, so that a refused one fails at once and leaves the
// other saves of the transaction standing, as on SQLite.
//
// The gate is a session-level advisory lock on a key that names the job's
// database and schema: exclusive (pg_try_advisory_lock) for an exclusive
// open, shared for a shared one, never waiting. The server frees it when
// the session ends, also when the program is killed.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "store/connection.h"
#include "store/pg_handle.h"

namespace ms::store {

class PgConnection;

// A statement prepared on the server, kept by its connection. Parameters
// and rows travel as text.
class PgStatement : public Statement {
 public:
  PgStatement(PgConnection& connection, std::string name, std::string table, bool guarded)
      : connection_(connection), name_(std::move(name)), table_(std::move(table)), guarded_(guarded) {}
  void bind(int parameter, const Value& value, int type) override;
  void bindInteger(int parameter, std::int64_t value) override;
  bool next() override;
  std::int64_t integer(int column) const override;
  void readRow(std::vector<Value>& row, std::vector<int>& types, const char* wanted) const override;
  std::int64_t write() override;
  void reset() override;

 private:
  friend class PgConnection;
  std::string& slot(int parameter);

  PgConnection& connection_;
  std::string name_;
  std::string table_;
  bool guarded_;  // a save that waits for its answer under a savepoint
  std::vector<std::string> texts_;
  std::vector<char> nulls_;
  std::vector<const char*> values_;
  int count_ = 0;  // parameters bound
  PgResult result_;
  int row_ = -1;
  bool ran_ = false;
  std::vector<char> numeric_;  // by result column: a number rather than a text
};

// Edits of one set of fields of a table without a unique key, gathered and
// sent as one UPDATE ... FROM unnest(...) for many records: the server
// then does per statement what it would do per record. The connection
// sends the gathered edits before it sends anything else, and when the same
// record is edited twice.
class PgEditBatch : public Statement {
 public:
  PgEditBatch(PgConnection& connection, std::string name, std::string table, std::size_t fields)
      : connection_(connection),
        name_(std::move(name)),
        table_(std::move(table)),
        current_(fields + 1),
        currentNull_(fields + 1, 1),
        arrays_(fields + 1) {}
  void bind(int parameter, const Value& value, int type) override;
  void bindInteger(int parameter, std::int64_t value) override;
  bool next() override { return false; }
  std::int64_t integer(int) const override { return 0; }
  void readRow(std::vector<Value>&, std::vector<int>&, const char*) const override {}
  std::int64_t write() override;
  void reset() override { std::fill(currentNull_.begin(), currentNull_.end(), 1); }

 private:
  friend class PgConnection;
  PgConnection& connection_;
  std::string name_;
  std::string table_;
  std::vector<std::string> current_;  // the record being saved: its fields, then its rowid
  std::vector<char> currentNull_;
  std::vector<std::string> arrays_;  // the gathered records, a text array per field and one of rowids
  std::vector<std::int64_t> rowids_;
};

class PgConnection : public Connection {
 public:
  // Connects, takes the gate lock and enters pipeline mode; see
  // Database::open.
  static std::shared_ptr<PgConnection> open(const std::string& uri, OpenMode mode);
  ~PgConnection() override;

  bool isOpen() const override { return connection_ != nullptr; }
  const Dialect& dialect() const override { return kPostgresDialect; }
  Statement* prepare(const std::string& sql, const std::string& table) override;
  Statement* prepareEdit(const TableLayout& layout, const std::vector<std::size_t>& columns) override;
  void enter() override;
  void idle() override;
  void commitNow() override;
  void close() override;
  std::string markRun() override;
  bool runCommitted(const std::string& token) override;
  std::string identity() const override;
  void handOver() override { handOver_ = true; }

  // For the statements: runs a query and hands its rows to it; runs a save;
  // gathers an edit.
  void query(PgStatement& statement);
  std::int64_t write(PgStatement& statement);
  void gather(PgEditBatch& batch);

 protected:
  bool tryCommit() override;
  std::shared_ptr<TableLayout> readLayout(const std::string& name) override;
  // No index is deferred: an index built in the transaction that has just
  // updated the table (its saves of fields no index held were then in place)
  // is one the server will not use until that transaction has ended, so
  // the run's own walks in its order would sort the whole table every time.
  std::string indexDefinition(const std::string&) override { return {}; }
  void runDdl(const std::vector<std::string>& statements) override;
  void beginHeld() override;
  void rollback() noexcept override;

 private:
  enum class Kind { Control, Query, Write, Guarded, Sync };
  // A result the server owes, in the order the statements were sent.
  struct Owed {
    Kind kind;
    PgStatement* statement = nullptr;
    PgResult* into = nullptr;
    std::size_t records = 1;  // a save's records, each of which must be found
  };
  struct Failure {
    bool failed = false;
    Kind kind = Kind::Control;
    std::string message;
    std::string state;  // the SQLSTATE
    Fault fault = Fault::Engine;
  };
  // How long a server has to answer a cancel before the session is dropped.
  static constexpr std::chrono::milliseconds kCancelWait{2000};
  // How long past its lock timeout a server may stay silent.
  static constexpr std::chrono::milliseconds kLockGrace{5000};
  // The part of a wait for an answer that is not counted as a wait for
  // another program's lock.
  static constexpr std::chrono::milliseconds kServerWork{1000};
  // How long a wait lasts before the store asks the server why, and how
  // long the server then has to answer that question.
  static constexpr std::chrono::milliseconds kAskWhyAfter{1000};
  static constexpr std::chrono::milliseconds kProbeLimit{2000};
  // How long a run's transaction that the server still holds open is
  // waited for before its fate is given up as unknown.
  static constexpr std::chrono::milliseconds kUndecidedWait{10000};

  PgConnection() = default;
  void send(Kind kind, PgStatement* statement);
  // Sends the gathered edits, if any.
  void sendEdits();
  // Forgets the edits gathered and not sent (the transaction they belong to is gone).
  void discardEdits();
  // Counts a save sent without waiting; collects the answers now and then.
  void sent(const std::string& table);
  void sendSql(const std::string& sql, Kind kind = Kind::Control, PgResult* into = nullptr,
               const std::vector<std::string>& parameters = {});
  // Sends a sync point and collects every result owed up to it.
  Failure settle();
  // Waits until the next result can be read without blocking: sends what
  // is still buffered and reads what arrives. While the server has not
  // answered, the wait hook runs every 20 ms or so; when it asks to stop, a
  // cancel is sent and the server has kCancelWait to answer it. A server
  // that sends nothing for the silence limit (or its lock timeout and
  // kLockGrace, if longer), or that does not answer the cancel, has its
  // session dropped. A second into a wait a probe asks on a connection of
  // its own why (BlockingProbe), which the hook is then told.
  void awaitResult();
  // Ends the session without waiting: `failure` is thrown, and every later
  // use fails with Fault::Io and `why`.
  [[noreturn]] void drop(const RunError& failure, const std::string& why);
  // Sets the session's lock_timeout to what is left of the busy wait.
  void applyLockTimeout();
  // A failure as messages give it: a lock timeout or a deadlock says that
  // another program holds the database, a stopped wait that it was stopped.
  std::string describe(const Failure& failure) const;
  // After a failure: the transaction, aborted by the server, is rolled
  // back, its saves are noted as lost, and the failure is raised.
  [[noreturn]] void raise(const Failure& failure, const std::string& where);
  // Notes the saves of the transaction the server rolled back as lost.
  void loseSaves(const Failure& failure);
  // Prepares a named statement, waiting for the server's answer.
  void prepareOnServer(const std::string& name, const std::string& sql, const std::string& table);
  PgResult fetch(const std::string& sql, const std::vector<std::string>& parameters);
  [[noreturn]] void broken();

  PgHandle connection_;
  std::string uri_;       // for the probe that asks why a statement waits
  std::string name_;      // the database as messages name it
  std::string identity_;  // the server, database and schema
  std::string gateKey_;
  bool exclusive_ = false;
  bool handOver_ = false;
  std::deque<Owed> owed_;
  std::size_t unsettled_ = 0;  // saves sent since the last sync point
  std::unordered_map<std::string, std::unique_ptr<PgStatement>> statements_;
  std::unordered_map<std::string, std::unique_ptr<PgEditBatch>> batches_;
  PgEditBatch* gathering_ = nullptr;  // the batch holding edits not sent yet

  std::chrono::milliseconds appliedWait_{0};   // the session's lock_timeout
  bool waiting_ = false;                       // inside the wait hook
  std::optional<Clock::time_point> cancelAt_;  // when the wait hook stopped the wait
};

// The kind of failure a PostgreSQL SQLSTATE stands for.
Fault faultOfState(const std::string& state);

}  // namespace ms::store
