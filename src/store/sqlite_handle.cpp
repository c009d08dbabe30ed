#include "store/sqlite_handle.h"

#include "values/fault.h"

namespace ms::store {

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

DatabaseHandle openHandle(const std::string& path, int flags) {
  sqlite3* db = nullptr;
  const int rc = sqlite3_open_v2(path.c_str(), &db, flags, nullptr);
  DatabaseHandle handle(db);
  if (rc != SQLITE_OK) {
    const std::string detail = db ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
    throw RunError(faultOf(rc, detail), path + " could not be opened: " + detail, path);
  }
  return handle;
}

StatementHandle prepareHandle(sqlite3* db, const std::string& sql, unsigned flags) {
  sqlite3_stmt* statement = nullptr;
  const int rc =
      sqlite3_prepare_v3(db, sql.c_str(), static_cast<int>(sql.size()), flags, &statement, nullptr);
  StatementHandle handle(statement);
  if (rc != SQLITE_OK) {
    const std::string detail = sqlite3_errmsg(db);
    throw RunError(faultOf(rc, detail), sql + ": " + detail);
  }
  return handle;
}

void executeSql(sqlite3* db, const std::string& sql) {
  char* message = nullptr;
  const int rc = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &message);
  if (rc == SQLITE_OK) return;
  const std::string detail = message ? message : sqlite3_errmsg(db);
  sqlite3_free(message);
  throw RunError(faultOf(rc, detail), sql + ": " + detail);
}

void readColumn(sqlite3_stmt* statement, int column, Value& value, int& type) {
  type = sqlite3_column_type(statement, column);
  switch (type) {
    case SQLITE_NULL:
      value.setNull();
      return;
    case SQLITE_INTEGER:
    case SQLITE_FLOAT:
      value.setNumber(sqlite3_column_double(statement, column));
      return;
    case SQLITE_BLOB: {
      auto data = static_cast<const char*>(sqlite3_column_blob(statement, column));
      value.setText(data ? data : "", static_cast<std::size_t>(sqlite3_column_bytes(statement, column)));
      return;
    }
    default: {
      auto text = reinterpret_cast<const char*>(sqlite3_column_text(statement, column));
      value.setText(text ? text : "", static_cast<std::size_t>(sqlite3_column_bytes(statement, column)));
      return;
    }
  }
}

Value columnValue(sqlite3_stmt* statement, int column) {
  Value value;
  int type = 0;
  readColumn(statement, column, value, type);
  return value;
}

void bindValue(sqlite3_stmt* statement, int parameter, const Value& value, int type) {
  if (value.isNull()) {
    sqlite3_bind_null(statement, parameter);
  } else if (value.isNumber()) {
    sqlite3_bind_double(statement, parameter, value.number());
  } else {
    const std::string& text = value.textOrEmpty();
    if (type == SQLITE_BLOB)
      sqlite3_bind_blob(statement, parameter, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
    else
      sqlite3_bind_text(statement, parameter, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
  }
}

}  // namespace ms::store
