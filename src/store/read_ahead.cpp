#include "store/read_ahead.h"

#include <algorithm>

#include "values/fault.h"

namespace ms::store {

std::size_t ReadAhead::fill(Statement* statement, std::size_t columns, const std::vector<char>& wanted) {
  count_ = next_ = 0;
  StatementUse use(statement);
  for (;;) {
    bool row;
    try {
      row = statement->next();
    } catch (const RunError&) {
      count_ = 0;
      throw;
    }
    if (!row) break;
    const std::size_t n = count_++;
    if (rows_.size() <= n) {
      rowids_.resize(n + 1);
      rows_.resize(n + 1);
      types_.resize(n + 1);
    }
    rowids_[n] = statement->integer(0);
    readRow(statement, columns, rows_[n], types_[n], wanted);
  }
  return count_;
}

void ReadAhead::noteRead(std::size_t depth, std::size_t keys, std::size_t found) {
  const bool full = found == rows();
  emptyFrom_ = full ? kNoTier : depth;
  level_ = full && depth == keys ? std::min(level_ + 1, kMaxLevel) : 0;
}

std::size_t ReadAhead::tiers(std::size_t keys, std::uint64_t stamp) const {
  if (count_ > 0 && next_ == count_ && stamp_ == stamp) return std::min(keys + 1, emptyFrom_);
  return keys + 1;
}

}  // namespace ms::store
