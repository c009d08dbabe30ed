// The layout of one table as the file declares it: its columns with their
// type affinity, its indexes with their columns, collations and directions,
// and the SQL that the cursors run against it, built once per layout.
#pragma once

#include <sqlite3.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "values/value.h"

namespace ms::store {

// Names of tables, fields and indexes match without regard to (ASCII) case;
// these let a map find them without making a lower-case copy first.
struct NoCaseHash {
  std::size_t operator()(std::string_view text) const {
    std::size_t hash = 14695981039346656037ull;
    for (char c : text) hash = (hash ^ static_cast<unsigned char>(c | 0x20)) * 1099511628211ull;
    return hash;
  }
};
struct NoCaseEqual {
  bool operator()(std::string_view a, std::string_view b) const;
};
template <class T>
using NoCaseMap = std::unordered_map<std::string, T, NoCaseHash, NoCaseEqual>;

// How a column converts what is written into it (SQLite's affinity rules).
enum class Affinity { Text, Numeric, None };

// Converts a value for a column: a number into a text column becomes its
// plain text; a text into a number column must be wholly a number
// (Fault::TypeMismatch otherwise); Null stays Null.
Value convertFor(Affinity affinity, const Value& value);

// One column of an index key: a column of the table, or the rowid itself
// (an INTEGER PRIMARY KEY), with its collation and direction.
struct KeyColumn {
  int column = -1;      // position among the table's columns; -1: the rowid
  std::string sqlName;  // as SQL names it: the quoted column name, or rowid
  std::string collation;
  bool descending = false;
};

// The order of an index, with the SQL that walks a table in it. Every
// statement selects "rowid, *": the row comes with the step that finds it.
// Rows with equal keys come in rowid order.
struct IndexLayout {
  std::string name;  // the SQLite index name
  bool unique = false;
  std::vector<KeyColumn> key;  // empty: rowid order
  Affinity firstAffinity = Affinity::None;

  std::string firstSql;  // the first row in index order
  std::string lastSql;   // the last row
  std::string seekSql;   // the first row whose first key column equals ?1 (none without a key)

  // The first row after a place in index order, found in tiers from the
  // deepest: tier `depth` keeps the key columns before `depth` equal to the
  // place's (?1 ...) and finds the next value of column `depth`, or of the
  // rowid (?n+1) when depth is the number of key columns. Bit j of `nulls`
  // says the place's key column j is Null. Every tier is a search of the
  // index, never a scan.
  // At most `limit` rows, in index order.
  std::string afterSql(std::size_t depth, unsigned nulls, std::size_t limit) const;

  std::string select;   // SELECT rowid, * FROM ...
  std::string orderBy;  // ORDER BY ... , rowid

  // The statements above once prepared on the connection that read this
  // layout (which owns them), kept by handle for every cursor.
  mutable sqlite3_stmt* firstStatement = nullptr;
  mutable sqlite3_stmt* seekStatement = nullptr;
  mutable std::vector<sqlite3_stmt*> afterStatements;  // by depth and Null pattern
};

// Orders two values of a key column as the engine does: Null, then numbers,
// then texts by the column's collation (BINARY, NOCASE or RTRIM), then blobs
// (`type` is the engine's storage class of each, SQLITE_TEXT and so on).
int compareKeyValues(const Value& a, int typeA, const Value& b, int typeB, const std::string& collation);

struct TableLayout {
  std::string name;  // as the file spells it
  std::vector<std::string> columns;
  std::vector<Affinity> affinities;
  NoCaseMap<int> columnByName;
  NoCaseMap<std::shared_ptr<const IndexLayout>> indexByName;  // by the store's name
  std::shared_ptr<const IndexLayout> rowidOrder;              // no index chosen: rowid order

  std::string selectRowSql;  // SELECT rowid, * ... WHERE rowid = ?1
  std::string countSql;

  // The column's position, or -1.
  int column(const std::string& field) const;
  // The index by the store's name ("PrimaryKey" or N for "<table>_N"), or null.
  std::shared_ptr<const IndexLayout> index(const std::string& storeName) const;
};

// Reads the layout of a table from the file; null when there is no such table.
std::shared_ptr<TableLayout> readTableLayout(sqlite3* db, const std::string& name);

}  // namespace ms::store
