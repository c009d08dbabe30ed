#include "store/table_cursor.h"

#include <algorithm>

#include "store/sqlite_handle.h"
#include "values/fault.h"

namespace ms::store {

namespace {

constexpr std::size_t kReadAhead = 128;

[[noreturn]] void noCurrentRecord() { throw RunError(Fault::NoCurrentRecord, "No current record."); }

void readRow(sqlite3_stmt* statement, std::size_t columns, std::vector<Value>& row, std::vector<int>& types) {
  row.resize(columns);
  types.resize(columns);
  for (std::size_t i = 0; i < columns; ++i) readColumn(statement, static_cast<int>(i + 1), row[i], types[i]);
}

}  // namespace

TableCursor::TableCursor(std::shared_ptr<Connection> connection, std::shared_ptr<const TableLayout> layout)
    : connection_(std::move(connection)), layout_(std::move(layout)) {}

const IndexLayout& TableCursor::order() const { return index_ ? *index_ : *layout_->rowidOrder; }

void TableCursor::begin() {
  connection_->requireOpen();
  connection_->enter();
}

int TableCursor::columnOf(const std::string& name) {
  for (const auto& [known, column] : names_)
    if (known == name) return column;
  int column = layout_->column(name);
  if (column < 0)
    throw RunError(Fault::NotFound, "Field '" + name + "' not found in table '" + layout_->name + "'.",
                   layout_->name);
  if (names_.size() < 32) names_.emplace_back(name, column);
  return column;
}

// ---- positioning -----------------------------------------------------------

bool TableCursor::take(sqlite3_stmt* statement) {
  ahead_.count = ahead_.next = 0;
  StatementUse use(statement);
  const int rc = sqlite3_step(statement);
  if (rc == SQLITE_DONE) return false;
  if (rc != SQLITE_ROW) connection_->fail(rc, {}, layout_->name);
  rowid_ = sqlite3_column_int64(statement, 0);
  readRow(statement, layout_->columns.size(), row_, types_);
  becomeRow();
  return true;
}

void TableCursor::becomeRow() {
  const auto& key = order().key;
  placeKey_.resize(key.size());
  placeTypes_.resize(key.size());
  for (std::size_t j = 0; j < key.size(); ++j) {
    if (key[j].column < 0) {
      placeKey_[j].setNumber(static_cast<double>(rowid_));
      placeTypes_[j] = SQLITE_INTEGER;
    } else {
      placeKey_[j] = row_[static_cast<std::size_t>(key[j].column)];
      placeTypes_[j] = types_[static_cast<std::size_t>(key[j].column)];
    }
  }
  at_ = At::Row;
  rowKnown_ = true;
  empty_ = false;
}

std::size_t TableCursor::readAhead(sqlite3_stmt* statement) {
  ahead_.count = ahead_.next = 0;
  StatementUse use(statement);
  const std::size_t columns = layout_->columns.size();
  int rc;
  while ((rc = sqlite3_step(statement)) == SQLITE_ROW) {
    const std::size_t n = ahead_.count++;
    if (ahead_.rows.size() <= n) {
      ahead_.rowids.resize(n + 1);
      ahead_.rows.resize(n + 1);
      ahead_.types.resize(n + 1);
    }
    ahead_.rowids[n] = sqlite3_column_int64(statement, 0);
    readRow(statement, columns, ahead_.rows[n], ahead_.types[n]);
  }
  if (rc != SQLITE_DONE) {
    ahead_.count = 0;
    connection_->fail(rc, {}, layout_->name);
  }
  ahead_.stamp = connection_->stamp();
  return ahead_.count;
}

bool TableCursor::fromReadAhead() {
  if (ahead_.next >= ahead_.count || ahead_.stamp != connection_->stamp()) return false;
  const std::size_t n = ahead_.next++;
  rowid_ = ahead_.rowids[n];
  row_.swap(ahead_.rows[n]);  // the old row's room is used by the next read-ahead
  types_.swap(ahead_.types[n]);
  becomeRow();
  return true;
}

void TableCursor::toEnd(At at) {
  at_ = at;
  rowKnown_ = false;
  ahead_.count = ahead_.next = 0;
}

void TableCursor::resolve() {
  if (at_ != At::First) return;
  const IndexLayout& walk = order();
  if (!walk.firstStatement) walk.firstStatement = connection_->prepare(walk.firstSql);
  if (!take(walk.firstStatement)) {
    toEnd(At::Eof);
    empty_ = true;
  }
}

void TableCursor::requireRow() {
  resolve();
  if (at_ != At::Row) noCurrentRecord();
  if (rowKnown_) return;
  sqlite3_stmt* statement = connection_->prepare(layout_->selectRowSql);
  sqlite3_bind_int64(statement, 1, rowid_);
  if (!take(statement)) throw RunError(Fault::NoCurrentRecord, "Record is deleted.");
}

sqlite3_stmt* TableCursor::afterStatement(std::size_t depth, unsigned nulls) {
  const IndexLayout& walk = order();
  const std::size_t keys = walk.key.size();
  const std::size_t slot = depth * (std::size_t{1} << keys) + nulls;
  auto& statements = walk.afterStatements;
  if (statements.size() <= slot) statements.resize((keys + 1) << keys, nullptr);
  if (!statements[slot]) statements[slot] = connection_->prepare(walk.afterSql(depth, nulls, kReadAhead));
  return statements[slot];
}

// ---- public operations -------------------------------------------------------

std::int64_t TableCursor::recordCount() {
  begin();
  sqlite3_stmt* statement = connection_->prepare(layout_->countSql);
  StatementUse use(statement);
  int rc = sqlite3_step(statement);
  if (rc != SQLITE_ROW) connection_->fail(rc, {}, layout_->name);
  return sqlite3_column_int64(statement, 0);
}

void TableCursor::setIndex(const std::string& name) {
  connection_->requireOpen();
  auto index = layout_->index(name);
  if (!index)
    throw RunError(Fault::NotFound, "'" + name + "' isn't an index of table '" + layout_->name + "'.",
                   layout_->name);
  pending_ = Pending::None;
  index_ = std::move(index);
  toEnd(At::First);
  noMatch_ = false;
}

void TableCursor::seek(const Value& key) {
  begin();
  if (!index_ || index_->seekSql.empty())
    throw RunError(Fault::Engine, "Operation invalid without a current index.");
  Value converted = convertFor(index_->firstAffinity, key);
  pending_ = Pending::None;
  bool found = false;
  if (!converted.isNull()) {  // nothing equals Null
    if (!index_->seekStatement) index_->seekStatement = connection_->prepare(index_->seekSql);
    bindValue(index_->seekStatement, 1, converted);
    found = take(index_->seekStatement);
  }
  noMatch_ = !found;
  if (!found) {
    toEnd(At::Eof);
    empty_ = false;
  }
}

void TableCursor::moveFirst() {
  begin();
  pending_ = Pending::None;
  toEnd(At::First);
  resolve();
}

void TableCursor::moveNext() {
  begin();
  pending_ = Pending::None;
  resolve();
  switch (at_) {
    case At::Eof:
    case At::First:
      noCurrentRecord();
    case At::Bof:
      toEnd(At::First);
      resolve();
      return;
    case At::Row:
      break;
  }
  if (fromReadAhead()) return;
  // On from the place as the cursor read it: its key and its rowid.
  const std::size_t keys = order().key.size();
  if (placeKey_.size() != keys) requireRow();
  unsigned nulls = 0;
  for (std::size_t j = 0; j < keys; ++j)
    if (placeTypes_[j] == SQLITE_NULL) nulls |= 1u << j;
  const std::int64_t from = rowid_;
  for (std::size_t depth = keys + 1; depth-- > 0;) {
    sqlite3_stmt* statement = afterStatement(depth, nulls);
    for (std::size_t j = 0; j < keys && j <= depth; ++j)
      bindValue(statement, static_cast<int>(j + 1), placeKey_[j], placeTypes_[j]);
    if (depth == keys) sqlite3_bind_int64(statement, static_cast<int>(keys + 1), from);
    if (readAhead(statement) > 0 && fromReadAhead()) return;
  }
  toEnd(At::Eof);
  empty_ = false;
  connection_->commitSoon();  // a walk has ended: its saves go to the file now
}

void TableCursor::moveLast() {
  begin();
  pending_ = Pending::None;
  if (!take(connection_->prepare(order().lastSql))) {
    toEnd(At::Eof);
    empty_ = true;
  }
}

bool TableCursor::eof() {
  begin();
  resolve();
  return at_ == At::Eof;
}

bool TableCursor::bof() {
  begin();
  resolve();
  return at_ == At::Bof || (at_ == At::Eof && empty_);
}

Place TableCursor::place() {
  begin();
  resolve();
  Place place;
  if (at_ != At::Row) {
    place.edge = at_ == At::Bof ? -1 : 1;
    return place;
  }
  requireRow();
  place.key = placeKey_;
  place.types = placeTypes_;
  place.rowid = rowid_;
  return place;
}

bool TableCursor::before(const Place& a, const Place& b) const {
  if (a.edge != b.edge || a.edge != 0) return a.edge < b.edge;
  const auto& key = order().key;
  for (std::size_t j = 0; j < key.size() && j < a.key.size() && j < b.key.size(); ++j) {
    int order = compareKeyValues(a.key[j], a.types[j], b.key[j], b.types[j], key[j].collation);
    if (key[j].descending) order = -order;
    if (order != 0) return order < 0;
  }
  return a.rowid < b.rowid;
}

const Value& TableCursor::field(const std::string& name) {
  begin();
  const auto column = static_cast<std::size_t>(columnOf(name));
  if (pending_ == Pending::AddNew || (pending_ == Pending::Edit && changed_[column])) return buffer_[column];
  requireRow();
  return row_[column];
}

// An edit keeps only the fields it sets; the others are read from the row.
void TableCursor::edit() {
  begin();
  requireRow();
  buffer_.resize(row_.size());
  changed_.assign(row_.size(), false);
  pending_ = Pending::Edit;
}

void TableCursor::addNew() {
  connection_->requireOpen();
  buffer_.assign(layout_->columns.size(), Value());
  changed_.assign(buffer_.size(), false);
  pending_ = Pending::AddNew;
}

void TableCursor::set(const std::string& name, const Value& value) {
  connection_->requireOpen();
  if (pending_ == Pending::None)
    throw RunError(Fault::Engine, "Update or CancelUpdate without AddNew or Edit.");
  const auto column = static_cast<std::size_t>(columnOf(name));
  buffer_[column] = convertFor(layout_->affinities[column], value);
  changed_[column] = true;
}

// The UPDATE (after an Edit) or INSERT (after an AddNew) of these columns,
// kept for the next save of the same columns.
sqlite3_stmt* TableCursor::updateStatement(const std::vector<std::size_t>& columns) {
  const bool editing = pending_ == Pending::Edit;
  for (const SaveStatement& known : saves_)
    if (known.editing == editing && known.columns == columns) return known.statement;
  const std::string table = quoteName(layout_->name);
  std::string sql;
  if (editing) {
    sql = "UPDATE " + table + " SET ";
    for (std::size_t i = 0; i < columns.size(); ++i)
      sql += (i ? ", " : "") + quoteName(layout_->columns[columns[i]]) + " = ?" + std::to_string(i + 1);
    sql += " WHERE rowid = ?" + std::to_string(columns.size() + 1);
  } else if (columns.empty()) {
    sql = "INSERT INTO " + table + " DEFAULT VALUES";
  } else {
    std::string names, marks;
    for (std::size_t i = 0; i < columns.size(); ++i) {
      names += (i ? ", " : "") + quoteName(layout_->columns[columns[i]]);
      marks += (i ? ", ?" : "?") + std::to_string(i + 1);
    }
    sql = "INSERT INTO " + table + " (" + names + ") VALUES (" + marks + ")";
  }
  saves_.push_back({editing, columns, connection_->prepare(sql)});
  return saves_.back().statement;
}

void TableCursor::update() {
  begin();
  if (pending_ == Pending::None)
    throw RunError(Fault::Engine, "Update or CancelUpdate without AddNew or Edit.");

  std::vector<std::size_t> columns;
  for (std::size_t i = 0; i < changed_.size() && i < layout_->columns.size(); ++i)
    if (changed_[i]) columns.push_back(i);
  if (pending_ == Pending::Edit && columns.empty()) {
    pending_ = Pending::None;
    return;
  }

  sqlite3_stmt* statement = updateStatement(columns);
  int rc;
  std::string failure;
  {
    StatementUse use(statement);
    for (std::size_t i = 0; i < columns.size(); ++i)
      bindValue(statement, static_cast<int>(i + 1), buffer_[columns[i]]);
    if (pending_ == Pending::Edit)
      sqlite3_bind_int64(statement, static_cast<int>(columns.size() + 1), rowid_);
    const std::uint64_t stamp = connection_->stamp();
    rc = connection_->stepWrite(statement);
    if (rc != SQLITE_DONE) failure = sqlite3_errmsg(connection_->handle());
    // A save of the current row alone leaves the rows read ahead as they are.
    if (rc == SQLITE_DONE && pending_ == Pending::Edit && ahead_.stamp == stamp &&
        connection_->stamp() == stamp + 1)
      ahead_.stamp = stamp + 1;
  }
  if (rc != SQLITE_DONE) {
    // Nothing of this save reached the file; the edit stays pending.
    connection_->afterWrite();
    throw RunError(faultOf(rc, failure), layout_->name + ": " + failure, layout_->name);
  }
  const bool changedRow = sqlite3_changes(connection_->handle()) > 0;
  connection_->afterWrite();

  if (pending_ == Pending::Edit) {
    pending_ = Pending::None;
    if (!changedRow) {
      rowKnown_ = false;
      throw RunError(Fault::NoCurrentRecord, "Record is deleted.");
    }
    // The row now holds what was saved; the place the walk goes on from
    // stays the one the cursor read.
    for (std::size_t column : columns) row_[column] = buffer_[column];
    return;
  }
  pending_ = Pending::None;  // a new row: the cursor stays where it was
}

void TableCursor::cancelUpdate() {
  connection_->requireOpen();
  pending_ = Pending::None;
}

}  // namespace ms::store
