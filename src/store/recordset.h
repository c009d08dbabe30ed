// A table-type recordset: a cursor over one table in the order of its
// current index, with Seek "=", moves, field reads and Edit/AddNew/Update.
//
// Choosing an index fixes the order of the walk as the rows stood at that
// moment: a record whose key is rewritten while the table is walked stays in
// its place, so a pass may recode the key it walks.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "store/value.h"

namespace ms::store {

struct Connection;
class TableCursor;

class Recordset {
 public:
  ~Recordset();
  Recordset(const Recordset&) = delete;
  Recordset& operator=(const Recordset&) = delete;

  // Exact number of records in the table.
  std::int64_t recordCount();

  // Chooses the current index by name: "PrimaryKey" is the declared primary
  // key; any other name N is the SQLite index "<table>_N". Positions on the
  // first record. Fails with Fault::NotFound for an unknown index.
  void setIndex(const std::string& name);

  // Seek "=" on the current index with one key value (the first field of the
  // index). Positions on the first record with that key, or sets noMatch().
  void seek(const Value& key);
  bool noMatch() const;

  void moveFirst();
  void moveNext();
  void moveLast();
  bool eof() const;  // past the last record (also: an empty table)
  bool bof() const;  // before the first record
  // The place of the current record in the order of the walk, 0 for the
  // first; -1 when there is no current record. A pass compares places to
  // make sure that it moves on.
  std::int64_t absolutePosition();

  // The field of the current record (names match without regard to case);
  // while an Edit or AddNew is pending, the edited value.
  Value field(const std::string& name);

  void edit();
  void addNew();
  // Sets a field between edit()/addNew() and update(), converting the value
  // to the field's type: a number into a text field is stored as its plain
  // text; a text that is not a number into a number field fails with
  // Fault::TypeMismatch and leaves the field as it was.
  void set(const std::string& name, const Value& value);
  void update();
  void cancelUpdate();

 private:
  friend class Database;
  explicit Recordset(std::unique_ptr<TableCursor> cursor);
  std::unique_ptr<TableCursor> cursor_;
};

}  // namespace ms::store
