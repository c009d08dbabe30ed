#include "store/sqlite_connection.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <random>
#include <thread>
#include <utility>

#include "store/sqlite_layout.h"
#include "values/fault.h"

namespace ms::store {

using namespace std::chrono_literals;

namespace {
constexpr const char* kCacheSize = "PRAGMA cache_size = -81920";
// While an index is built: the engine sorts the table's keys in as much
// memory as the page cache may take, on top of the cache.
constexpr const char* kBuildCacheSize = "PRAGMA cache_size = -16384";
// The kept value of a deferred save: (rowid, k, current value), k being the
// deferred column's place; with k = -1, whether the record has any.
constexpr const char* kDeferredFunction = "mailsort_deferred";

// A file is known to be a database by its first bytes (kSqliteHeader), read
// through the lock before the engine opens it. A path too long for the
// engine is named here too.
void requireDatabaseFile(const std::string& path, const FileLock& lock) {
  if (const std::string whole = overlongDatabasePath(path); !whole.empty())
    throw RunError(Fault::Io,
                   path + " cannot be opened: its whole path is " + std::to_string(whole.size()) +
                       " bytes long, and an SQLite database's may be at most " +
                       std::to_string(kLongestDatabasePath),
                   path);
  const std::string start = lock.start(kSqliteHeader.size());
  if (start == kSqliteHeader) return;
  throw RunError(Fault::Damaged,
                 path + (start.empty() ? " is empty: not a Mailsort Database"
                                       : " is not a Mailsort Database: it is not an SQLite 3 database file"),
                 path);
}
}  // namespace

std::shared_ptr<SqliteConnection> SqliteConnection::open(const std::string& path, OpenMode mode) {
  // One thread uses each connection and no statistics are read: the
  // engine's memory counters and their lock are not needed (this must come
  // before the engine's first use, and is refused harmlessly after it).
  static const bool configured = sqlite3_config(SQLITE_CONFIG_MEMSTATUS, 0) == SQLITE_OK;
  (void)configured;
  std::shared_ptr<SqliteConnection> connection(new SqliteConnection());
  connection->path_ = path;
  if (mode != OpenMode::Shared) connection->busyWait = kCheckWait;

  // The lock first: a file held elsewhere is never touched.
  connection->lock_ = FileLock::acquire(path, mode == OpenMode::Exclusive, mode == OpenMode::Look);
  requireDatabaseFile(path, *connection->lock_);

  connection->db_ = openHandle(path, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX);
  sqlite3* db = connection->db_.get();
  sqlite3_busy_handler(db, &SqliteConnection::onBusy, connection.get());
  // A name in double quotes is always a name, never a text.
  sqlite3_db_config(db, SQLITE_DBCONFIG_DQS_DDL, 0, nullptr);
  sqlite3_db_config(db, SQLITE_DBCONFIG_DQS_DML, 0, nullptr);
  sqlite3_create_function_v2(db, kDeferredFunction, 3, SQLITE_UTF8 | SQLITE_DIRECTONLY, connection.get(),
                             &SqliteConnection::deferredValue, nullptr, nullptr, nullptr);
  // Reading the schema tells a database from any other file. The statement
  // is finalised at once: the journal mode below cannot change while it reads.
  int rc;
  {
    sqlite3_stmt* counting = nullptr;
    rc = sqlite3_prepare_v2(db, "SELECT count(*) FROM sqlite_master", -1, &counting, nullptr);
    StatementHandle tables(counting);
    if (rc == SQLITE_OK && (rc = sqlite3_step(counting)) == SQLITE_ROW) {
      connection->empty_ = sqlite3_column_int(counting, 0) == 0;
      rc = SQLITE_OK;
    }
  }
  if (rc != SQLITE_OK) connection->fail(rc, "could not be read", path);
  // An 80 MB page cache: a walk in index order visits the table's pages out
  // of their order, and a Regional Sequencing pass rewrites them.
  sqlite3_exec(db, kCacheSize, nullptr, nullptr, nullptr);
  // Write-ahead logging: other programs read while a run saves, a commit
  // appends to the log instead of rewriting pages through a journal, and a
  // power cut can lose the last commits but never damages the file. Where
  // the mode cannot be set at once (another program has the file open in
  // the old mode), the file keeps its journal: the open does not wait.
  // A file without a table is no Mailsort Database (yet): nothing is
  // written into it here, not even the mode.
  // A look writes nothing: the file keeps its mode, and the engine refuses
  // any save on this connection.
  if (mode == OpenMode::Look) {
    sqlite3_exec(db, "PRAGMA query_only = ON", nullptr, nullptr, nullptr);
    return connection;
  }
  sqlite3_busy_handler(db, nullptr, nullptr);
  if (!connection->empty_) sqlite3_exec(db, "PRAGMA journal_mode = WAL", nullptr, nullptr, nullptr);
  sqlite3_busy_handler(db, &SqliteConnection::onBusy, connection.get());
  sqlite3_exec(db, "PRAGMA synchronous = NORMAL", nullptr, nullptr, nullptr);
  // A Regional Sequencing pass saves its records out of their order in the
  // file, so each commit rewrites most of the table's pages into the log.
  // Folding the log back into the file only after 100,000 pages (about
  // 400 MB) copies each page once for several commits instead of once for
  // each; after that the log file is cut back to 64 MB.
  sqlite3_exec(db, "PRAGMA wal_autocheckpoint = 100000", nullptr, nullptr, nullptr);
  sqlite3_exec(db, "PRAGMA journal_size_limit = 67108864", nullptr, nullptr, nullptr);

  return connection;
}

// Numbers sort before every text and blobs after them, whatever the
// collation: with an index on the field, two short looks at its ends.
bool SqliteConnection::holdsTexts(const TableLayout& layout, std::size_t column) {
  const std::string name = quoteName(layout.columns[column]);
  Statement* statement = prepare(
      "SELECT 1 FROM " + quoteName(layout.name) + " WHERE " + name + " < '' OR " + name + " >= x'' LIMIT 1",
      layout.name);
  StatementUse use(statement);
  return !statement->next();
}

std::shared_ptr<TableLayout> SqliteConnection::readLayout(const std::string& name) {
  if (empty_) throw RunError(Fault::NotFound, path_ + " is empty: not a Mailsort Database", path_);
  auto layout = readSqliteLayout(db_.get(), name);
  if (!layout) throw RunError(Fault::NotFound, "Table '" + name + "' not found in " + path_, name);
  return layout;
}

std::string SqliteConnection::indexDefinition(const std::string& engineName) {
  return readSqliteIndexDefinition(db_.get(), engineName);
}

// With a small cache while the sort runs, the run's peak memory stays that
// of the page cache however large the table. A build takes about a second
// per million records.
void SqliteConnection::buildIndexes(const std::vector<std::string>& definitions) {
  sqlite3* db = db_.get();
  sqlite3_exec(db, kBuildCacheSize, nullptr, nullptr, nullptr);
  try {
    whileShowingProgress([&] { executeDdl(definitions); });
  } catch (...) {
    sqlite3_exec(db, kCacheSize, nullptr, nullptr, nullptr);
    throw;
  }
  sqlite3_exec(db, kCacheSize, nullptr, nullptr, nullptr);
}

// One statement sweeps the table in rowid order and rewrites the records
// that have kept values: about a second per million records.
void SqliteConnection::writeSaves(DeferredSaves& saves) {
  saves.sort();
  const auto layout = table(saves.table());
  std::string sql = "UPDATE " + quoteName(layout->name) + " SET ";
  for (std::size_t k = 0; k < saves.columns().size(); ++k) {
    const std::string column = quoteName(layout->columns[saves.columns()[k]]);
    sql += (k ? ", " : "") + column + " = " + kDeferredFunction + "(rowid, " + std::to_string(k) + ", " +
           column + ")";
  }
  sql += std::string(" WHERE ") + kDeferredFunction + "(rowid, -1, NULL)";
  Statement* statement = prepare(sql, layout->name);
  writing_ = &saves;
  try {
    whileShowingProgress([&] {
      StatementUse use(statement);
      statement->write();
    });
  } catch (...) {
    writing_ = nullptr;
    throw;
  }
  writing_ = nullptr;
  saves.clear();
}

void SqliteConnection::deferredValue(sqlite3_context* context, int, sqlite3_value** arguments) {
  auto* connection = static_cast<SqliteConnection*>(sqlite3_user_data(context));
  DeferredSaves* saves = connection->writing_;
  const std::size_t entry = saves ? saves->locate(sqlite3_value_int64(arguments[0])) : DeferredSaves::npos;
  const int k = sqlite3_value_int(arguments[1]);
  Value& value = connection->deferredScratch_;
  if (k < 0) {
    sqlite3_result_int(context, entry != DeferredSaves::npos);
  } else if (entry == DeferredSaves::npos || !saves->value(entry, static_cast<std::size_t>(k), value)) {
    sqlite3_result_value(context, arguments[2]);
  } else if (value.isNull()) {
    sqlite3_result_null(context);
  } else if (value.isNumber()) {
    sqlite3_result_double(context, value.number());
  } else {
    const std::string text = value.text();
    sqlite3_result_text(context, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
  }
}

// The wait hook runs meanwhile (the window repaints and takes a Cancel),
// with no wait for another program to tell. The statement is never
// stopped: the engine would roll back the whole run with it, and a
// cancelled run is undone just after anyway.
void SqliteConnection::whileShowingProgress(const std::function<void()>& work) {
  sqlite3* db = db_.get();
  lastHook_ = {};
  sqlite3_progress_handler(db, 1000, &SqliteConnection::onProgress, this);
  try {
    work();
  } catch (...) {
    sqlite3_progress_handler(db, 0, nullptr, nullptr);
    throw;
  }
  sqlite3_progress_handler(db, 0, nullptr, nullptr);
}

int SqliteConnection::onProgress(void* self) {
  auto* connection = static_cast<SqliteConnection*>(self);
  const auto now = Clock::now();
  if (now - connection->lastHook_ < 20ms) return 0;
  connection->lastHook_ = now;
  connection->waiting_ = true;
  connection->askToWait(Clock::duration::zero(), WaitReason::Unknown);
  connection->waiting_ = false;
  return 0;
}

SqliteConnection::~SqliteConnection() {
  try {
    close();
  } catch (const std::exception&) {
    // a destructor cannot report; close() has released everything
  }
}

void SqliteConnection::fail(int rc, const std::string& context, const std::string& where) {
  std::string detail = db_ ? sqlite3_errmsg(db_.get()) : sqlite3_errstr(rc);
  throw error(rc, (context.empty() ? "" : context + ": ") + detail, where);
}

RunError SqliteConnection::error(int rc, const std::string& detail, const std::string& where) {
  if ((rc & 0xFF) == SQLITE_BUSY) {
    const bool interrupted = std::exchange(interrupted_, false);
    const std::string table = where == path_ ? std::string() : where;
    return interrupted ? interruptedError("database " + path_, table) : busyError("database " + path_, table);
  }
  return RunError(faultOf(rc, detail), (where.empty() ? "" : where + ": ") + detail, where);
}

// The engine's busy handler: another program holds the file. The
// connection waits up to `busyWait` in all over its life, letting the window
// system run meanwhile through the wait hook, which may stop the wait.
int SqliteConnection::onBusy(void* self, int attempts) {
  auto* connection = static_cast<SqliteConnection*>(self);
  const auto now = Clock::now();
  if (attempts == 0) {
    connection->busySince_ = connection->lastHook_ = now;
    connection->waitedBefore_ = connection->waitedForOthers_;
    connection->interrupted_ = false;
  }
  connection->waitedForOthers_ = connection->waitedBefore_ + (now - connection->busySince_);
  if (connection->waitedForOthers_ >= connection->busyWait) return 0;
  if (now - connection->lastHook_ >= 20ms) {
    connection->lastHook_ = now;
    connection->waiting_ = true;
    const bool goOn = connection->askToWait(now - connection->busySince_, WaitReason::OtherProgram);
    connection->waiting_ = false;
    if (!goOn) {
      connection->interrupted_ = true;
      return 0;
    }
  }
  std::this_thread::sleep_for(5ms);
  return 1;
}

Statement* SqliteConnection::prepare(const std::string& sql, const std::string& table) {
  auto found = statements_.find(sql);
  if (found != statements_.end()) return found->second.get();
  StatementHandle statement;
  try {
    statement = prepareHandle(db_.get(), sql, SQLITE_PREPARE_PERSISTENT);
  } catch (const RunError& e) {
    throw RunError(e.fault(), e.what(), path_);
  }
  auto kept = std::make_unique<SqliteStatement>(*this, std::move(statement), table);
  return statements_.emplace(sql, std::move(kept)).first->second.get();
}

bool SqliteStatement::next() {
  const int rc = sqlite3_step(statement_.get());
  if (rc == SQLITE_ROW) return true;
  if (rc != SQLITE_DONE) connection_.fail(rc, {}, table_);
  return false;
}

std::int64_t SqliteStatement::write() {
  const int rc = connection_.stepWrite(statement_.get());
  if (rc != SQLITE_DONE) throw connection_.error(rc, sqlite3_errmsg(connection_.handle()), table_);
  return sqlite3_changes(connection_.handle());
}

// The engine rolled the transaction back after a statement failed (that
// failure is recorded on its own): the saves since the last commit are lost.
void SqliteConnection::noteRollback() {
  if (!inTransaction_ || !sqlite3_get_autocommit(db_.get())) return;
  inTransaction_ = false;
  ++stamp_;
  if (wrote_)
    lose(RunError(Fault::Io,
                  path_ + ": the saves since the last commit were lost: the engine rolled them back", path_));
  wrote_ = false;
}

void SqliteConnection::enter() {
  checkSaves();
  if (inTransaction_) return;
  int rc = sqlite3_exec(db_.get(), "BEGIN", nullptr, nullptr, nullptr);
  if (rc != SQLITE_OK) fail(rc, "BEGIN", path_);
  inTransaction_ = true;
  wrote_ = false;
  transactionStart_ = Clock::now();
}

int SqliteConnection::stepWrite(sqlite3_stmt* statement) {
  int rc = sqlite3_step(statement);
  if ((rc & 0xFF) != SQLITE_BUSY || wrote_ || !inTransaction_) {
    if (rc == SQLITE_DONE) wrote_ = true, ++stamp_;
    return rc;
  }
  sqlite3_reset(statement);
  sqlite3_exec(db_.get(), "COMMIT", nullptr, nullptr, nullptr);  // only reads: nothing is lost
  inTransaction_ = false;
  ++stamp_;
  rc = sqlite3_exec(db_.get(), "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
  if (rc != SQLITE_OK) return rc;
  inTransaction_ = true;
  transactionStart_ = Clock::now();
  rc = sqlite3_step(statement);
  if (rc == SQLITE_DONE) wrote_ = true, ++stamp_;
  return rc;
}

bool SqliteConnection::tryCommit() {
  int rc = sqlite3_exec(db_.get(), "COMMIT", nullptr, nullptr, nullptr);
  if (rc == SQLITE_OK || sqlite3_get_autocommit(db_.get())) {
    inTransaction_ = false;
    ++stamp_;
    if (rc != SQLITE_OK && wrote_) {
      const Fault fault = faultOf(rc, "");  // a commit that fails is never an odd value
      lose(RunError(fault == Fault::Engine ? Fault::Io : fault,
                    path_ + ": the saves since the last commit were lost: " + sqlite3_errstr(rc), path_));
    }
    wrote_ = false;
    return rc == SQLITE_OK;
  }
  // Busy: the transaction stays open and is tried again an interval later.
  transactionStart_ = Clock::now();
  return false;
}

void SqliteConnection::idle() {
  if (!db_ || waiting_ || !inTransaction_) return;
  noteRollback();  // the next operation tells
  if (inTransaction_ && !holding_ && Clock::now() - transactionStart_ >= kCommitInterval) tryCommit();
}

void SqliteConnection::commitNow() {
  if (inTransaction_) tryCommit();  // waits while another program holds the file
  if (inTransaction_) fail(SQLITE_BUSY, "Could not save pending changes", path_);
  checkSaves();
}

// The statements as one savepoint: a transaction of their own, or a part of
// the run's that is undone alone when one of them fails.
void SqliteConnection::runDdl(const std::vector<std::string>& statements) {
  sqlite3* db = db_.get();
  int rc = sqlite3_exec(db, "SAVEPOINT mailsort_ddl", nullptr, nullptr, nullptr);
  if (rc != SQLITE_OK) fail(rc, "SAVEPOINT", path_);
  for (const auto& sql : statements) {
    rc = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK) {
      const std::string message = sqlite3_errmsg(db);
      sqlite3_exec(db, "ROLLBACK TO mailsort_ddl; RELEASE mailsort_ddl", nullptr, nullptr, nullptr);
      if ((rc & 0xFF) == SQLITE_BUSY) throw error(rc, message, path_);
      throw RunError(faultOf(rc, message), sql + ": " + message, path_);
    }
  }
  empty_ = false;
  rc = sqlite3_exec(db, "RELEASE mailsort_ddl", nullptr, nullptr, nullptr);
  if (rc != SQLITE_OK) {
    const std::string message = sqlite3_errmsg(db);
    sqlite3_exec(db, "ROLLBACK TO mailsort_ddl; RELEASE mailsort_ddl", nullptr, nullptr, nullptr);
    throw RunError(faultOf(rc, message), "RELEASE: " + message, path_);
  }
  if (inTransaction_) wrote_ = true;
}

void SqliteConnection::beginHeld() {
  if (sqlite3_db_readonly(db_.get(), "main") == 1)
    throw RunError(Fault::ReadOnly, path_ + " is read-only, so the run cannot save its work", path_);
  // The run's commit is on the disk before its files are put in place: the
  // log is synced at the commit, not only at the next checkpoint (this
  // cannot change inside a transaction).
  sqlite3_exec(db_.get(), "PRAGMA synchronous = FULL", nullptr, nullptr, nullptr);
  // The write lock now, waiting for other programs as a statement does:
  // nothing of the run can then be refused for want of it.
  const int rc = sqlite3_exec(db_.get(), "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
  if (rc != SQLITE_OK) fail(rc, "the run cannot begin its work", path_);
  inTransaction_ = true;
}

void SqliteConnection::rollback() noexcept {
  if (db_ && !sqlite3_get_autocommit(db_.get()))
    sqlite3_exec(db_.get(), "ROLLBACK", nullptr, nullptr, nullptr);
}

void SqliteConnection::close() {
  closing();
  std::unique_ptr<RunError> error;
  if (db_) {
    try {
      if (holding_)
        rollbackRun();
      else
        commitNow();
    } catch (const RunError& e) {
      error = std::make_unique<RunError>(e);
      sqlite3_exec(db_.get(), "ROLLBACK", nullptr, nullptr, nullptr);
      inTransaction_ = false;
    }
    statements_.clear();  // finalised before the handle closes
    tables_.clear();
    db_.reset();
  }
  lock_.reset();  // only after the engine has closed the file
  if (error) throw RunError(*error);
}

// A run's token is the header's user version, which the suite's other
// programs leave at 0: a number that the file holds from the run's commit on.
namespace {
constexpr const char* kTokenPrefix = "user_version ";
}  // namespace

int SqliteConnection::userVersion() {
  sqlite3_stmt* raw = nullptr;
  int rc = sqlite3_prepare_v2(db_.get(), "PRAGMA user_version", -1, &raw, nullptr);
  StatementHandle statement(raw);
  if (rc == SQLITE_OK && (rc = sqlite3_step(raw)) == SQLITE_ROW) return sqlite3_column_int(raw, 0);
  fail(rc, "the header could not be read", path_);
}

std::string SqliteConnection::markRun() {
  const int current = userVersion();
  std::random_device seed;
  std::uniform_int_distribution<int> pick(1, INT_MAX);
  int token = pick(seed);
  while (token == current) token = pick(seed);
  const std::string sql = "PRAGMA user_version = " + std::to_string(token);
  const int rc = sqlite3_exec(db_.get(), sql.c_str(), nullptr, nullptr, nullptr);
  if (rc != SQLITE_OK) fail(rc, "the run could not be marked", path_);
  wrote_ = true;
  return kTokenPrefix + std::to_string(token);
}

bool SqliteConnection::runCommitted(const std::string& token) {
  const std::string digits = token.rfind(kTokenPrefix, 0) == 0 ? token.substr(std::strlen(kTokenPrefix)) : "";
  const bool number =
      !digits.empty() && digits.size() <= 10 && digits[0] != '0' &&
      std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }) &&
      std::stoll(digits) <= INT_MAX;
  if (!number)
    throw RunError(Fault::Damaged, "\"" + token + "\" is not the mark of a run on " + path_, path_);
  return userVersion() == std::stoi(digits);
}

std::string SqliteConnection::identity() const { return wholeDatabasePath(path_); }

}  // namespace ms::store
