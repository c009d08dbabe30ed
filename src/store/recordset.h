// A table-type recordset: a cursor over one table in the order of its
// current index, with Seek "=", moves, field reads and Edit/AddNew/Update.
//
// A move goes on from the key its record had when the cursor reached it, so
// a pass may recode the key it walks to one that sorts before it (a residue
// code is a prefix of its code) and still meet every record once.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "values/value.h"

namespace ms::store {

struct Connection;
class TableCursor;

// A record's place in the order of a walk: its key and rowid as the cursor
// read them. Only the recordset that gave it can order it (before()).
struct Place {
  std::vector<Value> key;
  std::vector<int> types;  // the engine's storage class of each key value
  std::int64_t rowid = 0;
  int edge = 0;  // -1 before the first record, 1 past the last, 0 on a record
};

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
  // The place of the current record in the order of the walk (past the
  // last record: a place after every record), and whether place `a` comes
  // before place `b` in the order of the current index. A pass compares
  // places to make sure that it never goes back.
  Place place();
  bool before(const Place& a, const Place& b) const;

  // The field of the current record (names match without regard to case);
  // while an Edit or AddNew is pending, the edited value.
  // The reference stands until the next operation on this recordset.
  const Value& field(const std::string& name);
  // Whether the field keeps a number written into it as a number (its type
  // is not a text type). Fails with Fault::NotFound for an unknown field.
  bool holdsNumbers(const std::string& name);
  // Whether every value of the field in the table is a text or Null: a
  // blob or a number sorts apart from the texts in the field's index.
  // Fails with Fault::NotFound for an unknown field.
  bool holdsTexts(const std::string& name);

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
