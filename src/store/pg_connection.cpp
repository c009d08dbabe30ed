#include "store/pg_connection.h"

#include <poll.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <optional>
#include <thread>

#include "values/fault.h"

namespace ms::store {

namespace {

// Saves sent without waiting are collected at least this often, so that
// the answers never pile up on either side.
constexpr std::size_t kSettleEvery = 1024;
// Edits gathered into one statement at most (a walk's reads, every 128
// records, send them sooner).
constexpr std::size_t kBatchRecords = 256;

// A value as an element of a PostgreSQL array in text form.
void appendElement(std::string& array, const std::string& text, bool null) {
  array += array.size() > 1 ? "," : "";
  if (null) {
    array += "NULL";
    return;
  }
  array += '"';
  for (char c : text) {
    if (c == '"' || c == '\\') array += '\\';
    array += c;
  }
  array += '"';
}

// Sessions of exclusive checks handed over to the run that follows them,
// by gate key: each holds the shared gate lock until this process opens
// the same database shared.
std::map<std::string, PgHandle>& handedOver() {
  static auto* sessions = new std::map<std::string, PgHandle>();
  return *sessions;
}

std::string trimmed(const char* message) {
  std::string text = message ? message : "";
  while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
  return text;
}

std::string numberText(double number) {
  if (std::isnan(number)) return "NaN";
  if (std::isinf(number)) return number > 0 ? "Infinity" : "-Infinity";
  char text[32];
  std::snprintf(text, sizeof text, "%.17g", number);
  return text;
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
                   name + ": " + trimmed(PQresultErrorMessage(result.get())), name);
  }
  return PQgetvalue(result.get(), 0, 0);
}

}  // namespace

Fault faultOfState(const std::string& state) {
  auto is = [&](const char* prefix) { return state.rfind(prefix, 0) == 0; };
  if (state == "42P01" || state == "42703" || state == "42704" || state == "3F000") return Fault::NotFound;
  if (state == "55P03" || state == "40P01" || state == "40001" || state == "57014") return Fault::Busy;
  if (state == "25006" || state == "42501") return Fault::ReadOnly;
  if (state == "XX001" || state == "XX002") return Fault::Damaged;
  if (state.empty() || is("08") || is("53") || is("57") || is("58") || is("XX")) return Fault::Io;
  return Fault::Engine;  // a broken constraint, a value out of range
}

// ---- statements -------------------------------------------------------------

std::string& PgStatement::slot(int parameter) {
  const auto index = static_cast<std::size_t>(parameter - 1);
  if (texts_.size() <= index) {
    texts_.resize(index + 1);
    nulls_.resize(index + 1, 1);
    values_.resize(index + 1, nullptr);
  }
  count_ = std::max(count_, parameter);
  nulls_[index] = 0;
  return texts_[index];
}

void PgStatement::bind(int parameter, const Value& value, int /*type*/) {
  std::string& text = slot(parameter);
  if (value.isNull())
    nulls_[static_cast<std::size_t>(parameter - 1)] = 1;
  else if (value.isNumber())
    text = numberText(value.number());
  else
    text = value.textOrEmpty();
}

void PgStatement::bindInteger(int parameter, std::int64_t value) { slot(parameter) = std::to_string(value); }

bool PgStatement::next() {
  if (!ran_) {
    connection_.query(*this);
    ran_ = true;
    row_ = -1;
    const int columns = PQnfields(result_.get());
    numeric_.assign(static_cast<std::size_t>(columns), 0);
    for (int i = 0; i < columns; ++i) {
      const Oid type = PQftype(result_.get(), i);
      // bool, int8, int2, int4, oid, float4, float8, numeric
      numeric_[static_cast<std::size_t>(i)] = type == 16 || type == 20 || type == 21 || type == 23 ||
                                              type == 26 || type == 700 || type == 701 || type == 1700;
    }
  }
  return ++row_ < PQntuples(result_.get());
}

