// The layout of one table as the database declares it: its columns with
// their type affinity, its indexes with their columns, collations and
// directions, and the SQL that the cursors run against it, built once per
// layout in the engine's dialect.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "store/statement.h"
#include "values/value.h"

namespace ms::store {

// What the engines' SQL differs in. SQLite's rowid is a column "rowid" on
// PostgreSQL (an identity, hidden from the recordsets), and PostgreSQL
// orders Nulls last unless told otherwise.
struct Dialect {
  const char* parameter;    // "?" or "$", followed by the parameter's number
  const char* ascending;    // after a key column in ORDER BY
  const char* descending;   // after a descending one
  const char* never;        // a condition that is always false
  const char* numberType;   // the type of a defined table's fields
  const char* hiddenRowid;  // the rowid column a defined table adds, if any
  const char* indexColumn;  // after a column of a defined index
  const char* indexTail;    // after the columns of a defined index that is not unique
  // Reading one row alone costs no round trip (an engine in the process).
  bool rowsReadAlone;
  std::string mark(std::size_t number) const { return parameter + std::to_string(number); }
};
extern const Dialect kSqliteDialect;
extern const Dialect kPostgresDialect;

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
  int column = -1;        // position among the table's columns; -1: the rowid
  std::string sqlName;    // as SQL names it: the quoted column name with its collation, or rowid
  std::string collation;  // how its texts compare: BINARY, NOCASE or RTRIM
  bool descending = false;
};

// A key column as an engine lists it, for makeIndex.
struct ListedColumn {
  std::string name;  // empty for the rowid
  int column = -1;
  std::string collation;  // BINARY, NOCASE or RTRIM
  std::string collate;    // the COLLATE clause that orders it so, if any
  bool descending = false;
};

// The order of an index, with the SQL that walks a table in it. Every
// statement selects the rowid and then every column: the row comes with the
// step that finds it.
// Rows with equal keys come in rowid order.
struct IndexLayout {
  std::string name;  // the engine's index name
  bool unique = false;
  std::vector<KeyColumn> key;  // empty: rowid order
  Affinity firstAffinity = Affinity::None;

  std::string firstSql;  // the first row in index order
  std::string lastSql;   // the last row
  std::string seekSql;   // the first row whose first key column equals ?1 (none without a key)

  // The first row after a place in index order, found in tiers from the
  // deepest: tier `depth` keeps the key columns before `depth` equal to the
  // place's and finds the next value of column `depth`, or of the rowid
  // when depth is the number of key columns. Bit j of `nulls`
  // says the place's key column j is Null. Every tier is a search of the
  // index, never a scan.
  // At most `limit` rows, in index order.
  // `columns`, when given, stands for `select` (the same columns in the
  // same places).
  std::string afterSql(std::size_t depth, unsigned nulls, std::size_t limit,
                       const std::string* columns = nullptr) const;

  const Dialect* dialect = &kSqliteDialect;
  std::string select;   // SELECT rowid, <every column> FROM ...
  std::string orderBy;  // ORDER BY ... , rowid

  // The statements above once prepared on the connection that read this
  // layout (which owns them), kept by handle for every cursor.
  mutable Statement* firstStatement = nullptr;
  mutable Statement* seekStatement = nullptr;
  mutable std::vector<Statement*> afterStatements;  // by read size, depth and Null pattern
};

// Orders two values of a key column as the engine does: Null, then numbers,
// then texts by the column's collation (BINARY, NOCASE or RTRIM), then blobs
// (`type` is the class of each, kText and so on).
int compareKeyValues(const Value& a, int typeA, const Value& b, int typeB, const std::string& collation);

// Builds the order of an index and its statements; `select` is the
// layout's "SELECT rowid, <every column> FROM <table>".
std::shared_ptr<IndexLayout> makeIndex(const Dialect& dialect, const std::string& select,
                                       const std::string& name, bool unique,
                                       const std::vector<ListedColumn>& listed, Affinity firstAffinity);

struct TableLayout {
  std::string name;  // as the database spells it
  std::vector<std::string> columns;
  std::vector<Affinity> affinities;
  NoCaseMap<int> columnByName;
  NoCaseMap<std::shared_ptr<const IndexLayout>> indexByName;  // by the store's name
  std::shared_ptr<const IndexLayout> rowidOrder;              // no index chosen: rowid order

  std::string selectRowSql;  // SELECT rowid, <every column> ... WHERE rowid = ?1
  std::string countSql;

  // The column's position, or -1.
  int column(const std::string& field) const;
  // The index by the store's name ("PrimaryKey" or N for "<table>_N"), or null.
  std::shared_ptr<const IndexLayout> index(const std::string& storeName) const;
  // Whether any named index is unique (the primary key among them).
  bool hasUniqueKey() const;
  // Files an index the engine lists under the store's name: the primary key
  // as "PrimaryKey" (the first one only), index "<table>_N" as N.
  void addIndex(const std::string& engineName, bool primary, std::shared_ptr<IndexLayout> index);
};

}  // namespace ms::store
