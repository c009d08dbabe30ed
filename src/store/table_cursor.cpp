#include "store/table_cursor.h"

#include <algorithm>

#include "values/fault.h"

namespace ms::store {

namespace {

// The class of a value as the cursor holds it.
int classOf(const Value& value) { return value.isNull() ? kNull : value.isNumber() ? kFloat : kText; }

[[noreturn]] void noCurrentRecord() { throw RunError(Fault::NoCurrentRecord, "No current record."); }

}  // namespace

TableCursor::TableCursor(std::shared_ptr<Connection> connection, std::shared_ptr<const TableLayout> layout)
    : connection_(std::move(connection)),
      layout_(std::move(layout)),
      demand_(layout_->columns.size(), connection_->dialect().rowsReadAlone) {}

const IndexLayout& TableCursor::order() const { return index_ ? *index_ : *layout_->rowidOrder; }

void TableCursor::begin() {
  connection_->requireOpen();
  connection_->enter();
}

int TableCursor::columnOf(const std::string& name) {
  // A pass asks for its fields in much the same order on every record: the
  // name asked for last, and the one after it, are tried first.
  const std::size_t known = names_.size();
  std::size_t i = lastName_ > 0 ? lastName_ - 1 : 0;
  for (std::size_t tried = 0; tried < known; ++tried, ++i) {
    if (i == known) i = 0;
    if (names_[i].first == name) {
      lastName_ = i + 1;
      return names_[i].second;
    }
  }
  int column = layout_->column(name);
  if (column < 0)
    throw RunError(Fault::NotFound, "Field '" + name + "' not found in table '" + layout_->name + "'.",
                   layout_->name);
  if (known < 32) names_.emplace_back(name, column);
  return column;
}

void TableCursor::narrow() {
  demand_.narrow(order().key);
  selectWanted();
}

// The rows read ahead from now on hold the wanted fields alone, Null in the
// others' places: the engine extracts and sends no more, and a walk that
// wants nothing but its order's key is answered from the index alone.
void TableCursor::selectWanted() {
  columns_ = "SELECT rowid";
  const std::vector<char>& wanted = demand_.wanted();
  for (std::size_t i = 0; i < wanted.size(); ++i)
    columns_ += wanted[i] ? ", " + quoteName(layout_->columns[i]) : ", NULL";
  columns_ += " FROM " + quoteName(layout_->name);
  narrowAfter_.clear();
}

void TableCursor::want(std::size_t column) {
  const FieldDemand::Ask ask = demand_.ask(column);
  if (ask == FieldDemand::Ask::Held) return;
  if (ask == FieldDemand::Ask::FromNowOn) {
    ahead_.drop();
    selectWanted();
  }
  if (at_ != At::Row || !rowKnown_) return;
  // The current row as saved so far: the fields it lacks are read now (where
  // a row is read alone cheaply, all of them, for this row only), the rest
  // stays as held.
  Statement* statement = connection_->prepare(layout_->selectRowSql, layout_->name);
  statement->bindInteger(1, rowid_);
  StatementUse use(statement);
  if (!statement->next()) {
    rowKnown_ = false;
    throw RunError(Fault::NoCurrentRecord, "Record is deleted.");
  }
  if (ask == FieldDemand::Ask::ThisRow) {
    readRow(statement, layout_->columns.size(), row_, types_, demand_.unwanted());
    demand_.heldWhole();
    return;
  }
  std::vector<char> only(layout_->columns.size(), 0);
  only[column] = 1;
  readRow(statement, layout_->columns.size(), row_, types_, only);
}

// ---- positioning -----------------------------------------------------------

bool TableCursor::take(Statement* statement) {
  ahead_.restart();
  StatementUse use(statement);
  if (!statement->next()) return false;
  rowid_ = statement->integer(0);
  readRow(statement, layout_->columns.size(), row_, types_, demand_.wanted());
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
      placeTypes_[j] = kInteger;
    } else {
      placeKey_[j] = row_[static_cast<std::size_t>(key[j].column)];
      placeTypes_[j] = types_[static_cast<std::size_t>(key[j].column)];
    }
  }
  at_ = At::Row;
  rowKnown_ = true;
  empty_ = false;
  if (demand_.rowServed()) narrow();
}

std::size_t TableCursor::readAhead(Statement* statement) {
  const std::size_t found = ahead_.fill(statement, layout_->columns.size(), demand_.wanted());
  ahead_.readAt(connection_->stamp());
  return found;
}

bool TableCursor::fromReadAhead() {
  if (!ahead_.serve(connection_->stamp(), rowid_, row_, types_)) return false;
  becomeRow();
  return true;
}

void TableCursor::toEnd(At at) {
  at_ = at;
  rowKnown_ = false;
  ahead_.restart();
}