std::int64_t PgStatement::integer(int column) const {
  return std::strtoll(PQgetvalue(result_.get(), row_, column), nullptr, 10);
}

void PgStatement::readRow(std::vector<Value>& row, std::vector<int>& types, const char* wanted) const {
  for (std::size_t i = 0; i < row.size(); ++i) {
    if (wanted && !wanted[i]) continue;
    const int column = static_cast<int>(i + 1);
    if (PQgetisnull(result_.get(), row_, column)) {
      row[i].setNull();
      types[i] = kNull;
      continue;
    }
    const char* text = PQgetvalue(result_.get(), row_, column);
    if (numeric_[i + 1]) {
      row[i].setNumber(std::strtod(text, nullptr));
      types[i] = kFloat;
    } else {
      row[i].setText(text, static_cast<std::size_t>(PQgetlength(result_.get(), row_, column)));
      types[i] = kText;
    }
  }
}

std::int64_t PgStatement::write() { return connection_.write(*this); }

void PgEditBatch::bind(int parameter, const Value& value, int /*type*/) {
  const auto index = static_cast<std::size_t>(parameter - 1);
  currentNull_[index] = value.isNull();
  if (value.isNumber())
    current_[index] = numberText(value.number());
  else if (value.isText())
    current_[index] = value.textOrEmpty();
}

void PgEditBatch::bindInteger(int parameter, std::int64_t value) {
  const auto index = static_cast<std::size_t>(parameter - 1);
  currentNull_[index] = 0;
  current_[index] = std::to_string(value);
}

std::int64_t PgEditBatch::write() {
  connection_.gather(*this);
  return -1;
}

void PgStatement::reset() {
  result_.reset();
  ran_ = false;
  row_ = -1;
  count_ = 0;
  std::fill(nulls_.begin(), nulls_.end(), 1);
}

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

// ---- the pipeline -----------------------------------------------------------

void PgConnection::broken() {
  if (!connection_) requireOpen();
  const RunError lost = lostConnection(connection_.get(), name_);
  drop(lost, lost.what());
}

void PgConnection::drop(const RunError& failure, const std::string& why) {
  // Nothing more is waited for: the server rolls back what was not
  // committed when it sees the connection end.
  connection_.reset();
  owed_.clear();
  discardEdits();
  unsettled_ = 0;
  cancelAt_.reset();
  ++stamp_;
  std::string ended = why;
  if (inTransaction_ && wrote_) ended += "; the saves since the last commit were lost";
  inTransaction_ = false;
  wrote_ = false;
  ended_ = std::make_unique<RunError>(Fault::Io, ended, name_);
  throw RunError(failure.fault(), failure.fault() == Fault::Io ? ended : failure.what(), failure.where());
}

void PgConnection::discardEdits() {
  gathering_ = nullptr;
  for (auto& [sql, batch] : batches_) {
    for (auto& array : batch->arrays_) array.clear();
    batch->rowids_.clear();
  }
}

void PgConnection::send(Kind kind, PgStatement* statement) {
  sendEdits();
  for (int i = 0; i < statement->count_; ++i) {
    const auto index = static_cast<std::size_t>(i);
    statement->values_[index] = statement->nulls_[index] ? nullptr : statement->texts_[index].c_str();
  }
  if (PQsendQueryPrepared(connection_.get(), statement->name_.c_str(), statement->count_,
                          statement->values_.data(), nullptr, nullptr, 0) != 1)
    broken();
  owed_.push_back({kind, statement, nullptr});
}

void PgConnection::sendSql(const std::string& sql, Kind kind, PgResult* into,
                           const std::vector<std::string>& parameters) {
  sendEdits();
  std::vector<const char*> values;
  for (const auto& parameter : parameters) values.push_back(parameter.c_str());
  if (PQsendQueryParams(connection_.get(), sql.c_str(), static_cast<int>(values.size()), nullptr,
                        values.data(), nullptr, nullptr, 0) != 1)
    broken();
  owed_.push_back({kind, nullptr, into});
}

