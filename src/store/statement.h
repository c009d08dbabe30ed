// A statement prepared once per open by one of the store's engines and kept
// by the connection that prepared it; the cursors run it through this
// interface without knowing the engine.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "values/value.h"

namespace ms::store {

// The class of a stored value, numbered as SQLite numbers its storage
// classes; the PostgreSQL engine reports its numbers as kFloat and its
// texts as kText.
enum ValueClass : int { kInteger = 1, kFloat = 2, kText = 3, kBlob = 4, kNull = 5 };

class Statement {
 public:
  virtual ~Statement() = default;
  // Binds parameter `parameter` (from 1): Null, a number, or a text (a blob
  // when `type` is kBlob).
  virtual void bind(int parameter, const Value& value, int type = kText) = 0;
  virtual void bindInteger(int parameter, std::int64_t value) = 0;
  // Steps a query: true with the next row, false at its end. Fails with a
  // RunError naming the table.
  virtual bool next() = 0;
  virtual std::int64_t integer(int column) const = 0;
  // Reads columns 1 to row.size() of the row into `row` in place (column 0
  // is the rowid), with their classes: every one, or where `wanted` is not
  // null only those whose flag in it is set (the others keep what they held).
  virtual void readRow(std::vector<Value>& row, std::vector<int>& types, const char* wanted) const = 0;
  // Runs a statement that writes: the number of rows it changed, or -1 when
  // the engine tells only later (a failure then fails a later operation).
  // Fails with a RunError naming the table.
  virtual std::int64_t write() = 0;
  // Ends the statement's use and clears its bindings.
  virtual void reset() = 0;
};

// Reads the `columns` fields of a statement's current row into `row` and
// `types`: every one, or only those flagged in `wanted` when it is not
// empty (the others keep what they held).
inline void readRow(const Statement* statement, std::size_t columns, std::vector<Value>& row,
                    std::vector<int>& types, const std::vector<char>& wanted) {
  row.resize(columns);
  types.resize(columns);
  statement->readRow(row, types, wanted.empty() ? nullptr : wanted.data());
}

// Resets a statement when it goes out of scope, so that no statement stays
// active between store operations.
class StatementUse {
 public:
  explicit StatementUse(Statement* statement) : statement_(statement) {}
  ~StatementUse() { statement_->reset(); }
  StatementUse(const StatementUse&) = delete;
  StatementUse& operator=(const StatementUse&) = delete;

 private:
  Statement* statement_;
};

}  // namespace ms::store
