// The read-ahead of a walk: how large its next read is, which tiers a move
// asks after its rows, and whether they still stand, after a history of
// reads, writes and saves.
#include "store/read_ahead.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
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
// the last when `keepOne`), or fails; a write by anyone; a save of the
// current row alone, or one that also commits; a save that moves its
// record on.
enum class Step { Read, ReadKeepOne, ReadFails, Write, Save, SaveCommits, MovedOn };
struct Event {
  Step step;
  std::size_t depth = 0, found = 0;
};

TEST(ReadAhead, ReadSizesTiersAskedAndRowsThatStand) {
  constexpr std::size_t keys = 2;  // tier 2 is the rest of the current key
  const std::size_t full1 = ReadAhead::kFirstRows, full2 = full1 * 2, full3 = full1 * 4;
  struct Case {
    const char* what;
    std::vector<Event> events;
    std::size_t rows, tiers;
    bool stands;  // a row is left to serve
  } cases[] = {
      {"nothing read", {}, full1, 3, false},
      {"full reads of the key double", {{Step::Read, 2, full1}, {Step::Read, 2, full2}}, full3, 3, false},
      {"up to eight times",
       {{Step::Read, 2, full1}, {Step::Read, 2, full2}, {Step::Read, 2, full3}, {Step::Read, 2, full3 * 2}},
       full3 * 2,
       3,
       false},
      {"a full later key starts small", {{Step::Read, 2, full1}, {Step::Read, 1, full2}}, full1, 3, false},
      {"a short read starts small, its tier empty",
       {{Step::Read, 2, full1}, {Step::Read, 2, 5}},
       full1,
       2,
       false},
      {"a short later key leaves one tier", {{Step::Read, 1, 5}}, full1, 1, false},
      {"rows left to serve ask every tier", {{Step::ReadKeepOne, 2, 5}}, full1, 3, true},
      {"a write makes them stale", {{Step::ReadKeepOne, 2, 5}, {Step::Write}}, full1, 3, false},
      {"as after the last row", {{Step::Read, 2, 5}, {Step::Write}}, full1, 3, false},
      {"a save of the row alone does not", {{Step::ReadKeepOne, 2, 5}, {Step::Save}}, full1, 3, true},
      {"nor for empty tiers", {{Step::Read, 2, 5}, {Step::Save}}, full1, 2, false},
      {"one that also commits does", {{Step::ReadKeepOne, 2, 5}, {Step::SaveCommits}}, full1, 3, false},
      {"a save after a write does",
       {{Step::ReadKeepOne, 2, 5}, {Step::Write}, {Step::Save}},
       full1,
       3,
       false},
      {"a record moved on fills the tiers again", {{Step::Read, 1, 5}, {Step::MovedOn}}, full1, 3, false},
      {"a read that fails holds nothing",
       {{Step::ReadKeepOne, 2, 5}, {Step::ReadFails, 2, 5}},
       full1,
       3,
       false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ReadAhead ahead;
    std::uint64_t stamp = 7;
    std::int64_t rowid = 0;
    std::vector<Value> row;
    std::vector<int> types;
    for (const Event& e : c.events) {
      if (e.step == Step::Write) ++stamp;
      if (e.step == Step::Save) ahead.keepThroughSave(stamp, stamp + 1), ++stamp;
      if (e.step == Step::SaveCommits) ahead.keepThroughSave(stamp, stamp + 2), stamp += 2;
      if (e.step == Step::MovedOn) ahead.forgetEmptyTiers();
      if (e.step != Step::Read && e.step != Step::ReadKeepOne && e.step != Step::ReadFails) continue;
      Rows statement(e.found, e.step == Step::ReadFails);
      try {
        EXPECT_EQ(ahead.fill(&statement, 1, {}), e.found);
      } catch (const RunError&) {
        EXPECT_EQ(e.step, Step::ReadFails);
        continue;
      }
      ahead.readAt(stamp);
      ahead.noteRead(e.depth, keys, e.found);
      for (std::size_t n = 1; n + (e.step == Step::ReadKeepOne) <= e.found; ++n) {
        ASSERT_TRUE(ahead.serve(stamp, rowid, row, types));
        EXPECT_EQ(rowid, static_cast<std::int64_t>(n));
        EXPECT_EQ(row[0], static_cast<double>(n));
      }
    }
    EXPECT_EQ(ahead.rows(), c.rows);
    EXPECT_EQ(ahead.tiers(keys, stamp), c.tiers);
    EXPECT_EQ(ahead.serve(stamp, rowid, row, types), c.stands);
  }
}

}  // namespace
}  // namespace ms::store
