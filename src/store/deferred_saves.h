// Saves of one or two fields of a table's records, kept in memory during a
// run and written later all at once, in rowid order (the order of the file).
//
// A pass that saves a field into nearly every record while it walks another
// order would rewrite each page of the table many times, out of its order;
// kept back, the same saves cost one sweep of the file. The values take 24
// bytes a record, up to a limit: past it the caller writes what is kept and
// starts again.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "values/value.h"

namespace ms::store {

class DeferredSaves {
 public:
  static constexpr std::size_t kMaxColumns = 2;

  // `columns`: positions in the table's layout, at most kMaxColumns;
  // `limit`: how many records' saves may be kept.
  DeferredSaves(std::string table, std::vector<std::size_t> columns, std::size_t limit);

  const std::string& table() const { return table_; }
  const std::vector<std::size_t>& columns() const { return columns_; }
  bool empty() const { return entries_.empty(); }
  // Whether layout column `column` is one of the deferred ones.
  bool holds(std::size_t column) const { return slotOf(column) < columns_.size(); }
  // Whether the saves of the record with this rowid can be kept at all
  // (rowids from 0 to 2^26 - 1 can).
  static bool accepts(std::int64_t rowid) { return rowid >= 0 && rowid < kRowidLimit; }

  // Keeps the values of the deferred columns whose `changed` flag is set
  // (`values` and `changed` by layout position), over what is kept for the
  // record already. False when the limit is reached: nothing was kept.
  bool keep(std::int64_t rowid, const std::vector<Value>& values, const std::vector<bool>& changed);
  // The value kept for layout column `column` of the record; null when
  // none is (valid until the next call).
  const Value* find(std::int64_t rowid, std::size_t column);

  // For the write: puts the records in rowid order. Then, for a rowid met in
  // increasing order (any order works, more slowly), locate() gives its
  // record or npos, and value() the value kept for deferred column k (false
  // when none is).
  void sort();
  static constexpr std::size_t npos = ~std::size_t{0};
  std::size_t locate(std::int64_t rowid);
  bool value(std::size_t entry, std::size_t k, Value& out) const;
  void clear();

 private:
  static constexpr std::int64_t kRowidLimit = std::int64_t{1} << 26;
  // One record: its rowid in the low 48 bits of `head`, and one byte per
  // column above them saying what its cell holds (see the .cpp).
  struct Entry {
    std::uint64_t head;
    std::uint64_t cell[kMaxColumns];
  };
  static std::int64_t rowidOf(const Entry& entry) {
    return static_cast<std::int64_t>(entry.head & ((std::uint64_t{1} << 48) - 1));
  }
  std::size_t slotOf(std::size_t column) const {
    std::size_t k = 0;
    while (k < columns_.size() && columns_[k] != column) ++k;
    return k;
  }
  bool marked(std::int64_t rowid) const;
  std::size_t search(std::int64_t rowid);  // the record of a marked rowid, in any order
  void store(Entry& entry, std::size_t k, const Value& value);

  std::string table_;
  std::vector<std::size_t> columns_;
  std::size_t limit_;
  std::vector<Entry> entries_;
  std::string texts_;                 // texts longer than a cell, each after its 4-byte length
  std::vector<std::uint64_t> marks_;  // one bit per rowid: a record is kept
  std::size_t hint_ = 0;              // the record found or kept last
  bool sorted_ = false;
  Value found_;
};

}  // namespace ms::store