void PgConnection::awaitResult() {
  using namespace std::chrono_literals;
  PGconn* session = connection_.get();
  const auto start = Clock::now();
  auto heard = start, hooked = start;
  std::optional<BlockingProbe> probe;
  WaitReason why = WaitReason::Unknown;
  for (;;) {
    const int flushed = PQflush(session);  // 1: more to send
    if (flushed < 0) broken();
    if (flushed == 0 && !PQisBusy(session)) break;
    pollfd socket{PQsocket(session), static_cast<short>(POLLIN | (flushed ? POLLOUT : 0)), 0};
    const int ready = ::poll(&socket, 1, 20);
    auto now = Clock::now();
    if (ready > 0 && (socket.revents & ~POLLOUT)) {
      if (PQconsumeInput(session) != 1) broken();
      heard = now;
      continue;
    }
    if (cancelAt_) {  // the wait was stopped: the server has a while to answer the cancel
      if (now - *cancelAt_ >= kCancelWait)
        drop(interruptedError(name_, {}),
             "the connection to the " + name_ + " was closed: the server did not answer a cancel");
      continue;
    }
    // A server waiting for a lock says nothing until it has it or gives up.
    // The message names the limit that ended the wait.
    const auto limit = std::max<std::chrono::milliseconds>(silenceLimit, appliedWait_ + kLockGrace);
    if (now - heard >= limit) drop(silentServer(name_, limit), silentServer(name_, limit).what());
    // Why the server keeps us waiting is asked once, a second into the
    // wait: a lock another session holds, or a server that answers no one.
    if (!probe && now - start >= kAskWhyAfter) probe.emplace(uri_, PQbackendPID(session), kProbeLimit);
    if (probe && why == WaitReason::Unknown) {
      const auto answer = probe->step();
      if (answer == BlockingProbe::Answer::Blocked) why = WaitReason::OtherProgram;
      if (answer == BlockingProbe::Answer::NoAnswer) why = WaitReason::Server;
    }
    if (now - hooked < 20ms) continue;
    hooked = now;
    waiting_ = true;
    const bool goOn = askToWait(now - start, why);
    waiting_ = false;
    if (goOn) continue;
    cancelAt_ = Clock::now();
    requestCancel(session, kCancelWait);
  }
  // Beyond a second, an answer counts as a wait for another program's lock
  // (the server's own work on one statement of the store takes far less).
  const auto took = Clock::now() - start;
  if (took > kServerWork) waitedForOthers_ += took - kServerWork;
}

PgConnection::Failure PgConnection::settle() {
  sendEdits();
  if (PQpipelineSync(connection_.get()) != 1) broken();
  owed_.push_back({Kind::Sync});
  Failure failure;
  while (!owed_.empty()) {
    Owed owed = owed_.front();
    owed_.pop_front();
    awaitResult();
    if (owed.kind == Kind::Sync) {
      PgResult sync(PQgetResult(connection_.get()));
      if (PQresultStatus(sync.get()) != PGRES_PIPELINE_SYNC) broken();
      break;
    }
    for (;;) {
      awaitResult();
      PGresult* raw = PQgetResult(connection_.get());
      if (!raw) break;
      PgResult result(raw);
      const auto status = PQresultStatus(raw);
      if (status == PGRES_TUPLES_OK || status == PGRES_COMMAND_OK) {
        if (owed.kind == Kind::Write &&
            std::strtoull(PQcmdTuples(raw), nullptr, 10) < owed.records)  // a record was not found
          lose(RunError(Fault::NoCurrentRecord, "Record is deleted."));
        if (owed.statement && (owed.kind == Kind::Query || owed.kind == Kind::Guarded))
          owed.statement->result_ = std::move(result);
        if (owed.into) *owed.into = std::move(result);
      } else if (status != PGRES_PIPELINE_ABORTED && !failure.failed) {
        const char* state = PQresultErrorField(raw, PG_DIAG_SQLSTATE);
        failure = {true, owed.kind, trimmed(PQresultErrorMessage(raw)), state ? state : ""};
        failure.fault =
            cancelAt_ && failure.state == "57014" ? Fault::Interrupted : faultOfState(failure.state);
        if (failure.state == "55P03")  // the lock timeout was what was left of the wait
          waitedForOthers_ = std::max<Clock::duration>(waitedForOthers_, busyWait);
      }
    }
    if (PQstatus(connection_.get()) != CONNECTION_OK) broken();
  }
  unsettled_ = 0;
  cancelAt_.reset();
  return failure;
}