void TableCursor::resolve() {
  if (at_ != At::First) return;
  const IndexLayout& walk = order();
  if (!walk.firstStatement) walk.firstStatement = connection_->prepare(walk.firstSql, layout_->name);
  if (!take(walk.firstStatement)) {
    toEnd(At::Eof);
    empty_ = true;
  }
}

void TableCursor::requireRow() {
  resolve();
  if (at_ != At::Row) noCurrentRecord();
  if (rowKnown_) return;
  Statement* statement = connection_->prepare(layout_->selectRowSql, layout_->name);
  statement->bindInteger(1, rowid_);
  if (!take(statement)) throw RunError(Fault::NoCurrentRecord, "Record is deleted.");
}

Statement* TableCursor::afterStatement(std::size_t depth, unsigned nulls, std::size_t level) {
  const IndexLayout& walk = order();
  const std::size_t keys = walk.key.size();
  const std::size_t slot = (level * (keys + 1) + depth) * (std::size_t{1} << keys) + nulls;
  const bool narrowed = demand_.narrowed();
  auto& statements = narrowed ? narrowAfter_ : walk.afterStatements;
  if (statements.size() <= slot)
    statements.resize(((ReadAhead::kMaxLevel + 1) * (keys + 1)) << keys, nullptr);
  if (!statements[slot])
    statements[slot] = connection_->prepare(
        walk.afterSql(depth, nulls, ReadAhead::kFirstRows << level, narrowed ? &columns_ : nullptr),
        layout_->name);
  return statements[slot];
}

// ---- public operations -------------------------------------------------------

std::int64_t TableCursor::recordCount() {
  begin();
  Statement* statement = connection_->prepare(layout_->countSql, layout_->name);
  StatementUse use(statement);
  if (!statement->next()) throw RunError(Fault::Engine, layout_->name + ": no count", layout_->name);
  return statement->integer(0);
}

bool TableCursor::holdsTexts(const std::string& name) {
  begin();
  return connection_->holdsTexts(*layout_, static_cast<std::size_t>(columnOf(name)));
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
  if (demand_.narrowed()) narrow();  // the new order's key besides the fields asked for
}

