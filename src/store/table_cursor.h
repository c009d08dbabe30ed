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
  // Steps a statement that selects rows (rowid and every column) after the current one
  // into the read-ahead; how many it found.
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

  // The rows after the current one in the walk's order, read by one
  // statement and served by the moves that follow, for as long as nothing
  // has been written or committed since but this cursor's own saves of its
  // current row.
  struct ReadAhead {
    std::vector<std::int64_t> rowids;
    std::vector<std::vector<Value>> rows;
    std::vector<std::vector<int>> types;
    std::size_t count = 0;
    std::size_t next = 0;
    std::uint64_t stamp = 0;  // the connection's write stamp when they were read
    // The tier that read them, when it found fewer rows than it asked for:
    // from their last row on, that tier and every deeper one hold nothing,
    // for as long as the rows stand and no save has moved a record to a
    // later place. None: no tier is known to be empty.
    std::size_t emptyFrom = kNoTier;
    std::size_t level = 0;  // the size of the next read (see kReadAhead)
  } ahead_;
  static constexpr std::size_t kNoTier = ~std::size_t{0};
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

  // The fields read from the engine for each row. A cursor reads every
  // field of its first rows; from then on only those that field() has asked
  // for and the current order's key (a pass over the work table reads a few
  // codes, not the addresses). Where a row is read alone cheaply (SQLite),
  // a field counts as asked for when the walk asked for it on at least half
  // of its rows lately (judged again at every read); one asked for less
  // often is read row by row, when asked, and a walk that reads nothing but
  // its order's key is served by the index alone. Elsewhere a field asked
  // for later is read from then on: the current row's value is read at
  // once and the rows read ahead are read again. Every row the cursor holds
  // has every wanted field, and the reads ahead select the wanted fields
  // alone (`columns_`, with statements of the cursor's own).
  bool readsRowsAlone() const;
  void narrow();
  void want(std::size_t column);
  void selectWanted();
  std::vector<char> wanted_;  // empty: every field
  std::vector<char> unwanted_;
  std::vector<char> asked_;              // ever
  std::vector<unsigned> asks_;           // how often, since the last narrow()
  std::size_t served_ = 0;               // rows served since then
  bool whole_ = false;                   // the current row holds every field
  std::string columns_;                  // SELECT rowid, <wanted fields, Null for the rest> FROM ...
  std::vector<Statement*> narrowAfter_;  // the after statements that select them
  Pending pending_ = Pending::None;
  std::vector<Value> buffer_;
  std::vector<bool> changed_;
};

}  // namespace ms::store
