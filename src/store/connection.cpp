#include "store/connection.h"

#include <cstdlib>
#include <set>

#include "store/fault.h"

namespace ms::store {

namespace {

constexpr int kBusyTimeoutMs = 2000;
constexpr int kCommitAttempts = 5;

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
  if (rc != SQLITE_OK) connection->fail(rc, "Could not open '" + path + "'");
  sqlite3_busy_timeout(connection->db_, kBusyTimeoutMs);
  // A name in double quotes is always a name, never a text.
  sqlite3_db_config(connection->db_, SQLITE_DBCONFIG_DQS_DDL, 0, nullptr);
  sqlite3_db_config(connection->db_, SQLITE_DBCONFIG_DQS_DML, 0, nullptr);
  // Reading the schema tells a database from any other file.
  rc = sqlite3_exec(connection->db_, "SELECT count(*) FROM sqlite_master", nullptr, nullptr, nullptr);
  if (rc != SQLITE_OK) connection->fail(rc, "Unrecognized database format '" + path + "'");
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

void Connection::fail(int rc, const std::string& context) const {
  std::string message = context + ": " + (db_ ? sqlite3_errmsg(db_) : sqlite3_errstr(rc));
  Fault fault = Fault::Engine;
  if (message.find("no such table") != std::string::npos) fault = Fault::NotFound;
  throw RunError(fault, message);
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
  auto layout = readTableLayout(db_, name);
  if (!layout) throw RunError(Fault::NotFound, "Table '" + name + "' not found.");
  tables_.emplace(name, layout);
  return layout;
}

void Connection::enter() {
  if (inTransaction_ && sqlite3_get_autocommit(db_)) inTransaction_ = false;  // rolled back by the engine
  if (inTransaction_ && Clock::now() - transactionStart_ >= kCommitInterval) tryCommit();
  if (inTransaction_) return;
  int rc = sqlite3_exec(db_, "BEGIN", nullptr, nullptr, nullptr);
  if (rc != SQLITE_OK) fail(rc, "BEGIN");
  inTransaction_ = true;
  transactionStart_ = Clock::now();
  wake_.notify_all();
}

void Connection::afterWrite() {
  if (inTransaction_ && sqlite3_get_autocommit(db_)) inTransaction_ = false;  // rolled back by the engine
  if (inTransaction_ && Clock::now() - transactionStart_ >= kCommitInterval) tryCommit();
}

bool Connection::tryCommit() {
  int rc = sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr);
  if (rc == SQLITE_OK || sqlite3_get_autocommit(db_)) {
    inTransaction_ = false;
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
  for (int attempt = 0; inTransaction_ && attempt < kCommitAttempts; ++attempt)
    if (tryCommit()) return;
  if (inTransaction_) fail(SQLITE_BUSY, "Could not save pending changes");
}

void Connection::executeDdl(const std::vector<std::string>& statements) {
  commitNow();
  tables_.clear();
  bool grouped = statements.size() > 1;
  if (grouped) {
    int rc = sqlite3_exec(db_, "BEGIN", nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK) fail(rc, "BEGIN");
  }
  for (const auto& sql : statements) {
    int rc = sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK) {
      std::string message = std::string(sqlite3_errmsg(db_));
      if (grouped) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
      tables_.clear();
      throw RunError(message.find("no such table") != std::string::npos ? Fault::NotFound : Fault::Engine,
                     sql + ": " + message);
    }
  }
  if (grouped) {
    int rc = sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK) {
      std::string message = std::string(sqlite3_errmsg(db_));
      sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
      throw RunError(Fault::Engine, "COMMIT: " + message);
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
  std::string error;
  if (db_) {
    try {
      commitNow();
    } catch (const RunError& e) {
      error = e.what();
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
  if (!error.empty()) throw RunError(Fault::Engine, error);
}

}  // namespace ms::store
