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
//
// The session (opening, the gate, transactions, DDL and the mark of a run)
// is in pg_connection.cpp, the pipeline that carries every statement in
// pg_pipeline.cpp (see pg_pipeline.h), the statements and edit batches in
// pg_statement.h.
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
#include "store/pg_pipeline.h"
#include "store/pg_statement.h"

namespace ms::store {

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
  // How long a run's transaction that the server still holds open is
  // waited for before its fate is given up as unknown.
  static constexpr std::chrono::milliseconds kUndecidedWait{10000};

  PgConnection() = default;

  // ---- the pipeline (pg_pipeline.cpp) ----
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

  // ---- the session ----
  PgHandle connection_;
  std::string uri_;       // for the probe that asks why a statement waits
  std::string name_;      // the database as messages name it
  std::string identity_;  // the server, database and schema
  std::string gateKey_;
  bool exclusive_ = false;
  bool handOver_ = false;
  std::unordered_map<std::string, std::unique_ptr<PgStatement>> statements_;
  std::unordered_map<std::string, std::unique_ptr<PgEditBatch>> batches_;

  // ---- the pipeline's state ----
  std::deque<Owed> owed_;
  std::size_t unsettled_ = 0;                  // saves sent since the last sync point
  PgEditBatch* gathering_ = nullptr;           // the batch holding edits not sent yet
  std::chrono::milliseconds appliedWait_{0};   // the session's lock_timeout
  bool waiting_ = false;                       // inside the wait hook
  std::optional<Clock::time_point> cancelAt_;  // when the wait hook stopped the wait
};

}  // namespace ms::store
