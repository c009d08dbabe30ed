#include "store/database.h"

#include "store/connection.h"
#include "store/recordset.h"
#include "store/table_cursor.h"
#include "values/fault.h"

namespace ms::store {

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

std::unique_ptr<Recordset> Database::openTable(const std::string& table) {
  connection_->requireOpen();
  auto layout = connection_->table(table);
  return std::unique_ptr<Recordset>(
      new Recordset(std::make_unique<TableCursor>(connection_, std::move(layout))));
}

void Database::execute(const std::string& sql) {
  connection_->requireOpen();
  connection_->executeDdl({sql});
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
  auto fieldList = [](const std::vector<std::string>& fields) {
    std::string list;
    for (const auto& field : fields) list += (list.empty() ? "" : ", ") + quoteName(field);
    return list;
  };

  // Every field is a double; a primary key field may not be Null.
  std::string create = "CREATE TABLE " + quoteName(def.name) + " (";
  for (std::size_t i = 0; i < def.fields.size(); ++i)
    create += (i ? ", " : "") + quoteName(def.fields[i]) + " REAL" +
              (isPrimaryField(def.fields[i]) ? " NOT NULL" : "");
  if (primary) create += ", PRIMARY KEY (" + fieldList(primary->fields) + ")";
  create += ")";

  std::vector<std::string> statements{create};
  for (const auto& index : def.indexes) {
    if (index.primary) continue;
    statements.push_back(std::string("CREATE ") + (index.unique ? "UNIQUE " : "") + "INDEX " +
                         quoteName(def.name + "_" + index.name) + " ON " + quoteName(def.name) + " (" +
                         fieldList(index.fields) + ")");
  }

  connection_->requireOpen();
  connection_->executeDdl(statements);
}

void Database::flush() {
  if (connection_->isOpen()) connection_->commitNow();
}

void Database::idle() { connection_->idle(); }

void Database::close() { connection_->close(); }

void Database::handOver() { connection_->handOver(); }

void Database::setWaitHook(std::function<void()> hook) { connection_->waitHook = std::move(hook); }

void Database::setBusyWait(std::chrono::milliseconds wait) { connection_->busyWait = wait; }

bool Database::isOpen() const { return connection_->isOpen(); }

}  // namespace ms::store
