#include "store/pg_statement.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "store/pg_connection.h"
#include "store/table_layout.h"

namespace ms::store {

namespace {

// A value as an element of a PostgreSQL array in text form.
void appendElement(std::string& array, const std::string& text, bool null) {
  array += array.size() > 1 ? "," : "";
  if (null) {
    array += "NULL";
    return;
  }
  array += '"';
  for (char c : text) {
    if (c == '"' || c == '\\') array += '\\';
    array += c;
  }
  array += '"';
}

std::string numberText(double number) {
  if (std::isnan(number)) return "NaN";
  if (std::isinf(number)) return number > 0 ? "Infinity" : "-Infinity";
  char text[32];
  std::snprintf(text, sizeof text, "%.17g", number);
  return text;
}

// Whether the values of a result column of this type are read as numbers.
bool isNumber(Oid type) {
  using namespace pg_type;
  return type == kBool || type == kInt8 || type == kInt2 || type == kInt4 || type == kOid ||
         type == kFloat4 || type == kFloat8 || type == kNumeric;
}

}  // namespace

// ---- statements -------------------------------------------------------------

std::string& PgStatement::slot(int parameter) {
  const auto index = static_cast<std::size_t>(parameter - 1);
  if (texts_.size() <= index) {
    texts_.resize(index + 1);
    nulls_.resize(index + 1, 1);
    values_.resize(index + 1, nullptr);
  }
  count_ = std::max(count_, parameter);
  nulls_[index] = 0;
  return texts_[index];
}

const char* const* PgStatement::values() {
  for (int i = 0; i < count_; ++i) {
    const auto index = static_cast<std::size_t>(i);
    values_[index] = nulls_[index] ? nullptr : texts_[index].c_str();
  }
  return values_.data();
}

void PgStatement::bind(int parameter, const Value& value, int /*type*/) {
  std::string& text = slot(parameter);
  if (value.isNull())
    nulls_[static_cast<std::size_t>(parameter - 1)] = 1;
  else if (value.isNumber())
    text = numberText(value.number());
  else
    text = value.textOrEmpty();
}

void PgStatement::bindInteger(int parameter, std::int64_t value) { slot(parameter) = std::to_string(value); }

bool PgStatement::next() {
  if (!ran_) {
    connection_.query(*this);
    ran_ = true;
    row_ = -1;
    const int columns = PQnfields(result_.get());
    numeric_.assign(static_cast<std::size_t>(columns), 0);
    for (int i = 0; i < columns; ++i)
      numeric_[static_cast<std::size_t>(i)] = isNumber(PQftype(result_.get(), i));
  }
  return ++row_ < PQntuples(result_.get());
}

std::int64_t PgStatement::integer(int column) const {
  return std::strtoll(PQgetvalue(result_.get(), row_, column), nullptr, 10);
}

void PgStatement::readRow(std::vector<Value>& row, std::vector<int>& types, const char* wanted) const {
  for (std::size_t i = 0; i < row.size(); ++i) {
    if (wanted && !wanted[i]) continue;
    const int column = static_cast<int>(i + 1);
    if (PQgetisnull(result_.get(), row_, column)) {
      row[i].setNull();
      types[i] = kNull;
      continue;
    }
    const char* text = PQgetvalue(result_.get(), row_, column);
    if (numeric_[i + 1]) {
      row[i].setNumber(std::strtod(text, nullptr));
      types[i] = kFloat;
    } else {
      row[i].setText(text, static_cast<std::size_t>(PQgetlength(result_.get(), row_, column)));
      types[i] = kText;
    }
  }
}

std::int64_t PgStatement::write() { return connection_.write(*this); }

void PgStatement::reset() {
  result_.reset();
  ran_ = false;
  row_ = -1;
  count_ = 0;
  std::fill(nulls_.begin(), nulls_.end(), 1);
}

// ---- edit batches -----------------------------------------------------------

std::string PgEditBatch::sql(const TableLayout& layout, const std::vector<std::size_t>& columns) {
  std::string sql = "UPDATE " + quoteName(layout.name) + " SET ", arrays, names;
  for (std::size_t i = 0; i < columns.size(); ++i) {
    const std::string name = quoteName(layout.columns[columns[i]]);
    const bool text = layout.affinities[columns[i]] == Affinity::Text;
    sql += (i ? ", " : "") + name + " = u." + name;
    arrays += "$" + std::to_string(i + 1) + (text ? "::text[], " : "::float8[], ");
    names += name + ", ";
  }
  sql += " FROM unnest(" + arrays + "$" + std::to_string(columns.size() + 1) + "::bigint[]) AS u(" + names +
         "rowid) WHERE " + quoteName(layout.name) + ".rowid = u.rowid";
  return sql;
}

void PgEditBatch::bind(int parameter, const Value& value, int /*type*/) {
  const auto index = static_cast<std::size_t>(parameter - 1);
  currentNull_[index] = value.isNull();
  if (value.isNumber())
    current_[index] = numberText(value.number());
  else if (value.isText())
    current_[index] = value.textOrEmpty();
}

void PgEditBatch::bindInteger(int parameter, std::int64_t value) {
  const auto index = static_cast<std::size_t>(parameter - 1);
  currentNull_[index] = 0;
  current_[index] = std::to_string(value);
}

std::int64_t PgEditBatch::write() {
  connection_.gather(*this);
  return -1;
}

std::int64_t PgEditBatch::rowid() const { return std::strtoll(current_.back().c_str(), nullptr, 10); }

bool PgEditBatch::holds(std::int64_t rowid) const {
  return std::find(rowids_.begin(), rowids_.end(), rowid) != rowids_.end();
}

void PgEditBatch::add() {
  const std::int64_t added = rowid();
  for (std::size_t i = 0; i < current_.size(); ++i) {
    if (arrays_[i].empty()) arrays_[i] = "{";
    appendElement(arrays_[i], current_[i], currentNull_[i]);
  }
  rowids_.push_back(added);
}

std::vector<const char*> PgEditBatch::arrays() {
  std::vector<const char*> values;
  for (auto& array : arrays_) values.push_back((array += "}").c_str());
  return values;
}

void PgEditBatch::clear() {
  for (auto& array : arrays_) array.clear();
  rowids_.clear();
}

}  // namespace ms::store
