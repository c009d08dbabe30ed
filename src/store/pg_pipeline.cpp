#include "store/pg_pipeline.h"

#include <poll.h>

#include <algorithm>
#include <cstdlib>
#include <optional>

#include "store/pg_connection.h"
#include "values/fault.h"

namespace ms::store {

namespace {

// Saves sent without waiting are collected at least this often, so that
// the answers never pile up on either side.
constexpr std::size_t kSettleEvery = 1024;
// Edits gathered into one statement at most (a walk's reads, every 128
// records, send them sooner).
constexpr std::size_t kBatchRecords = 256;

// How long a server has to answer a cancel before the session is dropped.
constexpr std::chrono::milliseconds kCancelWait{2000};
// How long past its lock timeout a server may stay silent.
constexpr std::chrono::milliseconds kLockGrace{5000};
// The part of a wait for an answer that is not counted as a wait for
// another program's lock.
constexpr std::chrono::milliseconds kServerWork{1000};
// How long a wait lasts before the store asks the server why, and how
// long the server then has to answer that question.
constexpr std::chrono::milliseconds kAskWhyAfter{1000};
constexpr std::chrono::milliseconds kProbeLimit{2000};

}  // namespace

std::string trimmedMessage(const char* message) {
  std::string text = message ? message : "";
  while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
  return text;
}

Fault faultOfState(const std::string& state) {
  auto is = [&](const char* prefix) { return state.rfind(prefix, 0) == 0; };
  if (state == "42P01" || state == "42703" || state == "42704" || state == "3F000") return Fault::NotFound;
  if (state == "55P03" || state == "40P01" || state == "40001" || state == "57014") return Fault::Busy;
  if (state == "25006" || state == "42501") return Fault::ReadOnly;
  if (state == "XX001" || state == "XX002") return Fault::Damaged;
  if (state.empty() || is("08") || is("53") || is("57") || is("58") || is("XX")) return Fault::Io;
  return Fault::Engine;  // a broken constraint, a value out of range
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
  for (auto& [sql, batch] : batches_) batch->clear();
}

void PgConnection::send(Kind kind, PgStatement* statement) {
  sendEdits();
  if (PQsendQueryPrepared(connection_.get(), statement->name_.c_str(), statement->count_, statement->values(),
                          nullptr, nullptr, 0) != 1)
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
        failure = {true, owed.kind, trimmedMessage(PQresultErrorMessage(raw)), state ? state : ""};
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

// ---- statements and edits -------------------------------------------------

void PgConnection::gather(PgEditBatch& batch) {
  // One statement finds each record once: an edit of a record already
  // gathered, or of other fields, goes after the edits before it.
  if (gathering_ != &batch || batch.holds(batch.rowid())) sendEdits();
  gathering_ = &batch;
  batch.add();
  wrote_ = true;
  ++stamp_;
  if (batch.records() >= kBatchRecords) {
    sendEdits();
    sent(batch.table_);
  }
}

void PgConnection::sendEdits() {
  PgEditBatch* batch = gathering_;
  if (!batch) return;
  gathering_ = nullptr;
  const std::vector<const char*> values = batch->arrays();
  const int sentOk = PQsendQueryPrepared(connection_.get(), batch->name_.c_str(),
                                         static_cast<int>(values.size()), values.data(), nullptr, nullptr, 0);
  const std::size_t records = batch->records();
  batch->clear();
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

// ---- the wait for other programs' locks -----------------------------------

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

}  // namespace ms::store
