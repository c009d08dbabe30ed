// The statements of the PostgreSQL engine: a statement prepared on the
// server, and a batch of edits sent as one statement for many records.
// Parameters and rows travel as text; this is where values become that
// text and come back from it. Running them is the connection's part (see
// pg_connection.h).
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "store/pg_handle.h"
#include "store/statement.h"

namespace ms::store {

class PgConnection;
struct TableLayout;

// A statement prepared on the server, kept by its connection.
class PgStatement : public Statement {
 public:
  PgStatement(PgConnection& connection, std::string name, std::string table, bool guarded)
      : connection_(connection), name_(std::move(name)), table_(std::move(table)), guarded_(guarded) {}
  void bind(int parameter, const Value& value, int type) override;
  void bindInteger(int parameter, std::int64_t value) override;
  bool next() override;
  std::int64_t integer(int column) const override;
  void readRow(std::vector<Value>& row, std::vector<int>& types, const char* wanted) const override;
  std::int64_t write() override;
  void reset() override;

 private:
  friend class PgConnection;
  std::string& slot(int parameter);
  // The bound parameters as libpq takes them (null for a Null), valid
  // until the next bind.
  const char* const* values();

  PgConnection& connection_;
  std::string name_;
  std::string table_;
  bool guarded_;  // a save that waits for its answer under a savepoint
  std::vector<std::string> texts_;
  std::vector<char> nulls_;
  std::vector<const char*> values_;
  int count_ = 0;  // parameters bound
  PgResult result_;
  int row_ = -1;
  bool ran_ = false;
  std::vector<char> numeric_;  // by result column: a number rather than a text
};

// Edits of one set of fields of a table without a unique key, gathered and
// sent as one UPDATE ... FROM unnest(...) for many records: the server
// then does per statement what it would do per record. The connection
// sends the gathered edits before it sends anything else, and when the same
// record is edited twice.
class PgEditBatch : public Statement {
 public:
  PgEditBatch(PgConnection& connection, std::string name, std::string table, std::size_t fields)
      : connection_(connection),
        name_(std::move(name)),
        table_(std::move(table)),
        current_(fields + 1),
        currentNull_(fields + 1, 1),
        arrays_(fields + 1) {}
  // The statement that saves `columns` of the table's records, from one
  // array per column and one of rowids.
  static std::string sql(const TableLayout& layout, const std::vector<std::size_t>& columns);

  void bind(int parameter, const Value& value, int type) override;
  void bindInteger(int parameter, std::int64_t value) override;
  bool next() override { return false; }
  std::int64_t integer(int) const override { return 0; }
  void readRow(std::vector<Value>&, std::vector<int>&, const char*) const override {}
  std::int64_t write() override;
  void reset() override { std::fill(currentNull_.begin(), currentNull_.end(), 1); }

 private:
  friend class PgConnection;
  // The rowid of the record being saved.
  std::int64_t rowid() const;
  // Whether the gathered records hold `rowid` already.
  bool holds(std::int64_t rowid) const;
  // Adds the record being saved to the gathered ones.
  void add();
  std::size_t records() const { return rowids_.size(); }
  // The gathered records as the statement's parameters, one array each,
  // valid until clear().
  std::vector<const char*> arrays();
  // Forgets the gathered records.
  void clear();

  PgConnection& connection_;
  std::string name_;
  std::string table_;
  std::vector<std::string> current_;  // the record being saved: its fields, then its rowid
  std::vector<char> currentNull_;
  std::vector<std::string> arrays_;  // the gathered records, a text array per field and one of rowids
  std::vector<std::int64_t> rowids_;
};

}  // namespace ms::store
