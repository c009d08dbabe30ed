// The read-ahead of a walk: the size of its next read, the tiers a move asks
// after its rows, and whether they still stand after reads, writes and saves.
#include "store/read_ahead.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <tuple>
#include <utility>
#include <vector>

#include "values/fault.h"

namespace ms::store {
namespace {

// A query that finds `rows` rows (rowids 1, 2...), or fails after them.
class Rows : public Statement {
 public:
  Rows(std::size_t rows, bool fails) : rows_(rows), fails_(fails) {}
  void bind(int, const Value&, int) override {}
  void bindInteger(int, std::int64_t) override {}
  bool next() override {
    if (at_ == rows_ && fails_) throw RunError(Fault::Engine, "lost");
    return at_ < rows_ && ++at_;
  }
  std::int64_t integer(int) const override { return static_cast<std::int64_t>(at_); }
  void readRow(std::vector<Value>& row, std::vector<int>& types, const char*) const override {
    row[0].setNumber(static_cast<double>(at_));
    types[0] = kFloat;
  }
  std::int64_t write() override { return 0; }
  void reset() override {}

 private:
  std::size_t rows_, at_ = 0;
  bool fails_;
};

// What happens, in order: a read of a tier that finds some rows (served but
// the last when it keeps one), or fails; a write by anyone; a save of the
// current row alone, or one that also commits; a save that moves its record on.
enum class Step { Read, KeepOne, Fails, Write, Save, Commits, MovedOn };
struct Event {
  Step step;
  std::size_t depth = 0, found = 0;
};
Event found(std::size_t depth, std::size_t rows) { return {Step::Read, depth, rows}; }
Event keptOne(std::size_t depth, std::size_t rows) { return {Step::KeepOne, depth, rows}; }
const Event wrote{Step::Write}, saved{Step::Save}, committed{Step::Commits}, moved{Step::MovedOn};

TEST(ReadAhead, ReadSizesTiersAskedAndRowsThatStand) {
  constexpr std::size_t keys = 2;  // tier 2 is the rest of the current key
  const std::size_t f1 = ReadAhead::kFirstRows, f2 = f1 * 2, f3 = f1 * 4, f4 = f1 * 8;
  struct Case {
    const char* what;
    std::vector<Event> events;
    std::size_t rows, tiers;
    bool stands;  // a row is left to serve
  } cases[] = {
      {"nothing read", {}, f1, 3, false},
      {"full reads of the key double", {found(2, f1), found(2, f2)}, f3, 3, false},
      {"up to eight times", {found(2, f1), found(2, f2), found(2, f3), found(2, f4)}, f4, 3, false},
      {"a full later key starts small", {found(2, f1), found(1, f2)}, f1, 3, false},
      {"a short read starts small, its tier empty", {found(2, f1), found(2, 5)}, f1, 2, false},
      {"a short later key leaves one tier", {found(1, 5)}, f1, 1, false},
      {"rows left to serve ask every tier", {keptOne(2, 5)}, f1, 3, true},
      {"a write makes them stale", {keptOne(2, 5), wrote}, f1, 3, false},
      {"as after the last row", {found(2, 5), wrote}, f1, 3, false},
      {"a save of the row alone does not", {keptOne(2, 5), saved}, f1, 3, true},
      {"nor for empty tiers", {found(2, 5), saved}, f1, 2, false},
      {"one that also commits does", {keptOne(2, 5), committed}, f1, 3, false},
      {"a save after a write does", {keptOne(2, 5), wrote, saved}, f1, 3, false},
      {"a record moved on fills the tiers again", {found(1, 5), moved}, f1, 3, false},
      {"a read that fails holds nothing", {keptOne(2, 5), {Step::Fails, 2, 5}}, f1, 3, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ReadAhead ahead;
    std::uint64_t stamp = 7;
    std::int64_t rowid = 0;
    std::vector<Value> row;
    std::vector<int> types;
    for (const Event& e : c.events) {
      Rows statement(e.found, e.step == Step::Fails);
      if (e.step == Step::Write) ++stamp;
      if (e.step == Step::Save) ahead.keepThroughSave(stamp, stamp + 1), ++stamp;
      if (e.step == Step::Commits) ahead.keepThroughSave(stamp, stamp + 2), stamp += 2;
      if (e.step == Step::MovedOn) ahead.forgetEmptyTiers();
      if (e.step == Step::Fails) {
        EXPECT_THROW(ahead.fill(&statement, 1, {}), RunError);
      }
      if (e.step != Step::Read && e.step != Step::KeepOne) continue;
      EXPECT_EQ(ahead.fill(&statement, 1, {}), e.found);
      ahead.readAt(stamp);
      ahead.noteRead(e.depth, keys, e.found);
      for (std::size_t n = 1; n + (e.step == Step::KeepOne) <= e.found; ++n) {
        ASSERT_TRUE(ahead.serve(stamp, rowid, row, types));
        EXPECT_EQ(std::pair(rowid, row[0]), (std::pair<std::int64_t, Value>(n, static_cast<double>(n))));
      }
    }
    EXPECT_EQ((std::tuple{ahead.rows(), ahead.tiers(keys, stamp), ahead.serve(stamp, rowid, row, types)}),
              (std::tuple{c.rows, c.tiers, c.stands}));
  }
}

}  // namespace
}  // namespace ms::store
