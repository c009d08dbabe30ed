#include "store/connection.h"

#include <cstdlib>
#include <set>

#include "store/fault.h"

namespace ms::store {

namespace {

using namespace std::chrono_literals;

// Open connections, so that saves still pending when the program ends
// normally (exit() without unwinding) are committed.
struct OpenConnections {
  std::mutex mutex;
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
  auto& registry = openConnections();
  std::lock_guard registryLock(registry.mutex);
  for (Connection* connection : registry.connections) {
    std::lock_guard lock(connection->mutex);
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
  std::shared_ptr<Connection> connection(new Connection());
  connection->path_ = path;

  // The lock first: a file held elsewhere is never touched.
  connection->lock_ = FileLock::acquire(path, mode == OpenMode::Exclusive);

  int rc =
      sqlite3_open_v2(path.c_str(), &connection->db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr);
  if (rc != SQLITE_OK) connection->fail(rc, "could not be opened", path);
  connection->owner_ = std::this_thread::get_id();
  sqlite3_busy_handler(connection->db_, &Connection::onBusy, connection.get());
  // A name in double quotes is always a name, never a text.
  sqlite3_db_config(connection->db_, SQLITE_DBCONFIG_DQS_DDL, 0, nullptr);
  sqlite3_db_config(connection->db_, SQLITE_DBCONFIG_DQS_DML, 0, nullptr);
  // Reading the schema tells a database from any other file.
  sqlite3_stmt* tables = nullptr;
  rc = sqlite3_prepare_v2(connection->db_, "SELECT count(*) FROM sqlite_master", -1, &tables, nullptr);
  if (rc == SQLITE_OK && (rc = sqlite3_step(tables)) == SQLITE_ROW) {
    connection->empty_ = sqlite3_column_int(tables, 0) == 0;
    rc = SQLITE_OK;
  }
  sqlite3_finalize(tables);
  if (rc != SQLITE_OK) connection->fail(rc, "could not be read", path);
  sqlite3_exec(connection->db_, "PRAGMA cache_size = -16384", nullptr, nullptr, nullptr);

  connection->committer_ = std::thread(&Connection::committerLoop, connection.get());
  auto& registry = openConnections();
  std::lock_guard registryLock(registry.mutex);
  registry.connections.insert(connection.get());
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
  std::string detail = db_ ? sqlite3_errmsg(db_) : sqlite3_errstr(rc);
  std::string what = (where.empty() ? "" : where + ": ") + (context.empty() ? "" : context + ": ") + detail;
  throw RunError(faultOf(rc, detail), what, where);
}

// The engine's busy handler: another program holds the file. The thread
// that opened the database waits up to `busyWait` for one lock, letting the
// window system run meanwhile; the committer never waits (its transaction
// stays open and is tried again later).
int Connection::onBusy(void* self, int attempts) {
  auto* connection = static_cast<Connection*>(self);
  if (std::this_thread::get_id() != connection->owner_) return 0;
  const auto now = Clock::now();
  if (attempts == 0) connection->busySince_ = connection->lastHook_ = now;
  if (now - connection->busySince_ >= connection->busyWait) return 0;
  if (connection->waitHook && now - connection->lastHook_ >= 20ms) {
    connection->lastHook_ = now;
    connection->waitHook();
  }
  std::this_thread::sleep_for(5ms);
  return 1;
}

sqlite3_stmt* Connection::prepare(const std::string& sql) {
  auto found = statements_.find(sql);
  if (found != statements_.end()) return found->second;
  sqlite3_stmt* statement = nullptr;
  int rc = sqlite3_prepare_v3(db_, sql.c_str(), static_cast<int>(sql.size()), SQLITE_PREPARE_PERSISTENT,
                              &statement, nullptr);
  if (rc != SQLITE_OK) {
    sqlite3_finalize(statement);
    fail(rc, sql);
  }
  statements_.emplace(sql, statement);
  return statement;
}

std::shared_ptr<const TableLayout> Connection::table(const std::string& name) {
  auto found = tables_.find(name);
  if (found != tables_.end()) return found->second;
  if (empty_) throw RunError(Fault::NotFound, path_ + " is empty: not a Mailsort Database", path_);
  auto layout = readTableLayout(db_, name);
  if (!layout) throw RunError(Fault::NotFound, "Table '" + name + "' not found.", name);
  tables_.emplace(name, layout);
  return layout;
}

void Connection::checkSaves() {
  if (inTransaction_ && sqlite3_get_autocommit(db_)) {  // rolled back by the engine
    inTransaction_ = false;
    if (wrote_) lastCommitFailure_ = SQLITE_ABORT;
    wrote_ = false;
  }
  if (inTransaction_ && Clock::now() - transactionStart_ >= kCommitInterval) tryCommit();
  if (lastCommitFailure_ == 0) return;
  int rc = lastCommitFailure_;
  lastCommitFailure_ = 0;
  // SQLITE_ABORT: the engine rolled the transaction back after a statement
  // failed (that failure is recorded on its own).
  throw RunError(faultOf(rc, "") == Fault::Engine ? Fault::Io : faultOf(rc, ""),
                 path_ + ": the saves since the last commit were lost: " +
                     (rc == SQLITE_ABORT ? "the engine rolled them back" : sqlite3_errstr(rc)),
                 path_);
}

void Connection::enter() {
  checkSaves();
  if (inTransaction_) return;
  int rc = sqlite3_exec(db_, "BEGIN", nullptr, nullptr, nullptr);
  if (rc != SQLITE_OK) fail(rc, "BEGIN", path_);
  inTransaction_ = true;
  wrote_ = false;
  transactionStart_ = Clock::now();
  wake_.notify_all();
}

int Connection::stepWrite(sqlite3_stmt* statement) {
  int rc = sqlite3_step(statement);
  if ((rc & 0xFF) != SQLITE_BUSY || wrote_ || !inTransaction_) {
    if (rc == SQLITE_DONE) wrote_ = true;
    return rc;
  }
  sqlite3_reset(statement);
  sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr);  // only reads: nothing is lost
  inTransaction_ = false;
  rc = sqlite3_exec(db_, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
  if (rc != SQLITE_OK) return rc;
  inTransaction_ = true;
  transactionStart_ = Clock::now();
  wake_.notify_all();
  rc = sqlite3_step(statement);
  if (rc == SQLITE_DONE) wrote_ = true;
  return rc;
}

void Connection::afterWrite() { checkSaves(); }

bool Connection::tryCommit() {
  int rc = sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr);
  if (rc == SQLITE_OK || sqlite3_get_autocommit(db_)) {
    inTransaction_ = false;
    if (rc != SQLITE_OK && wrote_) lastCommitFailure_ = rc;
    wrote_ = false;
    return rc == SQLITE_OK;
  }
  // Busy: the transaction stays open and is tried again an interval later.
  transactionStart_ = Clock::now();
  wake_.notify_all();
  return false;
}

void Connection::commitSoon() {
  if (inTransaction_) tryCommit();
}

void Connection::commitNow() {
  if (inTransaction_) tryCommit();  // waits while another program holds the file
  if (inTransaction_) fail(SQLITE_BUSY, "Could not save pending changes", path_);
  checkSaves();
}

void Connection::executeDdl(const std::vector<std::string>& statements) {
  commitNow();
  tables_.clear();
  bool grouped = statements.size() > 1;
  if (grouped) {
    int rc = sqlite3_exec(db_, "BEGIN", nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK) fail(rc, "BEGIN", path_);
  }
  for (const auto& sql : statements) {
    int rc = sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK) {
      std::string message = std::string(sqlite3_errmsg(db_));
      if (grouped) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
      tables_.clear();
      throw RunError(faultOf(rc, message), sql + ": " + message, path_);
    }
  }
  empty_ = false;
  if (grouped) {
    int rc = sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK) {
      std::string message = std::string(sqlite3_errmsg(db_));
      sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
      throw RunError(faultOf(rc, message), "COMMIT: " + message, path_);
    }
  }
  tables_.clear();
}

