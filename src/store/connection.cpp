#include "store/connection.h"

#include <algorithm>
#include <cstdlib>
#include <set>
#include <thread>

#include "values/fault.h"

namespace ms::store {

namespace {

using namespace std::chrono_literals;

// Open connections, so that saves still pending when the program ends
// normally (exit() without unwinding) are committed.
struct OpenConnections {
  std::set<Connection*> connections;
};

void commitAllAtExit();

OpenConnections& openConnections() {
  static OpenConnections* registry = [] {
    auto* created = new OpenConnections();  // never destroyed: used by the exit hook
    std::atexit(commitAllAtExit);
    return created;
  }();
  return *registry;
}

void commitAllAtExit() {
  for (Connection* connection : openConnections().connections) {
    try {
      if (connection->isOpen()) connection->commitNow();
    } catch (const std::exception&) {
      // nothing more can be done at exit
    }
  }
}

}  // namespace

Fault faultOf(int rc, const std::string& message) {
  switch (rc & 0xFF) {
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
      return Fault::Busy;
    case SQLITE_IOERR:
    case SQLITE_FULL:
    case SQLITE_CANTOPEN:
    case SQLITE_NOMEM:
    case SQLITE_NOLFS:
    case SQLITE_PERM:
    case SQLITE_AUTH:
    case SQLITE_PROTOCOL:
      return Fault::Io;
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB:
    case SQLITE_FORMAT:
      return Fault::Damaged;
    case SQLITE_READONLY:
      return Fault::ReadOnly;
    case SQLITE_ERROR:
      if (message.find("no such table") != std::string::npos ||
          message.find("no such column") != std::string::npos ||
          message.find("no such index") != std::string::npos)
        return Fault::NotFound;
      return Fault::Engine;
    default:
      return Fault::Engine;  // a broken constraint, a value out of range
  }
}

std::string quoteName(const std::string& name) {
  std::string quoted = "\"";
  for (char c : name) {
    quoted += c;
    if (c == '"') quoted += '"';
  }
  return quoted + "\"";
}

std::string lowerCase(std::string text) {
  for (auto& c : text)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return text;
}

std::shared_ptr<Connection> Connection::open(const std::string& path, OpenMode mode) {
  // One thread uses each connection and no statistics are read: the
  // engine's memory counters and their lock are not needed (this must come
  // before the engine's first use, and is refused harmlessly after it).
  static const bool configured = sqlite3_config(SQLITE_CONFIG_MEMSTATUS, 0) == SQLITE_OK;
  (void)configured;
  std::shared_ptr<Connection> connection(new Connection());
  connection->path_ = path;

  // The lock first: a file held elsewhere is never touched.
  connection->lock_ = FileLock::acquire(path, mode == OpenMode::Exclusive);

  connection->db_ = openHandle(path, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX);
  sqlite3* db = connection->db_.get();
  sqlite3_busy_handler(db, &Connection::onBusy, connection.get());
  // A name in double quotes is always a name, never a text.
  sqlite3_db_config(db, SQLITE_DBCONFIG_DQS_DDL, 0, nullptr);
  sqlite3_db_config(db, SQLITE_DBCONFIG_DQS_DML, 0, nullptr);
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
  sqlite3_exec(db, "PRAGMA cache_size = -81920", nullptr, nullptr, nullptr);
  // Write-ahead logging: other programs read while a run saves, a commit
  // appends to the log instead of rewriting pages through a journal, and a
  // power cut can lose the last commits but never damages the file. Where
  // the mode cannot be set at once (another program has the file open in
  // the old mode), the file keeps its journal: the open does not wait.
  sqlite3_busy_handler(db, nullptr, nullptr);
  sqlite3_exec(db, "PRAGMA journal_mode = WAL", nullptr, nullptr, nullptr);
  sqlite3_busy_handler(db, &Connection::onBusy, connection.get());
  sqlite3_exec(db, "PRAGMA synchronous = NORMAL", nullptr, nullptr, nullptr);
  // A Regional Sequencing pass saves its records out of their order in the
  // file, so each commit rewrites most of the table's pages into the log.
  // Folding the log back into the file only after 100,000 pages (about
  // 400 MB) copies each page once for several commits instead of once for
  // each; after that the log file is cut back to 64 MB.
  sqlite3_exec(db, "PRAGMA wal_autocheckpoint = 100000", nullptr, nullptr, nullptr);
  sqlite3_exec(db, "PRAGMA journal_size_limit = 67108864", nullptr, nullptr, nullptr);

  openConnections().connections.insert(connection.get());
  return connection;
}

Connection::~Connection() {
  try {
    close();
  } catch (const std::exception&) {
    // a destructor cannot report; close() has released everything
  }
}

void Connection::requireOpen() const {
  if (!db_) throw RunError(Fault::Engine, "Object invalid or no longer set.");
}

void Connection::fail(int rc, const std::string& context, const std::string& where) const {
  std::string detail = db_ ? sqlite3_errmsg(db_.get()) : sqlite3_errstr(rc);
  std::string what = (where.empty() ? "" : where + ": ") + (context.empty() ? "" : context + ": ") + detail;
  throw RunError(faultOf(rc, detail), what, where);
}

// The engine's busy handler: another program holds the file. A statement
// waits up to `busyWait` for one lock, letting the window system run
// meanwhile through the wait hook.
int Connection::onBusy(void* self, int attempts) {
  auto* connection = static_cast<Connection*>(self);
  const auto now = Clock::now();
  if (attempts == 0) connection->busySince_ = connection->lastHook_ = now;
  if (now - connection->busySince_ >= connection->busyWait) return 0;
  if (connection->waitHook && now - connection->lastHook_ >= 20ms) {
    connection->lastHook_ = now;
    connection->waiting_ = true;
    connection->waitHook();
    connection->waiting_ = false;
  }
  std::this_thread::sleep_for(5ms);
  return 1;
}

sqlite3_stmt* Connection::prepare(const std::string& sql) {
  auto found = statements_.find(sql);
  if (found != statements_.end()) return found->second.get();
  StatementHandle statement;
  try {
    statement = prepareHandle(db_.get(), sql, SQLITE_PREPARE_PERSISTENT);
  } catch (const RunError& e) {
    throw RunError(e.fault(), e.what(), path_);
  }
  return statements_.emplace(sql, std::move(statement)).first->second.get();
}

std::shared_ptr<const TableLayout> Connection::table(const std::string& name) {
  auto found = tables_.find(name);
  if (found != tables_.end()) return found->second;
  if (empty_) throw RunError(Fault::NotFound, path_ + " is empty: not a Mailsort Database", path_);
  auto layout = readTableLayout(db_.get(), name);
  if (!layout) throw RunError(Fault::NotFound, "Table '" + name + "' not found.", name);
  tables_.emplace(name, layout);
  return layout;
}

void Connection::lose(const RunError& why) {
  if (!lost_) lost_ = std::make_unique<RunError>(why);
}

// The engine rolled the transaction back after a statement failed (that
// failure is recorded on its own): the saves since the last commit are lost.
void Connection::noteRollback() {
  if (!inTransaction_ || !sqlite3_get_autocommit(db_.get())) return;
  inTransaction_ = false;
  ++stamp_;
  if (wrote_)
    lose(RunError(Fault::Io,
                  path_ + ": the saves since the last commit were lost: the engine rolled them back", path_));
  wrote_ = false;
}

void Connection::checkSaves() {
  noteRollback();
  // The clock is read every 64 operations: a pass makes thousands a second.
  if (inTransaction_ && (++calls_ & 63) == 0 && Clock::now() - transactionStart_ >= kCommitInterval)
    tryCommit();
  if (!lost_) return;
  RunError why = *lost_;
  lost_.reset();
  throw why;
}

void Connection::enter() {
  checkSaves();
  if (inTransaction_) return;
  int rc = sqlite3_exec(db_.get(), "BEGIN", nullptr, nullptr, nullptr);
  if (rc != SQLITE_OK) fail(rc, "BEGIN", path_);
  inTransaction_ = true;
  wrote_ = false;
  transactionStart_ = Clock::now();
}

int Connection::stepWrite(sqlite3_stmt* statement) {
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

void Connection::afterWrite() { checkSaves(); }

bool Connection::tryCommit() {
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

void Connection::commitSoon() {
  if (inTransaction_) tryCommit();
}

void Connection::idle() {
  if (!db_ || waiting_ || !inTransaction_) return;
  noteRollback();  // the next operation tells
  if (inTransaction_ && Clock::now() - transactionStart_ >= kCommitInterval) tryCommit();
}

void Connection::commitNow() {
  if (inTransaction_) tryCommit();  // waits while another program holds the file
  if (inTransaction_) fail(SQLITE_BUSY, "Could not save pending changes", path_);
  checkSaves();
}

void Connection::executeDdl(const std::vector<std::string>& statements) {
  commitNow();
  ++stamp_;
  tables_.clear();
  bool grouped = statements.size() > 1;
  if (grouped) {
    int rc = sqlite3_exec(db_.get(), "BEGIN", nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK) fail(rc, "BEGIN", path_);
  }
  for (const auto& sql : statements) {
    int rc = sqlite3_exec(db_.get(), sql.c_str(), nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK) {
      std::string message = std::string(sqlite3_errmsg(db_.get()));
      if (grouped) sqlite3_exec(db_.get(), "ROLLBACK", nullptr, nullptr, nullptr);
      tables_.clear();
      throw RunError(faultOf(rc, message), sql + ": " + message, path_);
    }
  }
  empty_ = false;
  if (grouped) {
    int rc = sqlite3_exec(db_.get(), "COMMIT", nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK) {
      std::string message = std::string(sqlite3_errmsg(db_.get()));
      sqlite3_exec(db_.get(), "ROLLBACK", nullptr, nullptr, nullptr);
      throw RunError(faultOf(rc, message), "COMMIT: " + message, path_);
    }
  }
  tables_.clear();
}

void Connection::close() {
  openConnections().connections.erase(this);
  std::unique_ptr<RunError> error;
  if (db_) {
    try {
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

}  // namespace ms::store
