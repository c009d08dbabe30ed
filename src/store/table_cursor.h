// The cursor behind a table recordset.
//
// With no index chosen the table is walked in rowid order; choosing an index
// walks it in that index's order, ties in rowid order. A move goes on from
// the place the current record had when the cursor reached it (its key and
// rowid as read then), searching the index for the first record after that
// place: nothing of the walk is kept but the current row, so a walk of any
// length costs the same memory. A record rewritten to a key before the
// place (a residue code is a prefix of the code it replaces) is not met
// again; one rewritten to a key after it is met again in its new place.
// Records that vanish are not met.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "store/connection.h"
#include "store/field_demand.h"
#include "store/read_ahead.h"
#include "store/recordset.h"
#include "store/statement.h"
#include "store/table_layout.h"
#include "values/value.h"

namespace ms::store {

class TableCursor {
 public:
  TableCursor(std::shared_ptr<Connection> connection, std::shared_ptr<const TableLayout> layout);

  std::int64_t recordCount();
  void setIndex(const std::string& name);
  void seek(const Value& key);
  bool noMatch() const { return noMatch_; }
  void moveFirst();
  void moveNext();
  void moveLast();
  bool eof();
  bool bof();
  Place place();
  bool before(const Place& a, const Place& b) const;
  const Value& field(const std::string& name);
  // Whether the field keeps a number written into it as a number.
  bool holdsNumbers(const std::string& name) {
    return layout_->affinities[static_cast<std::size_t>(columnOf(name))] != Affinity::Text;
  }
  bool holdsTexts(const std::string& name);
  void edit();
  void addNew();
  void set(const std::string& name, const Value& value);
  void update();
  void cancelUpdate();

 private:
  enum class At { First, Row, Bof, Eof };
  enum class Pending { None, Edit, AddNew };

  const IndexLayout& order() const;
  void begin();  // every operation: the database is open, a transaction is under way
  // Steps a statement that selects the rowid and every column: true with the row taken as
  // the current one, false when it found none.
  bool take(Statement* statement);
  // Makes row_, types_ and rowid_ the current row and notes its place.
  void becomeRow();
  // Steps a statement that selects rows after the current one into the
  // read-ahead; how many it found.
  std::size_t readAhead(Statement* statement);
  bool fromReadAhead();
  void resolve();  // turns At::First into a row or Eof
  void toEnd(At at);
  void requireRow();
  int columnOf(const std::string& name);
  Statement* afterStatement(std::size_t depth, unsigned nulls, std::size_t level);
  Statement* updateStatement(const std::vector<std::size_t>& columns);
  // Writes the pending save of `columns`: false when the edited row was not
  // found.
  bool write(const std::vector<std::size_t>& columns);
  // The saves the connection keeps back for this table, when they may hold
  // the current row's.
  DeferredSaves* deferred() const;

  std::shared_ptr<Connection> connection_;
  std::shared_ptr<const TableLayout> layout_;
  std::shared_ptr<const IndexLayout> index_;  // null: no index chosen
  bool noMatch_ = false;

  At at_ = At::First;
  bool empty_ = false;  // the last look for a first row found none
  std::int64_t rowid_ = 0;
  std::vector<Value> row_;  // the current row as read
  std::vector<int> types_;  // the engine's storage class of each field of it
  bool rowKnown_ = false;   // row_ holds the current row
  // The place the walk goes on from: the key of the current row as read,
  // whatever an edit has saved into it since.
  std::vector<Value> placeKey_;
  std::vector<int> placeTypes_;

  // The rows after the current one in the walk's order, served by the moves
  // that follow for as long as nothing has been written or committed since
  // but this cursor's own saves of its current row.
  ReadAhead ahead_;
  // Whether a save of the current row has moved it to a later place in the
  // walk's order, where the walk will meet it again.
  bool movedOn() const;
  // How two values of key column j order in the walk: negative, 0 or
  // positive, with the column's collation and direction.
  int keyOrder(std::size_t j, const Value& a, int typeA, const Value& b, int typeB) const;

  // The saves of this cursor, kept by handle (the connection owns them).
  struct SaveStatement {
    bool editing;
    std::vector<std::size_t> columns;
    Statement* statement;
  };
  std::vector<SaveStatement> saves_;

  // Names looked up so far, so that a pass asking for the same few fields
  // on every record finds them by a plain comparison.
  std::vector<std::pair<std::string, int>> names_;
  std::size_t lastName_ = 0;  // after the name found last

  // The fields read from the engine for each row (see FieldDemand). Every
  // row the cursor holds has every wanted field, and once the cursor has
  // narrowed the reads ahead select the wanted fields alone (`columns_`,
  // with statements of the cursor's own). Where rows are not read alone
  // cheaply, a field wanted later is read for the current row at once and
  // the rows read ahead are read again.
  void narrow();
  void want(std::size_t column);
  void selectWanted();
  FieldDemand demand_;
  std::string columns_;                  // SELECT rowid, <wanted fields, Null for the rest> FROM ...
  std::vector<Statement*> narrowAfter_;  // the after statements that select them
  Pending pending_ = Pending::None;
  std::vector<Value> buffer_;
  std::vector<bool> changed_;
};

}  // namespace ms::store