void Connection::committerLoop() {
  std::unique_lock lock(mutex);
  while (!stopping_) {
    if (!inTransaction_) {
      wake_.wait(lock);
      continue;
    }
    auto due = transactionStart_ + kCommitInterval;
    if (Clock::now() >= due) {
      if (db_) tryCommit();
      continue;
    }
    wake_.wait_until(lock, due);
  }
}

void Connection::close() {
  {
    auto& registry = openConnections();
    std::lock_guard registryLock(registry.mutex);
    registry.connections.erase(this);
  }
  std::thread committer;
  {
    std::lock_guard lock(mutex);
    stopping_ = true;
    wake_.notify_all();
    committer = std::move(committer_);
  }
  if (committer.joinable()) committer.join();

  std::lock_guard lock(mutex);
  std::unique_ptr<RunError> error;
  if (db_) {
    try {
      commitNow();
    } catch (const RunError& e) {
      error = std::make_unique<RunError>(e);
      sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
      inTransaction_ = false;
    }
    for (auto& [sql, statement] : statements_) sqlite3_finalize(statement);
    statements_.clear();
    tables_.clear();
    sqlite3_close(db_);
    db_ = nullptr;
  }
  lock_.reset();  // only after the engine has closed the file
  if (error) throw RunError(*error);
}

}  // namespace ms::store
