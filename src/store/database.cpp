#include "store/database.h"

#include <filesystem>
#include <fstream>

#include "store/connection.h"
#include "store/recordset.h"
#include "store/table_cursor.h"
#include "values/fault.h"

namespace ms::store {

std::string wholeDatabasePath(const std::string& path) {
  std::error_code error;
  std::string whole =
      std::filesystem::weakly_canonical(std::filesystem::absolute(path, error), error).string();
  if (error) whole = std::filesystem::absolute(path, error).string();
  return whole;
}

std::string overlongDatabasePath(const std::string& path) {
  std::string whole = wholeDatabasePath(path);
  return whole.size() > kLongestDatabasePath ? whole : std::string();
}

bool beginsAsSqliteDatabase(const std::string& path) {
  std::string start(kSqliteHeader.size(), '\0');
  std::ifstream file(path, std::ios::binary);
  return file.read(start.data(), static_cast<std::streamsize>(start.size())) && start == kSqliteHeader;
}

std::unique_ptr<Database> Database::open(const std::string& path, OpenMode mode) {
  return std::unique_ptr<Database>(new Database(Connection::open(path, mode)));
}

Database::Database(std::shared_ptr<Connection> connection) : connection_(std::move(connection)) {}

Database::~Database() {
  try {
    close();
  } catch (const std::exception&) {
    // a destructor cannot report; the file is closed all the same
  }
}

std::string Database::markRun() {
  connection_->requireOpen();
  if (!connection_->holding()) throw RunError(Fault::Engine, "There is no run to mark.");
  return connection_->markRun();
}

bool Database::runCommitted(const std::string& token) {
  connection_->requireOpen();
  return connection_->runCommitted(token);
}

std::string Database::identity() const { return connection_->identity(); }

std::unique_ptr<Recordset> Database::openTable(const std::string& table) {
  connection_->requireOpen();
  auto layout = connection_->table(table);
  return std::unique_ptr<Recordset>(
      new Recordset(std::make_unique<TableCursor>(connection_, std::move(layout))));
}

// The one statement the system runs: DROP TABLE with the table's name as
// it stands, in brackets or double quotes.
void Database::execute(const std::string& sql) {
  connection_->requireOpen();
  const std::string verb = "drop table";
  std::size_t at = 0;
  while (at < sql.size() && sql[at] == ' ') ++at;
  if (lowerCase(sql.substr(at, verb.size())) != verb)
    throw RunError(Fault::Engine, "Only DROP TABLE can be executed: " + sql);
  std::string name = sql.substr(at + verb.size());
  while (!name.empty() && (name.front() == ' ')) name.erase(0, 1);
  while (!name.empty() && (name.back() == ' ' || name.back() == ';')) name.pop_back();
  if (name.size() >= 2 &&
      ((name.front() == '[' && name.back() == ']') || (name.front() == '"' && name.back() == '"')))
    name = name.substr(1, name.size() - 2);
  if (name.empty()) throw RunError(Fault::Engine, "DROP TABLE names no table: " + sql);
  connection_->executeDdl({"DROP TABLE " + quoteName(name)});
}

void Database::appendTableDef(const TableDef& def) {
  if (def.name.empty() || def.fields.empty())
    throw RunError(Fault::Engine, "A table needs a name and at least one field.");

  auto isField = [&](const std::string& name) {
    for (const auto& field : def.fields)
      if (lowerCase(field) == lowerCase(name)) return true;
    return false;
  };
  const IndexDef* primary = nullptr;
  for (const auto& index : def.indexes) {
    if (index.fields.empty()) throw RunError(Fault::Engine, "Index '" + index.name + "' has no fields.");
    for (const auto& field : index.fields)
      if (!isField(field))
        throw RunError(Fault::Engine, "Index '" + index.name + "' names a field that '" + def.name +
                                          "' does not have: '" + field + "'.");
    if (!index.primary) continue;
    if (primary) throw RunError(Fault::Engine, "Table '" + def.name + "' has more than one primary key.");
    primary = &index;
  }
  auto isPrimaryField = [&](const std::string& field) {
    if (!primary) return false;
    for (const auto& name : primary->fields)
      if (lowerCase(name) == lowerCase(field)) return true;
    return false;
  };
  auto fieldList = [](const std::vector<std::string>& fields, const char* after) {
    std::string list;
    for (const auto& field : fields) list += (list.empty() ? "" : ", ") + quoteName(field) + after;
    return list;
  };

  connection_->requireOpen();
  const Dialect& dialect = connection_->dialect();
  // Every field is a double; a primary key field may not be Null.
  std::string create = "CREATE TABLE " + quoteName(def.name) + " (";
  for (std::size_t i = 0; i < def.fields.size(); ++i)
    create += (i ? ", " : "") + quoteName(def.fields[i]) + " " + dialect.numberType +
              (isPrimaryField(def.fields[i]) ? " NOT NULL" : "");
  create += dialect.hiddenRowid;
  if (primary) create += ", PRIMARY KEY (" + fieldList(primary->fields, "") + ")";
  create += ")";

  std::vector<std::string> statements{create};
  for (const auto& index : def.indexes) {
    if (index.primary) continue;
    statements.push_back(std::string("CREATE ") + (index.unique ? "UNIQUE " : "") + "INDEX " +
                         quoteName(def.name + "_" + index.name) + " ON " + quoteName(def.name) + " (" +
                         fieldList(index.fields, dialect.indexColumn) +
                         (index.unique ? "" : dialect.indexTail) + ")");
  }

  connection_->executeDdl(statements);
}

void Database::flush() {
  if (!connection_->isOpen()) return;
  if (connection_->holding())
    connection_->afterWrite();  // the run commits at its end; a loss is told now
  else
    connection_->commitNow();
}

void Database::beginRun() { connection_->beginRun(); }

void Database::commitRun() { connection_->commitRun(); }

void Database::rollbackRun() noexcept { connection_->rollbackRun(); }

bool Database::holdingRun() const { return connection_->holding(); }

void Database::deferIndex(const std::string& table, const std::string& index) {
  connection_->requireOpen();
  connection_->deferIndex(table, index);
}

void Database::deferSaves(const std::string& table, const std::vector<std::string>& columns,
                          std::size_t limit) {
  connection_->requireOpen();
  connection_->deferSaves(table, columns, limit);
}

void Database::writeDeferred() {
  connection_->requireOpen();
  connection_->writeDeferred();
}

void Database::idle() { connection_->idle(); }

void Database::close() { connection_->close(); }

void Database::handOver() { connection_->handOver(); }

void Database::setWaitHook(WaitHook hook) { connection_->waitHook = std::move(hook); }

void Database::setBusyWait(std::chrono::milliseconds wait) { connection_->busyWait = wait; }

void Database::setSilenceLimit(std::chrono::milliseconds silence) { connection_->silenceLimit = silence; }

bool Database::isOpen() const { return connection_->isOpen(); }

}  // namespace ms::store
