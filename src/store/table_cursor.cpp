#include "store/table_cursor.h"

#include <algorithm>

#include "store/fault.h"

namespace ms::store {

namespace {

Value readColumn(sqlite3_stmt* statement, int column) {
  switch (sqlite3_column_type(statement, column)) {
    case SQLITE_NULL:
      return Value();
    case SQLITE_INTEGER:
    case SQLITE_FLOAT:
      return Value(sqlite3_column_double(statement, column));
    case SQLITE_BLOB: {
      auto data = static_cast<const char*>(sqlite3_column_blob(statement, column));
      return Value(
          std::string(data ? data : "", static_cast<std::size_t>(sqlite3_column_bytes(statement, column))));
    }
    default: {
      auto text = reinterpret_cast<const char*>(sqlite3_column_text(statement, column));
      return Value(
          std::string(text ? text : "", static_cast<std::size_t>(sqlite3_column_bytes(statement, column))));
    }
  }
}

void bindValue(sqlite3_stmt* statement, int parameter, const Value& value) {
  if (value.isNull()) {
    sqlite3_bind_null(statement, parameter);
  } else if (value.isNumber()) {
    sqlite3_bind_double(statement, parameter, value.number());
  } else {
    std::string text = value.text();
    sqlite3_bind_text(statement, parameter, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
  }
}

[[noreturn]] void noCurrentRecord() { throw RunError(Fault::NoCurrentRecord, "No current record."); }

}  // namespace

TableCursor::TableCursor(std::shared_ptr<Connection> connection, std::shared_ptr<const TableLayout> layout)
    : connection_(std::move(connection)), layout_(std::move(layout)) {}

const IndexLayout& TableCursor::order() const { return index_ ? *index_ : *layout_->rowidOrder; }

int TableCursor::columnOf(const std::string& name) const {
  int column = layout_->column(name);
  if (column < 0)
    throw RunError(Fault::NotFound, "Field '" + name + "' not found in table '" + layout_->name + "'.",
                   layout_->name);
  return column;
}

// ---- positioning -----------------------------------------------------------

void TableCursor::resolve() const {
  if (at_ != At::First) return;
  if (haveSnapshot_) {
    stepTo(0, +1);
    return;
  }
  sqlite3_stmt* statement = connection_->prepare(order().firstSql);
  StatementUse use(statement);
  int rc = sqlite3_step(statement);
  if (rc == SQLITE_ROW) {
    at_ = At::Row;
    rowid_ = sqlite3_column_int64(statement, 0);
    position_ = -1;
    rowLoaded_ = false;
    empty_ = false;
  } else if (rc == SQLITE_DONE) {
    at_ = At::Eof;
    empty_ = true;
  } else {
    connection_->fail(rc, {}, layout_->name);
  }
}

void TableCursor::takeSnapshot() const {
  snapshot_.clear();
  byRowid_.clear();
  sqlite3_stmt* statement = connection_->prepare(order().walkSql);
  StatementUse use(statement);
  int rc;
  while ((rc = sqlite3_step(statement)) == SQLITE_ROW)
    snapshot_.push_back(sqlite3_column_int64(statement, 0));
  if (rc != SQLITE_DONE) {
    snapshot_.clear();
    connection_->fail(rc, {}, layout_->name);
  }
  haveSnapshot_ = true;
}

std::int64_t TableCursor::positionOf(std::int64_t rowid) const {
  if (byRowid_.size() != snapshot_.size()) {
    byRowid_.clear();
    byRowid_.reserve(snapshot_.size());
    for (std::size_t i = 0; i < snapshot_.size(); ++i)
      byRowid_.emplace_back(snapshot_[i], static_cast<std::int64_t>(i));
    std::sort(byRowid_.begin(), byRowid_.end());
  }
  auto found = std::lower_bound(byRowid_.begin(), byRowid_.end(), std::make_pair(rowid, std::int64_t{-1}));
  if (found == byRowid_.end() || found->first != rowid) return -1;
  return found->second;
}

void TableCursor::locate() const {
  if (position_ >= 0 && haveSnapshot_) return;
  if (!haveSnapshot_) takeSnapshot();
  position_ = positionOf(rowid_);
  if (position_ < 0) {  // a row added since the order was taken
    takeSnapshot();
    position_ = positionOf(rowid_);
  }
}

void TableCursor::stepTo(std::int64_t position, int direction) const {
  const auto size = static_cast<std::int64_t>(snapshot_.size());
  for (; position >= 0 && position < size; position += direction) {
    if (loadRow(snapshot_[static_cast<std::size_t>(position)])) {
      at_ = At::Row;
      rowid_ = snapshot_[static_cast<std::size_t>(position)];
      position_ = position;
      empty_ = false;
      return;
    }
  }
  rowLoaded_ = false;
  position_ = -1;
  if (position >= size) {
    at_ = At::Eof;
    empty_ = size == 0;
    connection_->commitSoon();  // a walk has ended: its saves go to the file now
  } else {
    at_ = At::Bof;
  }
}

bool TableCursor::loadRow(std::int64_t rowid) const {
  sqlite3_stmt* statement = connection_->prepare(layout_->selectRowSql);
  StatementUse use(statement);
  sqlite3_bind_int64(statement, 1, rowid);
  int rc = sqlite3_step(statement);
  if (rc == SQLITE_DONE) {
    rowLoaded_ = false;
    return false;
  }
  if (rc != SQLITE_ROW) connection_->fail(rc, {}, layout_->name);
  int columns = sqlite3_column_count(statement);
  row_.resize(std::max<std::size_t>(layout_->columns.size(), static_cast<std::size_t>(columns)));
  for (int i = 0; i < columns; ++i) row_[static_cast<std::size_t>(i)] = readColumn(statement, i);
  rowLoaded_ = true;
  return true;
}

void TableCursor::requireRow() const {
  resolve();
  if (at_ != At::Row) noCurrentRecord();
  if (!rowLoaded_ && !loadRow(rowid_)) throw RunError(Fault::NoCurrentRecord, "Record is deleted.");
}

void TableCursor::discardPending() { pending_ = Pending::None; }

// ---- public operations -------------------------------------------------------

std::int64_t TableCursor::recordCount() {
  std::lock_guard lock(connection_->mutex);
  connection_->requireOpen();
  connection_->enter();
  sqlite3_stmt* statement = connection_->prepare(layout_->countSql);
  StatementUse use(statement);
  int rc = sqlite3_step(statement);
  if (rc != SQLITE_ROW) connection_->fail(rc, {}, layout_->name);
  return sqlite3_column_int64(statement, 0);
}

void TableCursor::setIndex(const std::string& name) {
  std::lock_guard lock(connection_->mutex);
  connection_->requireOpen();
  auto index = layout_->index(name);
  if (!index)
    throw RunError(Fault::NotFound, "'" + name + "' isn't an index of table '" + layout_->name + "'.",
                   layout_->name);
  discardPending();
  index_ = std::move(index);
  at_ = At::First;
  haveSnapshot_ = false;
  snapshot_.clear();
  byRowid_.clear();
  position_ = -1;
  rowLoaded_ = false;
  noMatch_ = false;
}

void TableCursor::seek(const Value& key) {
  std::lock_guard lock(connection_->mutex);
  connection_->requireOpen();
  connection_->enter();
  if (!index_ || index_->seekFirstSql.empty())
    throw RunError(Fault::Engine, "Operation invalid without a current index.");
  Value converted = convertFor(index_->firstAffinity, key);
  discardPending();

  bool found = false;
  std::int64_t rowid = 0;
  std::int64_t position = -1;
  if (converted.isNull()) {
    // nothing equals Null
  } else if (haveSnapshot_) {
    // The first match in the order of the walk, which may differ from the
    // live index order once keys have been rewritten.
    std::vector<std::int64_t> matches;
    {
      sqlite3_stmt* statement = connection_->prepare(index_->seekAllSql);
      StatementUse use(statement);
      bindValue(statement, 1, converted);
      int rc;
      while ((rc = sqlite3_step(statement)) == SQLITE_ROW)
        matches.push_back(sqlite3_column_int64(statement, 0));
      if (rc != SQLITE_DONE) connection_->fail(rc, {}, layout_->name);
    }
    for (int attempt = 0; attempt < 2 && !found && !matches.empty(); ++attempt) {
      if (attempt == 1) takeSnapshot();  // matches added since the order was taken
      for (auto match : matches) {
        auto place = positionOf(match);
        if (place >= 0 && (position < 0 || place < position)) position = place, rowid = match;
      }
      found = position >= 0;
    }
  } else {
    sqlite3_stmt* statement = connection_->prepare(index_->seekFirstSql);
    StatementUse use(statement);
    bindValue(statement, 1, converted);
    int rc = sqlite3_step(statement);
    if (rc == SQLITE_ROW) {
      found = true;
      rowid = sqlite3_column_int64(statement, 0);
    } else if (rc != SQLITE_DONE) {
      connection_->fail(rc, {}, layout_->name);
    }
  }

  noMatch_ = !found;
  rowLoaded_ = false;
  if (found) {
    at_ = At::Row;
    rowid_ = rowid;
    position_ = position;
    empty_ = false;
  } else {
    at_ = At::Eof;
    position_ = -1;
    empty_ = false;
  }
}

void TableCursor::moveFirst() {
  std::lock_guard lock(connection_->mutex);
  connection_->requireOpen();
  connection_->enter();
  discardPending();
  if (!haveSnapshot_) takeSnapshot();
  stepTo(0, +1);
}

void TableCursor::moveNext() {
  std::lock_guard lock(connection_->mutex);
  connection_->requireOpen();
  connection_->enter();
  discardPending();
  resolve();
  switch (at_) {
    case At::Eof:
    case At::First:
      noCurrentRecord();
    case At::Bof:
      if (!haveSnapshot_) takeSnapshot();
      stepTo(0, +1);
      return;
    case At::Row:
      locate();
      if (position_ < 0) {
        stepTo(static_cast<std::int64_t>(snapshot_.size()), +1);  // the row has vanished: the end
        return;
      }
      stepTo(position_ + 1, +1);
      return;
  }
}

void TableCursor::moveLast() {
  std::lock_guard lock(connection_->mutex);
  connection_->requireOpen();
  connection_->enter();
  discardPending();
  if (!haveSnapshot_) takeSnapshot();
  stepTo(static_cast<std::int64_t>(snapshot_.size()) - 1, -1);
  if (at_ == At::Bof) {  // nothing left at all
    at_ = At::Eof;
    empty_ = true;
  }
}

bool TableCursor::eof() const {
  std::lock_guard lock(connection_->mutex);
  connection_->requireOpen();
  connection_->enter();
  resolve();
  return at_ == At::Eof;
}

bool TableCursor::bof() const {
  std::lock_guard lock(connection_->mutex);
  connection_->requireOpen();
  connection_->enter();
  resolve();
  return at_ == At::Bof || (at_ == At::Eof && empty_);
}

std::int64_t TableCursor::absolutePosition() {
  std::lock_guard lock(connection_->mutex);
  connection_->requireOpen();
  connection_->enter();
  resolve();
  if (at_ != At::Row) return -1;
  locate();
  return position_;
}

Value TableCursor::field(const std::string& name) {
  std::lock_guard lock(connection_->mutex);
  connection_->requireOpen();
  connection_->enter();
  int column = columnOf(name);
  if (pending_ != Pending::None) return buffer_[static_cast<std::size_t>(column)];
  requireRow();
  return row_[static_cast<std::size_t>(column)];
}

void TableCursor::edit() {
  std::lock_guard lock(connection_->mutex);
  connection_->requireOpen();
  connection_->enter();
  requireRow();
  buffer_ = row_;
  changed_.assign(buffer_.size(), false);
  pending_ = Pending::Edit;
}

void TableCursor::addNew() {
  std::lock_guard lock(connection_->mutex);
  connection_->requireOpen();
  buffer_.assign(layout_->columns.size(), Value());
  changed_.assign(buffer_.size(), false);
  pending_ = Pending::AddNew;
}

void TableCursor::set(const std::string& name, const Value& value) {
  std::lock_guard lock(connection_->mutex);
  connection_->requireOpen();
  if (pending_ == Pending::None)
    throw RunError(Fault::Engine, "Update or CancelUpdate without AddNew or Edit.");
  int column = columnOf(name);
  Value converted = convertFor(layout_->affinities[static_cast<std::size_t>(column)], value);
  buffer_[static_cast<std::size_t>(column)] = std::move(converted);
  changed_[static_cast<std::size_t>(column)] = true;
}

void TableCursor::update() {
  std::lock_guard lock(connection_->mutex);
  connection_->requireOpen();
  connection_->enter();
  if (pending_ == Pending::None)
    throw RunError(Fault::Engine, "Update or CancelUpdate without AddNew or Edit.");

  std::vector<std::size_t> columns;
  for (std::size_t i = 0; i < changed_.size() && i < layout_->columns.size(); ++i)
    if (changed_[i]) columns.push_back(i);
  const std::string table = quoteName(layout_->name);

  std::string sql;
  if (pending_ == Pending::Edit) {
    if (columns.empty()) {
      pending_ = Pending::None;
      return;
    }
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

  sqlite3_stmt* statement = connection_->prepare(sql);
  int rc;
  std::string failure;
  {
    StatementUse use(statement);
    for (std::size_t i = 0; i < columns.size(); ++i)
      bindValue(statement, static_cast<int>(i + 1), buffer_[columns[i]]);
    if (pending_ == Pending::Edit)
      sqlite3_bind_int64(statement, static_cast<int>(columns.size() + 1), rowid_);
    connection_->enter();
    rc = connection_->stepWrite(statement);
    if (rc != SQLITE_DONE) failure = sqlite3_errmsg(connection_->handle());
  }
  if (rc != SQLITE_DONE) {
    // Nothing of this save reached the file; the edit stays pending.
    connection_->afterWrite();
    throw RunError(faultOf(rc, failure), layout_->name + ": " + failure, layout_->name);
  }
  bool changedRow = sqlite3_changes(connection_->handle()) > 0;
  connection_->afterWrite();

  if (pending_ == Pending::Edit) {
    pending_ = Pending::None;
    if (!changedRow) {
      rowLoaded_ = false;
      throw RunError(Fault::NoCurrentRecord, "Record is deleted.");
    }
    row_ = buffer_;
    rowLoaded_ = true;
  } else {
    pending_ = Pending::None;
    // A row of our own joins the walk in its place the next time the order
    // is needed; the cursor stays on the row it was on.
    if (haveSnapshot_) {
      haveSnapshot_ = false;
      byRowid_.clear();
      position_ = -1;
    }
  }
}

void TableCursor::cancelUpdate() {
  std::lock_guard lock(connection_->mutex);
  connection_->requireOpen();
  discardPending();
}

}  // namespace ms::store
