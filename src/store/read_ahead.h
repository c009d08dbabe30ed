// The rows a walk has read past its current one, in the walk's order, and
// how large its next read is.
//
// A move after the current row asks tier by tier, from the deepest (the
// rest of the current key, after the current rowid) to the shallowest (any
// later first key column); the read of one tier lands here and the moves
// that follow are served from it. What holds:
// - Rows are served once each, in the order read, and only while the
//   connection's write stamp is the one they were read at: anything
//   written or committed since makes them stale, except a save of the
//   current row alone (keepThroughSave).
// - A read asks for rows(): kFirstRows, doubled after every read of the
//   deepest tier that came back full, up to kFirstRows << kMaxLevel; any
//   other read, and restart(), go back to kFirstRows: a walk through a
//   large selection costs few statements, and one that goes from key to
//   key (and may seek away at any key) reads little that is thrown away.
// - A read that came back short tells that its tier and every deeper one
//   hold nothing after its last row. Only once every row read is served,
//   with the rows still standing, does tiers() leave those tiers out; a
//   full read, or a save that moved a record to a later place
//   (forgetEmptyTiers), forgets it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "store/statement.h"
#include "values/value.h"

namespace ms::store {

class ReadAhead {
 public:
  static constexpr std::size_t kFirstRows = 128;
  static constexpr std::size_t kMaxLevel = 3;

  // The size level of the next read (0 to kMaxLevel) and its number of rows.
  std::size_t level() const { return level_; }
  std::size_t rows() const { return kFirstRows << level_; }

  // Drops the rows held; the next read keeps its size.
  void drop() { count_ = next_ = 0; }
  // Drops them and makes the next read the smallest.
  void restart() { count_ = next_ = level_ = 0; }

  // Steps `statement`, which selects the rowid and `columns` fields, to its
  // end, keeping every row with the `wanted` fields read (empty: every
  // one): how many it found. A read that fails keeps none. The rows stand
  // once readAt() has noted the stamp they were read at.
  std::size_t fill(Statement* statement, std::size_t columns, const std::vector<char>& wanted);
  void readAt(std::uint64_t stamp) { stamp_ = stamp; }

  // Makes the next row held the caller's (its room goes to the next read):
  // false when none is left or the rows no longer stand at `stamp`.
  bool serve(std::uint64_t stamp, std::int64_t& rowid, std::vector<Value>& row, std::vector<int>& types) {
    if (next_ >= count_ || stamp_ != stamp) return false;
    const std::size_t n = next_++;
    rowid = rowids_[n];
    row.swap(rows_[n]);
    types.swap(types_[n]);
    return true;
  }

  // Notes how the read of tier `depth` (of a key of `keys` columns; `keys`
  // is the deepest) went: `found` rows of the rows() asked for.
  void noteRead(std::size_t depth, std::size_t keys, std::size_t found);
  // How many tiers, from the shallowest, a move after the current row asks:
  // all keys + 1 of them, or none of those known to be empty.
  std::size_t tiers(std::size_t keys, std::uint64_t stamp) const;

  // A save ran between the stamps `before` and `after`: when it was the
  // only write, the rows stand on.
  void keepThroughSave(std::uint64_t before, std::uint64_t after) {
    if (stamp_ == before && after == before + 1) stamp_ = after;
  }
  void forgetEmptyTiers() { emptyFrom_ = kNoTier; }

 private:
  static constexpr std::size_t kNoTier = ~std::size_t{0};

  std::vector<std::int64_t> rowids_;
  std::vector<std::vector<Value>> rows_;
  std::vector<std::vector<int>> types_;
  std::size_t count_ = 0;
  std::size_t next_ = 0;
  std::uint64_t stamp_ = 0;
  std::size_t emptyFrom_ = kNoTier;  // the shallowest tier known to be empty
  std::size_t level_ = 0;
};

}  // namespace ms::store
