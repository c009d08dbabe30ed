#include "store/connection.h"

#include <cstdio>
#include <cstdlib>
#include <set>

#include "store/pg_connection.h"
#include "store/pg_handle.h"
#include "store/sqlite_connection.h"

namespace ms::store {

namespace {

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
      if (connection->holding())
        connection->rollbackRun();  // a run that did not finish changes nothing
      else if (connection->isOpen())
        connection->commitNow();
    } catch (const std::exception&) {
      // nothing more can be done at exit
    }
  }
}

}  // namespace

std::shared_ptr<Connection> Connection::open(const std::string& database, OpenMode mode) {
  std::shared_ptr<Connection> connection;
  if (isPostgresUri(database))
    connection = PgConnection::open(database, mode);
  else
    connection = SqliteConnection::open(database, mode);
  connection->registerOpen();
  return connection;
}

Connection::~Connection() = default;

void Connection::registerOpen() { openConnections().connections.insert(this); }

void Connection::closing() { openConnections().connections.erase(this); }

void Connection::requireOpen() const {
  if (ended_) throw RunError(*ended_);
  if (!isOpen()) throw RunError(Fault::Engine, "Object invalid or no longer set.");
}

bool Connection::askToWait(Clock::duration waited, WaitReason why) {
  if (!waitHook) return true;
  try {
    return waitHook(std::chrono::duration_cast<std::chrono::milliseconds>(waited), why);
  } catch (...) {
    return true;  // a hook that fails has not asked to stop
  }
}

namespace {

std::string seconds(Connection::Clock::duration waited) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f", std::chrono::duration<double>(waited).count());
  return text;
}

}  // namespace

RunError Connection::busyError(const std::string& database, const std::string& table) const {
  return RunError(Fault::Busy,
                  (table.empty() ? "" : table + ": ") + "another program holds the " + database +
                      "; the store gave up after waiting " + seconds(waitedForOthers_) + " s for it in all",
                  table.empty() ? database : table);
}

RunError Connection::interruptedError(const std::string& database, const std::string& table) const {
  return RunError(Fault::Interrupted,
                  (table.empty() ? "" : table + ": ") + "the wait for the " + database + " was stopped",
                  table.empty() ? database : table);
}

Statement* Connection::prepareEdit(const TableLayout& layout, const std::vector<std::size_t>& columns) {
  std::string sql = "UPDATE " + quoteName(layout.name) + " SET ";
  for (std::size_t i = 0; i < columns.size(); ++i)
    sql += (i ? ", " : "") + quoteName(layout.columns[columns[i]]) + " = " + dialect().mark(i + 1);
  sql += " WHERE rowid = " + dialect().mark(columns.size() + 1);
  return prepare(sql, layout.name);
}

std::shared_ptr<const TableLayout> Connection::table(const std::string& name) {
  auto found = tables_.find(name);
  if (found != tables_.end()) return found->second;
  auto layout = readLayout(name);
  if (!layout) throw RunError(Fault::NotFound, "Table '" + name + "' not found.", name);
  tables_.emplace(name, layout);
  return layout;
}

void Connection::checkSaves() {
  noteRollback();
  if (inTransaction_ && !holding_ && (++calls_ & 63) == 0 &&
      Clock::now() - transactionStart_ >= kCommitInterval)
    tryCommit();
  if (!lost_) return;
  RunError why = *lost_;
  lost_.reset();
  throw why;
}

void Connection::executeDdl(const std::vector<std::string>& statements) {
  writeKept();
  if (!holding_) commitNow();
  ++stamp_;
  tables_.clear();
  try {
    runDdl(statements);
  } catch (...) {
    tables_.clear();
    throw;
  }
  tables_.clear();
}

void Connection::beginRun() {
  requireOpen();
  commitNow();
  holding_ = true;  // a wait for the write lock is already the run's
  try {
    beginHeld();
  } catch (...) {
    holding_ = false;
    throw;
  }
  wrote_ = false;
  transactionStart_ = Clock::now();
}

void Connection::deferIndex(const std::string& tableName, const std::string& storeName) {
  if (!holding_) return;
  const auto index = table(tableName)->index(storeName);
  if (!index || index->unique) return;
  std::string definition = indexDefinition(index->name);
  if (definition.empty()) return;
  executeDdl({"DROP INDEX " + quoteName(index->name)});
  deferred_.push_back(std::move(definition));
}

void Connection::deferSaves(const std::string& tableName, const std::vector<std::string>& columns,
                            std::size_t limit) {
  if (!holding_ || !canDeferSaves() || columns.size() > DeferredSaves::kMaxColumns) return;
  writeKept();  // those of another table
  const auto layout = table(tableName);
  std::vector<std::size_t> positions;
  for (const auto& name : columns) {
    const int column = layout->column(name);
    if (column < 0) return;
    for (const auto& [storeName, index] : layout->indexByName)
      for (const KeyColumn& key : index->key)
        if (key.column == column) return;  // its order would change under the walks
    positions.push_back(static_cast<std::size_t>(column));
  }
  saves_ = std::make_unique<DeferredSaves>(layout->name, std::move(positions), limit);
}

void Connection::keepSave(std::int64_t rowid, const std::vector<Value>& values,
                          const std::vector<bool>& changed) {
  if (saves_->keep(rowid, values, changed)) return;
  writeSaves(*saves_);
  saves_->keep(rowid, values, changed);
}

void Connection::writeKept() {
  if (saves_ && !saves_->empty()) writeSaves(*saves_);
}

void Connection::writeDeferred() {
  writeKept();
  saves_.reset();
  if (deferred_.empty()) return;
  buildIndexes(deferred_);
  deferred_.clear();
}

void Connection::commitRun() {
  requireOpen();
  if (!holding_) return;
  try {
    writeDeferred();  // never committed without them
    checkSaves();     // saves lost on the way fail the run before it commits
    if (!inTransaction_ || !tryCommit()) {
      checkSaves();
      throw RunError(Fault::Busy, "the run's changes could not be committed");
    }
    holding_ = false;
    checkSaves();
  } catch (...) {
    rollbackRun();
    throw;
  }
}

void Connection::rollbackRun() noexcept {
  holding_ = false;
  deferred_.clear();  // the rollback brings them back
  saves_.reset();
  rollback();
  inTransaction_ = false;
  wrote_ = false;
  lost_.reset();
  tables_.clear();  // the run's DDL is undone too
  ++stamp_;
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

}  // namespace ms::store
