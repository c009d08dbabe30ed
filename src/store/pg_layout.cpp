// Reads the layout of a table from the PostgreSQL catalogue: its columns
// (without the hidden rowid) with their affinity from their types, and its
// indexes with their key columns up to the trailing rowid.
#include <cstdlib>
#include <map>

#include "store/pg_connection.h"
#include "values/fault.h"

namespace ms::store {

namespace {

Affinity affinityOfType(const std::string& type) {
  if (type.find("char") != std::string::npos || type == "text") return Affinity::Text;
  if (type == "bytea") return Affinity::None;
  return Affinity::Numeric;
}

}  // namespace

std::shared_ptr<TableLayout> PgConnection::readLayout(const std::string& name) {
  // Tables of the schemas on the search path; an exact spelling first.
  PgResult table = fetch(
      "SELECT c.oid::text, c.relname FROM pg_class c WHERE c.relkind IN ('r', 'p') AND "
      "pg_table_is_visible(c.oid) AND lower(c.relname) = lower($1) ORDER BY c.relname = $1 DESC LIMIT 1",
      {name});
  if (PQntuples(table.get()) == 0) {
    // Named with where it was looked for: a job's schema is easily misspelt.
    PgResult path =
        fetch("SELECT current_setting('search_path'), array_to_string(current_schemas(false), ', ')", {});
    const std::string asked = PQgetvalue(path.get(), 0, 0), found = PQgetvalue(path.get(), 0, 1);
    throw RunError(Fault::NotFound,
                   "Table '" + name + "' not found in the " + name_ +
                       (found.empty() ? ", whose search path \"" + asked + "\" names no schema that exists"
                                      : ", schema " + found) +
                       ".",
                   name);
  }
  const std::string oid = PQgetvalue(table.get(), 0, 0);
  auto layout = std::make_shared<TableLayout>();
  layout->name = PQgetvalue(table.get(), 0, 1);
  const std::string quoted = quoteName(layout->name);

  PgResult columns = fetch(
      "SELECT a.attnum::text, a.attname, format_type(a.atttypid, NULL), "
      "coalesce(t.typname, '') FROM pg_attribute a JOIN pg_type t ON t.oid = a.atttypid "
      "WHERE a.attrelid = $1::oid AND a.attnum > 0 AND NOT a.attisdropped ORDER BY a.attnum",
      {oid});
  std::map<std::string, int> positionOf;  // by attnum
  std::map<std::string, std::string> typeOf;
  std::string rowidNumber, list;
  for (int row = 0; row < PQntuples(columns.get()); ++row) {
    const std::string number = PQgetvalue(columns.get(), row, 0), column = PQgetvalue(columns.get(), row, 1);
    if (column == "rowid") {
      rowidNumber = number;
      continue;
    }
    positionOf[number] = static_cast<int>(layout->columns.size());
    typeOf[number] = PQgetvalue(columns.get(), row, 3);
    layout->columnByName.emplace(column, static_cast<int>(layout->columns.size()));
    layout->columns.push_back(column);
    layout->affinities.push_back(affinityOfType(PQgetvalue(columns.get(), row, 2)));
    list += ", " + quoteName(column);
  }
  if (rowidNumber.empty())
    throw RunError(Fault::NotFound, "Table '" + layout->name + "' has no rowid column.", layout->name);
  const std::string select = "SELECT rowid" + list + " FROM " + quoted;

  PgResult indexes = fetch(
      "SELECT i.relname, x.indisunique, x.indisprimary, k.attnum::text, (x.indoption[k.ord - 1] & 1) = 1 "
      "FROM pg_index x JOIN pg_class i ON i.oid = x.indexrelid "
      "CROSS JOIN LATERAL unnest(x.indkey::int2[]) WITH ORDINALITY AS k(attnum, ord) "
      "WHERE x.indrelid = $1::oid AND x.indpred IS NULL AND k.ord <= x.indnkeyatts "
      "ORDER BY x.indisprimary DESC, i.relname, k.ord",
      {oid});
  struct Listed {
    std::string name;
    bool unique = false, primary = false, usable = true, ended = false;
    std::vector<ListedColumn> key;
  };
  std::vector<Listed> listed;
  for (int row = 0; row < PQntuples(indexes.get()); ++row) {
    const std::string indexName = PQgetvalue(indexes.get(), row, 0);
    if (listed.empty() || listed.back().name != indexName)
      listed.push_back({indexName,
                        *PQgetvalue(indexes.get(), row, 1) == 't',
                        *PQgetvalue(indexes.get(), row, 2) == 't',
                        true,
                        false,
                        {}});
    Listed& index = listed.back();
    const std::string number = PQgetvalue(indexes.get(), row, 3);
    if (index.ended) continue;
    if (number == rowidNumber) {  // the rowid closes the key; an index on it alone is the store's own
      index.ended = true;
      index.usable = index.usable && !index.key.empty();
      continue;
    }
    auto position = positionOf.find(number);
    if (position == positionOf.end()) {  // an expression
      index.usable = false;
      continue;
    }
    ListedColumn column;
    column.name = layout->columns[static_cast<std::size_t>(position->second)];
    column.column = position->second;
    const std::string& type = typeOf[number];
    const bool text = type == "text" || type == "bpchar" || type == "varchar";
    column.collation = type == "bpchar" ? "RTRIM" : "BINARY";
    column.collate = text ? " COLLATE \"C\"" : "";
    column.descending = *PQgetvalue(indexes.get(), row, 4) == 't';
    index.key.push_back(column);
  }
  bool primaryFound = false;
  for (const auto& index : listed) {
    if (!index.usable || index.key.empty()) continue;
    const bool primary = index.primary && !primaryFound;
    primaryFound = primaryFound || primary;
    layout->addIndex(index.name, primary,
                     makeIndex(kPostgresDialect, select, index.name, index.unique, index.key,
                               layout->affinities[static_cast<std::size_t>(index.key.front().column)]));
  }
  layout->rowidOrder = makeIndex(kPostgresDialect, select, "rowid", true, {}, Affinity::Numeric);
  layout->selectRowSql = select + " WHERE rowid = $1";
  layout->countSql = "SELECT count(*) FROM " + quoted;
  return layout;
}

}  // namespace ms::store
