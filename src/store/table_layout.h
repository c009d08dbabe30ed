// The layout of one table as the file declares it: its columns with their
// type affinity, its indexes with their columns, collations and directions,
// and the SQL that the cursors run against it, built once per layout.
#pragma once

#include <sqlite3.h>

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "store/value.h"

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

struct IndexLayout {
  std::string name;  // the SQLite index name
  bool unique = false;
  std::vector<std::string> columns;
  Affinity firstAffinity = Affinity::None;

  std::string walkSql;       // rowids in index order
  std::string firstSql;      // the first rowid in index order
  std::string seekFirstSql;  // the first rowid whose first key column equals ?1
  std::string seekAllSql;    // every rowid whose first key column equals ?1
};

struct TableLayout {
  std::string name;  // as the file spells it
  std::vector<std::string> columns;
  std::vector<Affinity> affinities;
  NoCaseMap<int> columnByName;
  NoCaseMap<std::shared_ptr<const IndexLayout>> indexByName;  // by the store's name
  std::shared_ptr<const IndexLayout> rowidOrder;              // no index chosen: rowid order

  std::string selectRowSql;  // SELECT * ... WHERE rowid = ?1
  std::string countSql;

  // The column's position, or -1.
  int column(const std::string& name) const;
  // The index by the store's name ("PrimaryKey" or N for "<table>_N"), or null.
  std::shared_ptr<const IndexLayout> index(const std::string& name) const;
};

// Reads the layout of a table from the file; null when there is no such table.
std::shared_ptr<TableLayout> readTableLayout(sqlite3* db, const std::string& name);

}  // namespace ms::store
