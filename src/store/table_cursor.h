// The cursor behind a table recordset.
//
// With no index chosen the table is walked in rowid order; choosing an index
// walks it in that index's order, ties in rowid order. The order is taken as
// a list of rowids the first time a move needs it, so rewriting the key that
// is walked keeps every record in its place. Rows that vanish meanwhile are
// skipped. A cursor that only seeks and reads never takes that list.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "store/connection.h"
#include "store/table_layout.h"
#include "store/value.h"

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
  bool eof() const;
  bool bof() const;
  std::int64_t absolutePosition();
  Value field(const std::string& name);
  void edit();
  void addNew();
  void set(const std::string& name, const Value& value);
  void update();
  void cancelUpdate();

 private:
  enum class At { First, Row, Bof, Eof };
  enum class Pending { None, Edit, AddNew };

  // All private members expect the connection's mutex to be held.
  const IndexLayout& order() const;
  void resolve() const;                               // turns At::First into a row or Eof
  void takeSnapshot() const;                          // the rowids in the current order
  std::int64_t positionOf(std::int64_t rowid) const;  // -1 when not in the snapshot
  void locate() const;                                // finds the current row in the snapshot
  void stepTo(std::int64_t position, int direction) const;
  bool loadRow(std::int64_t rowid) const;
  void requireRow() const;
  void discardPending();
  int columnOf(const std::string& name) const;

  std::shared_ptr<Connection> connection_;
  std::shared_ptr<const TableLayout> layout_;
  std::shared_ptr<const IndexLayout> index_;  // null: no index chosen
  bool noMatch_ = false;

  mutable At at_ = At::First;
  mutable bool empty_ = false;          // the last look for a first row found none
  mutable std::int64_t rowid_ = 0;      // the current row when at_ == At::Row
  mutable std::int64_t position_ = -1;  // its place in the snapshot, -1 when not known
  mutable bool haveSnapshot_ = false;
  mutable std::vector<std::int64_t> snapshot_;
  mutable std::vector<std::pair<std::int64_t, std::int64_t>> byRowid_;  // (rowid, place), sorted
  mutable bool rowLoaded_ = false;
  mutable std::vector<Value> row_;

  Pending pending_ = Pending::None;
  std::vector<Value> buffer_;
  std::vector<bool> changed_;
};

}  // namespace ms::store
