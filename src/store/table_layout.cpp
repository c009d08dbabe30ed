#include "store/table_layout.h"

#include <algorithm>
#include <cctype>

#include "store/connection.h"
#include "values/fault.h"

namespace ms::store {

namespace {

int storageClass(int type) {
  switch (type) {
    case kNull:
      return 0;
    case kInteger:
    case kFloat:
      return 1;
    case kText:
      return 2;
    default:
      return 3;
  }
}

}  // namespace

const Dialect kSqliteDialect{"?", "", " DESC", "0", "REAL", "", "", "", true};
const Dialect kPostgresDialect{"$",
                               " NULLS FIRST",
                               " DESC NULLS LAST",
                               "false",
                               "double precision",
                               ", \"rowid\" bigint GENERATED ALWAYS AS IDENTITY UNIQUE",
                               " NULLS FIRST",
                               ", \"rowid\"",
                               false};

std::shared_ptr<IndexLayout> makeIndex(const Dialect& dialect, const std::string& select,
                                       const std::string& name, bool unique,
                                       const std::vector<ListedColumn>& listed, Affinity firstAffinity) {
  auto index = std::make_shared<IndexLayout>();
  index->name = name;
  index->unique = unique;
  index->firstAffinity = firstAffinity;
  index->dialect = &dialect;
  index->select = select;
  std::string orderBy, reverse;
  for (const auto& column : listed) {
    KeyColumn key;
    key.column = column.column;
    key.sqlName = column.name.empty() ? "rowid" : quoteName(column.name) + column.collate;
    key.collation = column.collation;
    key.descending = column.descending;
    orderBy += key.sqlName + (key.descending ? dialect.descending : dialect.ascending) + ", ";
    reverse += key.sqlName + (key.descending ? dialect.ascending : dialect.descending) + ", ";
    index->key.push_back(key);
  }
  index->orderBy = " ORDER BY " + orderBy + "rowid";
  index->firstSql = index->select + index->orderBy + " LIMIT 1";
  index->lastSql = index->select + " ORDER BY " + reverse + "rowid DESC LIMIT 1";
  if (!index->key.empty())
    index->seekSql = index->select + " WHERE " + index->key.front().sqlName + " = " + dialect.mark(1) +
                     index->orderBy + " LIMIT 1";
  return index;
}

std::string IndexLayout::afterSql(std::size_t depth, unsigned nulls, std::size_t limit,
                                  const std::string* columns) const {
  // Parameters are numbered in turn over the key values that are not Null,
  // then the rowid.
  std::string where;
  std::size_t parameters = 0;
  auto parameter = [&] { return dialect->mark(++parameters); };
  for (std::size_t j = 0; j < depth; ++j) {
    const bool null = nulls & (1u << j);
    where += key[j].sqlName + (null ? " IS NULL" : " = " + parameter()) + " AND ";
  }
  if (depth == key.size()) {
    where += "rowid > " + parameter();
  } else {
    const KeyColumn& column = key[depth];
    const bool null = nulls & (1u << depth);
    if (!column.descending)
      where += column.sqlName + (null ? " IS NOT NULL" : " > " + parameter());
    else  // Nulls come last: after a Null there is nothing but Nulls
      where += null ? dialect->never
                    : "(" + column.sqlName + " < " + parameter() + " OR " + column.sqlName + " IS NULL)";
  }
  return (columns ? *columns : select) + " WHERE " + where + orderBy + " LIMIT " + std::to_string(limit);
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

bool TableLayout::hasUniqueKey() const {
  for (const auto& [storeName, index] : indexByName)
    if (index->unique) return true;
  return false;
}

void TableLayout::addIndex(const std::string& engineName, bool primary, std::shared_ptr<IndexLayout> index) {
  const std::string prefix = lowerCase(name) + "_";
  const std::string lower = lowerCase(engineName);
  if (primary) {
    indexByName.emplace("PrimaryKey", std::move(index));
  } else if (lower.size() > prefix.size() && lower.compare(0, prefix.size(), prefix) == 0) {
    indexByName.emplace(lower.substr(prefix.size()), std::move(index));
  }
}

}  // namespace ms::store
