// Reads the layout of a table from an SQLite file: its columns and their
// affinity from the declared types, its indexes from the engine's own lists.
#pragma once

#include <sqlite3.h>

#include <memory>
#include <string>

#include "store/table_layout.h"

namespace ms::store {

// Null when there is no such table.
std::shared_ptr<TableLayout> readSqliteLayout(sqlite3* db, const std::string& name);
// The CREATE INDEX statement of an index; empty for one the engine made.
std::string readSqliteIndexDefinition(sqlite3* db, const std::string& name);

}  // namespace ms::store
