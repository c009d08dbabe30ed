// The one thin layer over SQLite's C interface that every part of the
// project uses (the store, the sample-job generator, the test fixtures): a
// database handle and statements that close and finalise themselves, and
// the rules for reading and binding a field's value.
#pragma once

#include <sqlite3.h>

#include <memory>
#include <string>

#include "values/fault.h"
#include "values/value.h"

namespace ms::store {

struct CloseDatabase {
  void operator()(sqlite3* db) const { sqlite3_close(db); }
};
struct FinalizeStatement {
  void operator()(sqlite3_stmt* statement) const { sqlite3_finalize(statement); }
};
using DatabaseHandle = std::unique_ptr<sqlite3, CloseDatabase>;
using StatementHandle = std::unique_ptr<sqlite3_stmt, FinalizeStatement>;

// The kind of failure an SQLite result code stands for.
Fault faultOf(int rc, const std::string& message);

// Opens `path` with `flags`; fails with the engine's message, naming the file.
DatabaseHandle openHandle(const std::string& path, int flags);
// Prepares one statement; fails with the engine's message and the SQL.
StatementHandle prepareHandle(sqlite3* db, const std::string& sql, unsigned flags = 0);
// Runs statements that return nothing; fails with the engine's message.
void executeSql(sqlite3* db, const std::string& sql);

// A column of the current row: Null, a number (integers too) or a text (a
// blob as its bytes). The second form reads it into `value` in place,
// keeping the room a text already has, and gives the engine's storage class.
Value columnValue(sqlite3_stmt* statement, int column);
void readColumn(sqlite3_stmt* statement, int column, Value& value, int& type);
// Binds a value as the engine should hold it: Null, a number, or a text (a
// blob when `type` is SQLITE_BLOB).
void bindValue(sqlite3_stmt* statement, int parameter, const Value& value, int type = SQLITE_TEXT);

}  // namespace ms::store