void PgConnection::raise(const Failure& failure, const std::string& where) {
  if (PQtransactionStatus(connection_.get()) == PQTRANS_INERROR) {
    sendSql("ROLLBACK");
    settle();
  }
  bool lost = false;
  if (inTransaction_ && PQtransactionStatus(connection_.get()) == PQTRANS_IDLE) {
    inTransaction_ = false;
    ++stamp_;
    lost = wrote_ && failure.kind != Kind::Guarded;
    // A stopped wait says so itself; the next operation need not fail too.
    if (failure.fault != Fault::Interrupted && failure.kind != Kind::Guarded) loseSaves(failure);
    wrote_ = false;
  }
  const std::string at = where.empty() ? name_ : where;
  if (failure.fault != Fault::Interrupted) throw RunError(failure.fault, at + ": " + describe(failure), at);
  const RunError stopped = interruptedError(name_, where == name_ ? std::string() : where);
  throw RunError(Fault::Interrupted,
                 std::string(stopped.what()) + (lost ? "; the saves since the last commit were lost" : ""),
                 stopped.where());
}

std::string PgConnection::describe(const Failure& failure) const {
  if (failure.fault == Fault::Busy)
    return busyError(name_, {}).what() + (failure.state == "40P01" ? std::string(" (a deadlock)") : "");
  if (failure.fault == Fault::Interrupted) return interruptedError(name_, {}).what();
  return failure.message;
}

void PgConnection::loseSaves(const Failure& failure) {
  if (!wrote_) return;
  // A loss is never an odd value: a lock that timed out is busy, a stopped
  // wait interrupted, the rest I/O.
  const Fault fault =
      failure.fault == Fault::Busy || failure.fault == Fault::Interrupted ? failure.fault : Fault::Io;
  lose(RunError(fault, name_ + ": the saves since the last commit were lost: " + describe(failure), name_));
}

PgResult PgConnection::fetch(const std::string& sql, const std::vector<std::string>& parameters) {
  PgResult result;
  sendSql(sql, Kind::Query, &result, parameters);
  const Failure failure = settle();
  if (failure.failed) raise(failure, name_);
  return result;
}

void PgConnection::prepareOnServer(const std::string& name, const std::string& sql,
                                   const std::string& table) {
  sendEdits();
  if (PQsendPrepare(connection_.get(), name.c_str(), sql.c_str(), 0, nullptr) != 1) broken();
  owed_.push_back({Kind::Control});
  const Failure failure = settle();
  if (failure.failed) raise(failure, table);
}

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
  std::string sql = "UPDATE " + quoteName(layout.name) + " SET ", arrays, names;
  for (std::size_t i = 0; i < columns.size(); ++i) {
    const std::string name = quoteName(layout.columns[columns[i]]);
    const bool text = layout.affinities[columns[i]] == Affinity::Text;
    sql += (i ? ", " : "") + name + " = u." + name;
    arrays += "$" + std::to_string(i + 1) + (text ? "::text[], " : "::float8[], ");
    names += name + ", ";
  }
  sql += " FROM unnest(" + arrays + "$" + std::to_string(columns.size() + 1) + "::bigint[]) AS u(" + names +
         "rowid) WHERE " + quoteName(layout.name) + ".rowid = u.rowid";
  auto found = batches_.find(sql);
  if (found != batches_.end()) return found->second.get();
  auto batch = std::make_unique<PgEditBatch>(*this, "b" + std::to_string(batches_.size() + 1), layout.name,
                                             columns.size());
  prepareOnServer(batch->name_, sql, layout.name);
  return batches_.emplace(sql, std::move(batch)).first->second.get();
}

