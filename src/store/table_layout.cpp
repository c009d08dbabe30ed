#include "store/table_layout.h"

#include <algorithm>
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

struct ListedColumn {
  std::string name;  // empty for the rowid
  int column = -1;
  std::string collation;
  bool descending = false;
};

std::string upper(std::string text) {
  for (auto& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

std::shared_ptr<IndexLayout> makeIndex(const std::string& table, const std::string& name, bool unique,
                                       const std::vector<ListedColumn>& listed, Affinity firstAffinity) {
  auto index = std::make_shared<IndexLayout>();
  index->name = name;
  index->unique = unique;
  index->firstAffinity = firstAffinity;
  index->select = "SELECT rowid, * FROM " + quoteName(table);
  std::string orderBy, reverse;
  for (const auto& column : listed) {
    KeyColumn key;
    key.column = column.column;
    key.sqlName = column.name.empty() ? "rowid" : quoteName(column.name);
    key.collation = upper(column.collation);
    key.descending = column.descending;
    if (!column.name.empty()) key.sqlName += " COLLATE " + quoteName(key.collation);
    orderBy += key.sqlName + (key.descending ? " DESC, " : ", ");
    reverse += key.sqlName + (key.descending ? ", " : " DESC, ");
    index->key.push_back(key);
  }
  index->orderBy = " ORDER BY " + orderBy + "rowid";
  index->firstSql = index->select + index->orderBy + " LIMIT 1";
  index->lastSql = index->select + " ORDER BY " + reverse + "rowid DESC LIMIT 1";
  if (!index->key.empty())
    index->seekSql =
        index->select + " WHERE " + index->key.front().sqlName + " = ?1" + index->orderBy + " LIMIT 1";
  return index;
}

int storageClass(int type) {
  switch (type) {
    case SQLITE_NULL:
      return 0;
    case SQLITE_INTEGER:
    case SQLITE_FLOAT:
      return 1;
    case SQLITE_TEXT:
      return 2;
    default:
      return 3;
  }
}

}  // namespace

std::string IndexLayout::afterSql(std::size_t depth, unsigned nulls, std::size_t limit) const {
  std::string where;
  auto parameter = [](std::size_t j) { return "?" + std::to_string(j + 1); };
  for (std::size_t j = 0; j < depth; ++j) {
    const bool null = nulls & (1u << j);
    where += key[j].sqlName + (null ? " IS NULL" : " = " + parameter(j)) + " AND ";
  }
  if (depth == key.size()) {
    where += "rowid > " + parameter(key.size());
  } else {
    const KeyColumn& column = key[depth];
    const bool null = nulls & (1u << depth);
    if (!column.descending)
      where += column.sqlName + (null ? " IS NOT NULL" : " > " + parameter(depth));
    else  // Nulls come last: after a Null there is nothing but Nulls
      where += null ? "0"
                    : "(" + column.sqlName + " < " + parameter(depth) + " OR " + column.sqlName + " IS NULL)";
  }
  return select + " WHERE " + where + orderBy + " LIMIT " + std::to_string(limit);
}

int compareKeyValues(const Value& a, int typeA, const Value& b, int typeB, const std::string& collation) {
  const int classA = storageClass(typeA), classB = storageClass(typeB);
  if (classA != classB) return classA < classB ? -1 : 1;
  if (classA == 0) return 0;
  if (classA == 1) {
    const double x = a.number(), y = b.number();
    return x < y ? -1 : x > y ? 1 : 0;
  }
  std::string x = a.textOrEmpty(), y = b.textOrEmpty();
  if (classA == 2 && collation == "RTRIM") {
    while (!x.empty() && x.back() == ' ') x.pop_back();
    while (!y.empty() && y.back() == ' ') y.pop_back();
  } else if (classA == 2 && collation == "NOCASE") {
    for (auto& c : x) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    for (auto& c : y) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  const int order = x.compare(y);
  return order < 0 ? -1 : order > 0 ? 1 : 0;
}

bool NoCaseEqual::operator()(std::string_view a, std::string_view b) const {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x == y) continue;
    if ((x | 0x20) != (y | 0x20) || (x | 0x20) < 'a' || (x | 0x20) > 'z') return false;
  }
  return true;
}

Value convertFor(Affinity affinity, const Value& value) {
  if (value.isNull()) return value;
  switch (affinity) {
    case Affinity::Text:
      return Value(value.text());
    case Affinity::Numeric:
      return Value(value.number());
    case Affinity::None:
      break;
  }
  return value;
}

int TableLayout::column(const std::string& field) const {
  auto found = columnByName.find(field);
  return found == columnByName.end() ? -1 : found->second;
}

std::shared_ptr<const IndexLayout> TableLayout::index(const std::string& storeName) const {
  auto found = indexByName.find(storeName);
  return found == indexByName.end() ? nullptr : found->second;
}

std::shared_ptr<TableLayout> readTableLayout(sqlite3* db, const std::string& name) {
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

  const std::string prefix = lowerCase(layout->name) + "_";
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
      column.collation = columnText(row, 4);
      if (column.collation.empty()) column.collation = "BINARY";
      column.descending = sqlite3_column_int(row, 3) != 0;
      if (key.empty()) firstAffinity = cid >= 0 ? layout->affinities[cid] : Affinity::Numeric;
      key.push_back(column);
    });
    if (!usable || key.empty()) continue;
    auto index = makeIndex(layout->name, entry.name, entry.unique, key, firstAffinity);
    std::string lower = lowerCase(entry.name);
    if (entry.origin == "pk" && !primaryFound) {
      layout->indexByName["PrimaryKey"] = index;
      primaryFound = true;
    } else if (lower.size() > prefix.size() && lower.compare(0, prefix.size(), prefix) == 0) {
      layout->indexByName.emplace(lower.substr(prefix.size()), index);
    }
  }

  // An INTEGER PRIMARY KEY is the rowid itself and has no index of its own.
  if (!primaryFound && primaryColumns.size() == 1 && primaryColumns[0] >= 0) {
    ListedColumn column{layout->columns[primaryColumns[0]], primaryColumns[0], "BINARY", false};
    layout->indexByName["PrimaryKey"] =
        makeIndex(layout->name, "rowid", true, {column}, layout->affinities[primaryColumns[0]]);
  }

  layout->rowidOrder = makeIndex(layout->name, "rowid", true, {}, Affinity::Numeric);
  layout->selectRowSql = "SELECT rowid, * FROM " + quoted + " WHERE rowid = ?1";
  layout->countSql = "SELECT count(*) FROM " + quoted;
  return layout;
}

}  // namespace ms::store
