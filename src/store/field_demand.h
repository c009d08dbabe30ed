// Which fields a walk reads with its rows, and which it reads one row at a
// time when asked.
//
// A cursor reads every field of its first kLearningRows rows; from then on
// only the wanted ones (a pass over the work table asks for a few codes,
// not the addresses). What holds:
// - wanted() is empty (every field) until the cursor first narrows; from
//   then on it always holds the order's key columns, and unwanted() is its
//   complement.
// - Where a row is read alone cheaply, a narrowing wants the fields asked
//   for on at least half of the rows served since the one before, and the
//   cursor narrows again before every read once kLearningRows rows have
//   been served since: a field asked for less often is read for its row
//   alone (ThisRow), and a walk that asks for nothing but its key is
//   answered from the index alone.
// - Elsewhere a narrowing wants every field ever asked for, and a field
//   first asked for later is wanted from then on (FromNowOn).
// - Once the current row holds every field (it was read before the
//   narrowing, or read whole for a field), every ask is Held until the next
//   row.
#pragma once

#include <cstddef>
#include <vector>

#include "store/table_layout.h"

namespace ms::store {

class FieldDemand {
 public:
  static constexpr std::size_t kLearningRows = 64;

  FieldDemand(std::size_t columns, bool rowsReadAlone)
      : alone_(rowsReadAlone), asked_(columns, 0), asks_(columns, 0) {}

  const std::vector<char>& wanted() const { return wanted_; }  // empty: every field
  const std::vector<char>& unwanted() const { return unwanted_; }
  bool narrowed() const { return !wanted_.empty(); }
  bool rowsReadAlone() const { return alone_; }

  // A row has become the current one, read with the wanted fields: true
  // when the cursor narrows now, its first rows served.
  bool rowServed() {
    whole_ = wanted_.empty();
    return ++served_ == kLearningRows && wanted_.empty();
  }
  // Whether the cursor narrows again before its next read.
  bool narrowsAgain() const { return !wanted_.empty() && served_ >= kLearningRows && alone_; }
  // Judges what is wanted from the asks since the last narrowing, with the
  // columns of the walk's order `key`, and starts counting again.
  void narrow(const std::vector<KeyColumn>& key);

  // What a field asked for of the current row needs: nothing (the row holds
  // it), the row's other fields read for it alone, or the field read now
  // and with every row from now on (the rows read ahead lack it).
  enum class Ask { Held, ThisRow, FromNowOn };
  Ask ask(std::size_t column) {
    asked_[column] = 1;
    ++asks_[column];
    if (wanted_.empty() || wanted_[column] || whole_) return Ask::Held;
    if (alone_) return Ask::ThisRow;
    wanted_[column] = 1;
    unwanted_[column] = 0;
    return Ask::FromNowOn;
  }
  // The current row now holds every field.
  void heldWhole() { whole_ = true; }

 private:
  bool alone_;
  std::vector<char> wanted_;
  std::vector<char> unwanted_;
  std::vector<char> asked_;     // ever
  std::vector<unsigned> asks_;  // how often, since the last narrowing
  std::size_t served_ = 0;      // rows served since then
  bool whole_ = false;          // the current row holds every field
};

}  // namespace ms::store