void PgConnection::gather(PgEditBatch& batch) {
  const std::int64_t rowid = std::strtoll(batch.current_.back().c_str(), nullptr, 10);
  // One statement finds each record once: an edit of a record already
  // gathered, or of other fields, goes after the edits before it.
  if (gathering_ != &batch ||
      std::find(batch.rowids_.begin(), batch.rowids_.end(), rowid) != batch.rowids_.end())
    sendEdits();
  gathering_ = &batch;
  for (std::size_t i = 0; i < batch.current_.size(); ++i) {
    if (batch.arrays_[i].empty()) batch.arrays_[i] = "{";
    appendElement(batch.arrays_[i], batch.current_[i], batch.currentNull_[i]);
  }
  batch.rowids_.push_back(rowid);
  wrote_ = true;
  ++stamp_;
  if (batch.rowids_.size() >= kBatchRecords) {
    sendEdits();
    sent(batch.table_);
  }
}

void PgConnection::sendEdits() {
  PgEditBatch* batch = gathering_;
  if (!batch) return;
  gathering_ = nullptr;
  std::vector<const char*> values;
  for (auto& array : batch->arrays_) values.push_back((array += "}").c_str());
  const int sentOk = PQsendQueryPrepared(connection_.get(), batch->name_.c_str(),
                                         static_cast<int>(values.size()), values.data(), nullptr, nullptr, 0);
  const std::size_t records = batch->rowids_.size();
  for (auto& array : batch->arrays_) array.clear();
  batch->rowids_.clear();
  if (sentOk != 1) broken();
  owed_.push_back({Kind::Write, nullptr, nullptr, records});
}

void PgConnection::sent(const std::string& table) {
  if (++unsettled_ < kSettleEvery) return;
  const Failure failure = settle();
  if (failure.failed) raise(failure, table);
}

void PgConnection::query(PgStatement& statement) {
  send(Kind::Query, &statement);
  const Failure failure = settle();
  if (failure.failed) raise(failure, statement.table_);
}

std::int64_t PgConnection::write(PgStatement& statement) {
  if (!statement.guarded_) {
    send(Kind::Write, &statement);
    wrote_ = true;
    ++stamp_;
    sent(statement.table_);
    return -1;
  }
  sendSql("SAVEPOINT mailsort_save");
  send(Kind::Guarded, &statement);
  const Failure failure = settle();
  if (failure.failed) {
    if (failure.kind == Kind::Guarded) {  // only this save is undone
      sendSql("ROLLBACK TO SAVEPOINT mailsort_save");
      const Failure undone = settle();
      if (!undone.failed) {
        statement.result_.reset();
        throw RunError(failure.fault, statement.table_ + ": " + describe(failure), statement.table_);
      }
    }
    raise(failure, statement.table_);
  }
  sendSql("RELEASE SAVEPOINT mailsort_save");
  wrote_ = true;
  ++stamp_;
  const std::int64_t changes = std::strtoll(PQcmdTuples(statement.result_.get()), nullptr, 10);
  statement.result_.reset();
  return changes;
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

// A statement waits for other programs' locks as long as is left of the
// connection's wait (at least a millisecond: 0 would be no limit).
void PgConnection::applyLockTimeout() {
  using namespace std::chrono;
  const auto left = std::max(duration_cast<milliseconds>(busyWait - waitedForOthers_), milliseconds(1));
  if (left == appliedWait_) return;
  sendSql("SELECT set_config('lock_timeout', $1, false)", Kind::Control, nullptr,
          {std::to_string(left.count())});
  appliedWait_ = left;
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
