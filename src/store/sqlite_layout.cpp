#include "store/sqlite_layout.h"

#include <cctype>

#include "store/connection.h"
#include "store/sqlite_handle.h"
#include "values/fault.h"

namespace ms::store {

namespace {

Affinity affinityOf(std::string declared) {
  for (auto& c : declared) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  auto has = [&](const char* part) { return declared.find(part) != std::string::npos; };
  if (has("INT")) return Affinity::Numeric;
  if (has("CHAR") || has("CLOB") || has("TEXT")) return Affinity::Text;
  if (has("BLOB") || declared.empty()) return Affinity::None;
  return Affinity::Numeric;  // REAL, FLOAT, DOUBLE, NUMERIC, anything else
}

std::string columnText(sqlite3_stmt* statement, int column) {
  auto text = reinterpret_cast<const char*>(sqlite3_column_text(statement, column));
  return text ? std::string(text, static_cast<std::size_t>(sqlite3_column_bytes(statement, column)))
              : std::string();
}

// Steps a schema query to its end, handing each row to `row`. A schema that
// cannot be read (a busy or damaged file) fails; the table is not taken
// for missing.
template <class Row>
void eachRow(sqlite3* db, const std::string& sql, const std::string& bound, Row&& row) {
  sqlite3_stmt* raw = nullptr;
  int rc = sqlite3_prepare_v2(db, sql.c_str(), -1, &raw, nullptr);
  StatementHandle statement(raw);
  if (rc == SQLITE_OK) {
    if (!bound.empty()) sqlite3_bind_text(raw, 1, bound.c_str(), -1, SQLITE_TRANSIENT);
    while ((rc = sqlite3_step(raw)) == SQLITE_ROW) row(raw);
  }
  if (rc != SQLITE_DONE && rc != SQLITE_OK) {
    std::string message = sqlite3_errmsg(db);
    throw RunError(faultOf(rc, message), "The layout of table '" + bound + "' could not be read: " + message,
                   bound);
  }
}

std::string upper(std::string text) {
  for (auto& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

}  // namespace

std::string readSqliteIndexDefinition(sqlite3* db, const std::string& name) {
  std::string definition;
  eachRow(db, "SELECT sql FROM sqlite_master WHERE type = 'index' AND name = ?1 AND sql IS NOT NULL", name,
          [&](sqlite3_stmt* row) { definition = columnText(row, 0); });
  return definition;
}

std::shared_ptr<TableLayout> readSqliteLayout(sqlite3* db, const std::string& name) {
  auto layout = std::make_shared<TableLayout>();
  bool exists = false;
  eachRow(db, "SELECT name FROM sqlite_master WHERE type = 'table' AND name = ?1 COLLATE NOCASE", name,
          [&](sqlite3_stmt* row) {
            layout->name = columnText(row, 0);
            exists = true;
          });
  if (!exists) return nullptr;
  const std::string quoted = quoteName(layout->name);

  std::vector<int> primaryColumns;  // by position in the declared primary key
  eachRow(db, "PRAGMA table_info(" + quoted + ")", "", [&](sqlite3_stmt* row) {
    int position = static_cast<int>(layout->columns.size());
    layout->columns.push_back(columnText(row, 1));
    layout->affinities.push_back(affinityOf(columnText(row, 2)));
    layout->columnByName.emplace(layout->columns.back(), position);
    int pk = sqlite3_column_int(row, 5);
    if (pk > 0) {
      if (primaryColumns.size() < static_cast<std::size_t>(pk)) primaryColumns.resize(pk, -1);
      primaryColumns[pk - 1] = position;
    }
  });

  struct Listed {
    std::string name;
    bool unique;
    std::string origin;
  };
  std::vector<Listed> listed;
  eachRow(db, "PRAGMA index_list(" + quoted + ")", "", [&](sqlite3_stmt* row) {
    if (sqlite3_column_int(row, 4) != 0) return;  // partial indexes do not order the whole table
    listed.push_back({columnText(row, 1), sqlite3_column_int(row, 2) != 0, columnText(row, 3)});
  });

  const std::string select = "SELECT rowid, * FROM " + quoted;
  bool primaryFound = false;
  for (const auto& entry : listed) {
    std::vector<ListedColumn> key;
    bool usable = true;
    Affinity firstAffinity = Affinity::None;
    eachRow(db, "PRAGMA index_xinfo(" + quoteName(entry.name) + ")", "", [&](sqlite3_stmt* row) {
      if (sqlite3_column_int(row, 5) == 0) return;  // the trailing rowid and other auxiliary columns
      int cid = sqlite3_column_int(row, 1);
      if (cid == -2) usable = false;  // an expression
      ListedColumn column;
      column.column = cid;
      if (cid >= 0) column.name = columnText(row, 2);
      column.collation = upper(columnText(row, 4));
      if (column.collation.empty()) column.collation = "BINARY";
      column.collate = " COLLATE " + quoteName(column.collation);
      column.descending = sqlite3_column_int(row, 3) != 0;
      if (key.empty()) firstAffinity = cid >= 0 ? layout->affinities[cid] : Affinity::Numeric;
      key.push_back(column);
    });
    if (!usable || key.empty()) continue;
    const bool primary = entry.origin == "pk" && !primaryFound;
    primaryFound = primaryFound || primary;
    layout->addIndex(entry.name, primary,
                     makeIndex(kSqliteDialect, select, entry.name, entry.unique, key, firstAffinity));
  }

  // An INTEGER PRIMARY KEY is the rowid itself and has no index of its own.
  if (!primaryFound && primaryColumns.size() == 1 && primaryColumns[0] >= 0) {
    ListedColumn column{layout->columns[primaryColumns[0]], primaryColumns[0], "BINARY",
                        " COLLATE \"BINARY\"", false};
    layout->addIndex(
        "rowid", true,
        makeIndex(kSqliteDialect, select, "rowid", true, {column}, layout->affinities[primaryColumns[0]]));
  }

  layout->rowidOrder = makeIndex(kSqliteDialect, select, "rowid", true, {}, Affinity::Numeric);
  layout->selectRowSql = "SELECT rowid, * FROM " + quoted + " WHERE rowid = ?1";
  layout->countSql = "SELECT count(*) FROM " + quoted;
  return layout;
}

}  // namespace ms::store
