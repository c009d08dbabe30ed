#include "store/pg_connection.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <map>
#include <optional>
#include <thread>

#include "values/fault.h"

namespace ms::store {

namespace {

// Sessions of exclusive checks handed over to the run that follows them,
// by gate key: each holds the shared gate lock until this process opens
// the same database shared.
std::map<std::string, PgHandle>& handedOver() {
  static auto* sessions = new std::map<std::string, PgHandle>();
  return *sessions;
}

// One value of a query run outside pipeline mode (while opening).
std::string scalar(PGconn* connection, const std::string& sql, const std::string& parameter,
                   const std::string& name) {
  PgResult result = queryWithin(
      connection, sql, parameter.empty() ? std::vector<std::string>{} : std::vector<std::string>{parameter},
      Connection::kSilenceLimit, name);
  if (PQresultStatus(result.get()) != PGRES_TUPLES_OK || PQntuples(result.get()) != 1) {
    const char* state = PQresultErrorField(result.get(), PG_DIAG_SQLSTATE);
    throw RunError(faultOfState(state ? state : ""),
                   name + ": " + trimmedMessage(PQresultErrorMessage(result.get())), name);
  }
  return PQgetvalue(result.get(), 0, 0);
}

}  // namespace

// ---- opening and closing ----------------------------------------------------

std::shared_ptr<PgConnection> PgConnection::open(const std::string& uri, OpenMode mode) {
  std::shared_ptr<PgConnection> connection(new PgConnection());
  connection->uri_ = uri;
  connection->name_ = describeDatabase(uri);
  if (mode != OpenMode::Shared) connection->busyWait = kCheckWait;
  PgHandle session = connectPostgres(uri);
  PGconn* raw = session.get();
  const std::string& name = connection->name_;
  // The key names the database and the schema the job's tables live in.
  connection->gateKey_ = scalar(raw,
                                "SELECT hashtextextended('mailsort:' || current_database() || '.' || "
                                "coalesce(current_schema(), ''), 0)::text",
                                "", name);
  connection->identity_ = name + ", schema " + scalar(raw, "SELECT coalesce(current_schema(), '')", "", name);
  connection->exclusive_ = mode == OpenMode::Exclusive;
  const char* take = connection->exclusive_ ? "SELECT pg_try_advisory_lock($1::bigint)"
                                            : "SELECT pg_try_advisory_lock_shared($1::bigint)";
  if (scalar(raw, take, connection->gateKey_, name) != "t") throw RunError(Fault::InUse, "database in use");
  // The run that follows a check now holds the gate itself.
  if (mode == OpenMode::Shared) handedOver().erase(connection->gateKey_);
  // A look writes nothing: the server refuses any save in its transactions.
  if (mode == OpenMode::Look)
    scalar(raw, "SELECT set_config('default_transaction_read_only', 'on', false)", "", name);
  // From here on nothing blocks inside libpq: what cannot be sent at once
  // waits in its buffer, and every wait polls the socket with a limit.
  if (PQsetnonblocking(raw, 1) != 0 || PQenterPipelineMode(raw) != 1)
    throw RunError(Fault::Io, name + ": pipeline mode refused", name);
  connection->connection_ = std::move(session);
  return connection;
}

PgConnection::~PgConnection() {
  try {
    close();
  } catch (const std::exception&) {
    // a destructor cannot report; the session is closed all the same
  }
}

void PgConnection::close() {
  closing();
  if (!connection_) return;
  std::unique_ptr<RunError> error;
  try {
    if (holding_)
      rollbackRun();
    else
      commitNow();
  } catch (const RunError& e) {
    error = std::make_unique<RunError>(e);
  }
  statements_.clear();
  PgHandle session = std::move(connection_);
  if (handOver_ && exclusive_ && PQstatus(session.get()) == CONNECTION_OK && owed_.empty() &&
      PQexitPipelineMode(session.get()) == 1) {
    // The gate passes to the run: shared first, then the exclusive lock goes.
    try {
      PgResult shared = queryWithin(session.get(), "SELECT pg_advisory_lock_shared($1::bigint)", {gateKey_},
                                    silenceLimit, name_);
      queryWithin(session.get(), "SELECT pg_advisory_unlock($1::bigint)", {gateKey_}, silenceLimit, name_);
      if (PQresultStatus(shared.get()) == PGRES_TUPLES_OK) handedOver()[gateKey_] = std::move(session);
    } catch (const RunError&) {
      // the session is gone, and its locks with it: the gate is open again
    }
  }
  owed_.clear();
  if (error) throw RunError(*error);
}

// ---- statements -----------------------------------------------------------

Statement* PgConnection::prepare(const std::string& sql, const std::string& table) {
  auto found = statements_.find(sql);
  if (found != statements_.end()) return found->second.get();
  // A save to a table with a unique key waits for its answer.
  auto layout = tables_.find(table);
  const bool guarded =
      layout != tables_.end() && sql.rfind("SELECT", 0) != 0 && layout->second->hasUniqueKey();
  auto statement =
      std::make_unique<PgStatement>(*this, "s" + std::to_string(statements_.size() + 1), table, guarded);
  prepareOnServer(statement->name_, sql, table);
  return statements_.emplace(sql, std::move(statement)).first->second.get();
}

Statement* PgConnection::prepareEdit(const TableLayout& layout, const std::vector<std::size_t>& columns) {
  // A table with a unique key has its saves wait for their answers.
  if (layout.hasUniqueKey()) return Connection::prepareEdit(layout, columns);
  const std::string sql = PgEditBatch::sql(layout, columns);
  auto found = batches_.find(sql);
  if (found != batches_.end()) return found->second.get();
  auto batch = std::make_unique<PgEditBatch>(*this, "b" + std::to_string(batches_.size() + 1), layout.name,
                                             columns.size());
  prepareOnServer(batch->name_, sql, layout.name);
  return batches_.emplace(sql, std::move(batch)).first->second.get();
}

// ---- transactions -----------------------------------------------------------

void PgConnection::enter() {
  requireOpen();
  checkSaves();
  applyLockTimeout();
  if (inTransaction_) return;
  sendSql("BEGIN");  // answered with the next sync point
  inTransaction_ = true;
  wrote_ = false;
  transactionStart_ = Clock::now();
}

bool PgConnection::tryCommit() {
  sendSql("COMMIT");
  Failure failure;
  try {
    failure = settle();
  } catch (const RunError& e) {
    inTransaction_ = false;
    ++stamp_;
    if (connection_)
      loseSaves({true, Kind::Control, e.what(), "", e.fault()});
    else
      lose(e);  // the session ended: the failure says what was lost
    wrote_ = false;
    return false;
  }
  if (failure.failed) {
    if (PQtransactionStatus(connection_.get()) == PQTRANS_INERROR) {
      sendSql("ROLLBACK");
      settle();
    }
    loseSaves(failure);
  }
  inTransaction_ = false;
  wrote_ = false;
  ++stamp_;
  return !failure.failed;
}

void PgConnection::idle() {
  if (!connection_ || waiting_ || !inTransaction_ || holding_ ||
      Clock::now() - transactionStart_ < kCommitInterval)
    return;
  try {
    tryCommit();
  } catch (const RunError& e) {
    lose(e);
  }
}

void PgConnection::commitNow() {
  if (!connection_) return;
  if (inTransaction_) tryCommit();
  checkSaves();
}

// Inside an open transaction (a run's) the statements are one savepoint,
// undone alone when one of them fails: a failed statement would otherwise
// abort the whole transaction.
void PgConnection::runDdl(const std::vector<std::string>& statements) {
  const bool inside = inTransaction_;
  const bool grouped = statements.size() > 1 && !inside;
  if (inside) sendSql("SAVEPOINT mailsort_ddl");
  if (grouped) sendSql("BEGIN");
  for (const auto& sql : statements) sendSql(sql);
  if (grouped) sendSql("COMMIT");
  if (inside) sendSql("RELEASE SAVEPOINT mailsort_ddl");
  const Failure failure = settle();
  if (!failure.failed) {
    if (inside) wrote_ = true;
    return;
  }
  if (inside) {
    sendSql("ROLLBACK TO SAVEPOINT mailsort_ddl");
    sendSql("RELEASE SAVEPOINT mailsort_ddl");
    const Failure undone = settle();
    if (undone.failed) raise(undone, name_);  // the run's transaction is lost
  } else if (PQtransactionStatus(connection_.get()) == PQTRANS_INERROR) {
    sendSql("ROLLBACK");
    settle();
  }
  throw RunError(failure.fault, name_ + ": " + describe(failure), name_);
}

void PgConnection::beginHeld() {
  sendSql("BEGIN");
  // A database the run cannot write is told now, before anything changes.
  PgResult rights;
  sendSql(
      "SELECT current_setting('transaction_read_only') = 'off' AND "
      "has_table_privilege('kvwork', 'UPDATE') AND has_table_privilege('parmcode', 'UPDATE') AND "
      "has_schema_privilege(current_schema(), 'CREATE')",
      Kind::Query, &rights);
  const Failure failure = settle();
  inTransaction_ = true;
  if (failure.failed) {
    rollback();
    inTransaction_ = false;
    throw RunError(faultOfState(failure.state), name_ + ": " + failure.message, name_);
  }
  if (PQntuples(rights.get()) != 1 || std::string(PQgetvalue(rights.get(), 0, 0)) != "t")
    throw RunError(Fault::ReadOnly,
                   name_ + " may not be written by this user, so the run cannot save its work", name_);
}

void PgConnection::rollback() noexcept {
  if (!connection_ || !inTransaction_) return;
  try {
    discardEdits();  // edits not sent yet go with the rest
    sendSql("ROLLBACK");
    settle();
  } catch (const std::exception&) {
    // a session that cannot answer rolls back when it ends
  }
}

// ---- the evidence of a run's commit -----------------------------------------

// A run's token is the id of its transaction: the server keeps the fate of
// every recent transaction, and tells it by id.
namespace {
constexpr const char* kTokenPrefix = "txid ";
}  // namespace

std::string PgConnection::markRun() {
  PgResult id = fetch("SELECT txid_current()::text", {});
  if (PQntuples(id.get()) != 1) throw RunError(Fault::Engine, name_ + ": no transaction id", name_);
  return kTokenPrefix + std::string(PQgetvalue(id.get(), 0, 0));
}

bool PgConnection::runCommitted(const std::string& token) {
  const std::string id = token.rfind(kTokenPrefix, 0) == 0 ? token.substr(std::strlen(kTokenPrefix)) : "";
  if (id.empty() || id.size() > 19 ||
      !std::all_of(id.begin(), id.end(), [](char c) { return c >= '0' && c <= '9'; }))
    throw RunError(Fault::Damaged, "\"" + token + "\" is not the mark of a run on the " + name_, name_);
  // A transaction the server still holds open (its program was killed a
  // moment ago) is decided as soon as the server notices: it is asked
  // again for a few seconds.
  const auto until = Clock::now() + kUndecidedWait;
  for (;;) {
    PgResult status = fetch("SELECT txid_status($1::bigint)", {id});
    const std::string state = PQntuples(status.get()) == 1 && !PQgetisnull(status.get(), 0, 0)
                                  ? PQgetvalue(status.get(), 0, 0)
                                  : "";
    if (state == "committed") return true;
    if (state == "aborted") return false;
    if (state.empty())
      throw RunError(
          Fault::Damaged,
          "the " + name_ + " no longer knows whether transaction " + id + " of the last run committed",
          name_);
    if (Clock::now() >= until)
      throw RunError(Fault::Busy,
                     "transaction " + id + " of the last run is still open on the " + name_ +
                         ", so it cannot yet be told whether that run finished",
                     name_);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
}

std::string PgConnection::identity() const { return identity_; }

}  // namespace ms::store