void TableCursor::seek(const Value& key) {
  begin();
  if (!index_ || index_->seekSql.empty())
    throw RunError(Fault::Engine, "Operation invalid without a current index.");
  Value converted = convertFor(index_->firstAffinity, key);
  pending_ = Pending::None;
  bool found = false;
  if (!converted.isNull()) {  // nothing equals Null
    if (!index_->seekStatement) index_->seekStatement = connection_->prepare(index_->seekSql, layout_->name);
    index_->seekStatement->bind(1, converted);
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
  // Where rows are read alone cheaply, the fields the walk has lately asked
  // for on at least half its rows are read with the next rows; the others
  // row by row, when asked.
  if (demand_.narrowsAgain()) narrow();
  // On from the place as the cursor read it: its key and its rowid.
  const std::size_t keys = order().key.size();
  if (placeKey_.size() != keys) requireRow();
  unsigned nulls = 0;
  for (std::size_t j = 0; j < keys; ++j)
    if (placeTypes_[j] == kNull) nulls |= 1u << j;
  const std::int64_t from = rowid_;
  // After the last of the rows read ahead, the tiers that read found empty
  // need not be asked again.
  std::size_t depth = ahead_.tiers(keys, connection_->stamp());
  while (depth-- > 0) {
    Statement* statement = afterStatement(depth, nulls, ahead_.level());
    int parameter = 0;
    for (std::size_t j = 0; j < keys && j <= depth; ++j)
      if (placeTypes_[j] != kNull) statement->bind(++parameter, placeKey_[j], placeTypes_[j]);
    if (depth == keys) statement->bindInteger(++parameter, from);
    const std::size_t found = readAhead(statement);
    ahead_.noteRead(depth, keys, found);
    if (found > 0 && fromReadAhead()) return;
  }
  toEnd(At::Eof);
  empty_ = false;
  connection_->commitSoon();  // a walk has ended: its saves go to the file now
}

void TableCursor::moveLast() {
  begin();
  pending_ = Pending::None;
  if (!take(connection_->prepare(order().lastSql, layout_->name))) {
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

int TableCursor::keyOrder(std::size_t j, const Value& a, int typeA, const Value& b, int typeB) const {
  const KeyColumn& column = order().key[j];
  const int order = compareKeyValues(a, typeA, b, typeB, column.collation);
  return column.descending ? -order : order;
}

bool TableCursor::before(const Place& a, const Place& b) const {
  if (a.edge != b.edge || a.edge != 0) return a.edge < b.edge;
  for (std::size_t j = 0; j < order().key.size() && j < a.key.size() && j < b.key.size(); ++j)
    if (const int order = keyOrder(j, a.key[j], a.types[j], b.key[j], b.types[j])) return order < 0;
  return a.rowid < b.rowid;
}

const Value& TableCursor::field(const std::string& name) {
  begin();
  const auto column = static_cast<std::size_t>(columnOf(name));
  if (pending_ == Pending::AddNew || (pending_ == Pending::Edit && changed_[column])) return buffer_[column];
  requireRow();
  want(column);
  if (DeferredSaves* saves = deferred())
    if (const Value* kept = saves->find(rowid_, column)) {
      row_[column] = *kept;
      types_[column] = classOf(*kept);
    }
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
Statement* TableCursor::updateStatement(const std::vector<std::size_t>& columns) {
  const bool editing = pending_ == Pending::Edit;
  for (const SaveStatement& known : saves_)
    if (known.editing == editing && known.columns == columns) return known.statement;
  if (editing) {
    saves_.push_back({editing, columns, connection_->prepareEdit(*layout_, columns)});
    return saves_.back().statement;
  }
  const std::string table = quoteName(layout_->name);
  const Dialect& dialect = connection_->dialect();
  std::string sql;
  if (columns.empty()) {
    sql = "INSERT INTO " + table + " DEFAULT VALUES";
  } else {
    std::string names, marks;
    for (std::size_t i = 0; i < columns.size(); ++i) {
      names += (i ? ", " : "") + quoteName(layout_->columns[columns[i]]);
      marks += (i ? ", " : "") + dialect.mark(i + 1);
    }
    sql = "INSERT INTO " + table + " (" + names + ") VALUES (" + marks + ")";
  }
  saves_.push_back({editing, columns, connection_->prepare(sql, layout_->name)});
  return saves_.back().statement;
}

DeferredSaves* TableCursor::deferred() const {
  DeferredSaves* saves = connection_->deferredSaves();
  return saves && saves->table() == layout_->name && DeferredSaves::accepts(rowid_) ? saves : nullptr;
}

void TableCursor::update() {
  begin();
  if (pending_ == Pending::None)
    throw RunError(Fault::Engine, "Update or CancelUpdate without AddNew or Edit.");
  const bool editing = pending_ == Pending::Edit;

  // An edit's saves of deferred fields are kept back; the others are written now.
  DeferredSaves* saves = editing ? deferred() : nullptr;
  bool keeps = false;
  std::vector<std::size_t> columns;
  for (std::size_t i = 0; i < changed_.size() && i < layout_->columns.size(); ++i)
    if (!changed_[i])
      continue;
    else if (saves && saves->holds(i))
      keeps = true;
    else
      columns.push_back(i);

  const bool changedRow = (columns.empty() && editing) || write(columns);
  pending_ = Pending::None;
  if (!editing) return;  // a new row: the cursor stays where it was
  if (!changedRow) {
    rowKnown_ = false;
    throw RunError(Fault::NoCurrentRecord, "Record is deleted.");
  }
  if (keeps) connection_->keepSave(rowid_, buffer_, changed_);
  // The row now holds what was saved; the place the walk goes on from
  // stays the one the cursor read.
  for (std::size_t i = 0; i < changed_.size() && i < row_.size(); ++i)
    if (changed_[i]) row_[i] = buffer_[i];
}

bool TableCursor::write(const std::vector<std::size_t>& columns) {
  Statement* statement = updateStatement(columns);
  std::int64_t changes;
  try {
    StatementUse use(statement);
    for (std::size_t i = 0; i < columns.size(); ++i)
      statement->bind(static_cast<int>(i + 1), buffer_[columns[i]]);
    if (pending_ == Pending::Edit) statement->bindInteger(static_cast<int>(columns.size() + 1), rowid_);
    const std::uint64_t stamp = connection_->stamp();
    changes = statement->write();
    // A save of the current row alone leaves the rows read ahead as they are.
    if (pending_ == Pending::Edit) ahead_.keepThroughSave(stamp, connection_->stamp());
    if (pending_ == Pending::Edit && movedOn()) ahead_.forgetEmptyTiers();
  } catch (const RunError&) {
    // Nothing of this save reached the database; the edit stays pending.
    connection_->afterWrite();
    throw;
  }
  connection_->afterWrite();
  return changes != 0;
}

bool TableCursor::movedOn() const {
  const auto& key = order().key;
  for (std::size_t j = 0; j < key.size() && j < placeKey_.size(); ++j) {
    if (key[j].column < 0) return false;  // the rowid does not change
    const auto column = static_cast<std::size_t>(key[j].column);
    const Value& now = changed_[column] ? buffer_[column] : row_[column];
    if (const int order = keyOrder(j, now, classOf(now), placeKey_[j], placeTypes_[j])) return order > 0;
  }
  return false;
}

void TableCursor::cancelUpdate() {
  connection_->requireOpen();
  pending_ = Pending::None;
}

}  // namespace ms::store
