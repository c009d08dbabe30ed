// The Counting Pass and its Residue Walks: which selections go to residue,
// the sort numbers left on every record, the progress shown and Cancel.
#include "allocation/selection_allocation.h"

#include <gtest/gtest.h>

#include "allocation/allocation_job.h"
#include "allocation/region_lookups.h"

namespace ms::testing {
namespace {

constexpr double kUntouched = AllocationJob::kUntouched;

struct Expected {
  std::string mscode;
  Value sflag;
  double seq;
};

void expectRecords(const std::vector<RowMap>& rows, const std::vector<Expected>& expected) {
  ASSERT_EQ(rows.size(), expected.size());
  for (std::size_t i = 0; i < rows.size(); ++i) {
    SCOPED_TRACE("record " + std::to_string(i + 1));
    EXPECT_EQ(rows[i].at("mscode"), Value(expected[i].mscode));
    EXPECT_EQ(rows[i].at("sflag"), expected[i].sflag);
    EXPECT_EQ(rows[i].at("seq"), Value(expected[i].seq));
  }
}

// The codes 1, 1, 12345 x2, 12399 x3, 13000 in "Key1" order, added in
// another order so that the pass must follow the index.
void addWorkedExample(AllocationJob& job) {
  for (auto code : {"13000", "12399", "1", "12345", "12399"}) job.work(code);
  job.work("1", "T");  // matched on its post town
  job.work("12399");
  job.work("12345");
}

TEST(SelectionAllocation, WorkedExampleWithMinimumOfThree) {
  AllocationJob job;
  job.db.insertParameters();
  addWorkedExample(job);
  allocate(job.open());
  EXPECT_EQ(job.run.percent, 100);
  EXPECT_EQ(job.progress.figures, (std::vector<std::string>{"25.00", "37.50", "50.00", "62.50", "75.00",
                                                            "87.50", "100.00", "100.00"}));
  EXPECT_EQ(job.progress.yields, 8);
  EXPECT_EQ(job.progress.litCells(), 20);
  auto rows = job.close();
  expectRecords(rows, {{"130", "Y", 130000},
                       {"12399", Value(), kUntouched},
                       {"1", Value(), 99000001},
                       {"123", "Y", 123000},
                       {"12399", Value(), kUntouched},
                       {"1", Value(), 99001000},
                       {"12399", Value(), kUntouched},
                       {"123", "Y", 123000}});
  EXPECT_EQ(rows[2].at("rgcode"), Value("99"));
}

// Codes 1, 20000 x2 and 30000 x3 under different Job Parameters.
TEST(SelectionAllocation, ResidueBySizeOrByService) {
  struct Case {
    Row parameters;
    bool smallIsResidue, largeIsResidue;
  };
  const Case cases[] = {
      {{{"selection", "3"}}, true, false},  // minimum - 1 goes, minimum stays
      {{{"selection", "2"}}, false, false},
      {{{"selection", ""}}, false, false},
      {{{"selection", "0"}}, false, false},
      {{{"ResOnly", "Y"}}, true, true},
      {{{"ResOnly", "y"}}, true, false},
      {{{"Mailsort120", "Y"}, {"service", "M1"}}, true, true},
      {{{"Mailsort120", "Y"}, {"service", "M2"}}, true, true},
      {{{"Mailsort120", "Y"}, {"service", "M3"}}, true, true},
      {{{"Mailsort120", "Y"}, {"service", "P1"}}, true, false},
      {{{"Mailsort120", "N"}, {"service", "M1"}}, true, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.parameters.front().first + "=" + c.parameters.front().second.textOrEmpty() + " " +
                 c.parameters.back().second.textOrEmpty());
    AllocationJob job;
    job.db.insertParameters(c.parameters);
    for (auto code : {"30000", "1", "20000", "30000", "20000", "30000"}) job.work(code);
    allocate(job.open());
    auto rows = job.close();
    Expected small = c.smallIsResidue ? Expected{"200", "Y", 200000} : Expected{"20000", Value(), kUntouched};
    Expected large = c.largeIsResidue ? Expected{"300", "Y", 300000} : Expected{"30000", Value(), kUntouched};
    expectRecords(rows, {large, {"1", Value(), 99000001}, small, large, small, large});
  }
}

TEST(SelectionAllocation, OneRecordTable) {
  for (auto [selection, residue] : {std::pair{"3", true}, std::pair{"1", false}}) {
    AllocationJob job;
    job.db.insertParameters({{"selection", selection}});
    job.work("54321");
    allocate(job.open());
    EXPECT_EQ(job.progress.figures, std::vector<std::string>{"100.00"});
    EXPECT_EQ(job.progress.litCells(), 20);
    expectRecords(job.close(),
                  {residue ? Expected{"543", "Y", 543000} : Expected{"54321", Value(), kUntouched}});
  }
}

TEST(SelectionAllocation, UnmatchedBlocksAreNeitherCountedNorJudged) {
  {  // The selection before the block is judged after it, with its own count.
    AllocationJob job;
    job.db.insertParameters();
    for (auto code : {"09999", "1", "10000", "09999", "10000", "10000"}) job.work(code);
    allocate(job.open());
    expectRecords(job.close(), {{"099", "Y", 99000},
                                {"1", Value(), 99000001},
                                {"10000", Value(), kUntouched},
                                {"099", "Y", 99000},
                                {"10000", Value(), kUntouched},
                                {"10000", Value(), kUntouched}});
    // The walk leaves the cursor on the block, which is gone through again.
    EXPECT_EQ(job.progress.yields, 7);
  }
  {  // A block at the end of the table: the selection before it is still judged.
    AllocationJob job;
    job.db.insertParameters();
    for (auto code : {"1", "05000", "1"}) job.work(code);
    allocate(job.open());
    expectRecords(job.close(), {{"1", Value(), 99000001}, {"050", "Y", 50000}, {"1", Value(), 99000001}});
    EXPECT_EQ(job.run.percent, 100);
  }
}

// Regions: 123 is region 1 (rank 07), 130 region 3 (rank 03), 12A region 1;
// 45678 and AB1 have none. Work: 12399 x3 direct, 12345 alone (residue),
// 13000 x3 matched on the post town, 45678 x3, 1, and two that cannot be
// sequenced: 12A45 x3 (direct) and AB100 (residue); a second 1 without rscode.
class RegionalSequencing : public ::testing::Test {
 protected:
  void allocateWith(const Row& parameters, bool ranked = true) {
    job.db.insertParameters(parameters);
    if (ranked) {
      job.db.insert("pcode", {{"code", "AB12 3"}, {"mdsel", "A1"}});
      job.db.insert("sequence", {{"code", "A1"}, {"mdsorts", "0705031299"}});
    }
    job.region("123", 1);
    job.region("130", 3);
    job.region("12A", 1);
    for (int i = 0; i < 3; ++i) {
      job.work("12399");
      job.work("13000", "T");
      job.work("45678");
      job.work("12A45");
    }
    job.work("12345");
    job.work("1");
    job.work("AB100");
    job.work("1", Value());  // no rscode at all
    getseq(job.open());
    allocate(job.run);
    rows = job.close();
  }
  const RowMap& row(std::size_t i) { return rows.at(i); }

  AllocationJob job;
  std::vector<RowMap> rows;
};

TEST_F(RegionalSequencing, InForceRankFirst) {
  allocateWith({{"service", "M1"}, {"Geog", "Y"}});
  EXPECT_EQ(row(0).at("seq"), Value(7012399));
  EXPECT_EQ(row(1).at("seq"), Value(3000000 + 13000000));
  EXPECT_EQ(row(2).at("seq"), Value(99045678));
  EXPECT_EQ(row(12).at("mscode"), Value("123"));
  EXPECT_EQ(row(12).at("rgcode"), Value("07"));
  EXPECT_EQ(row(12).at("seq"), Value(7123000));
  EXPECT_EQ(row(13).at("seq"), Value(99000001));
  EXPECT_EQ(row(15).at("seq"), Value(99001000));
  // A code with letters: ranked and saved, but no sort number.
  EXPECT_EQ(row(3).at("rgcode"), Value("07"));
  EXPECT_EQ(row(3).at("seq"), Value(kUntouched));
  EXPECT_EQ(row(14).at("mscode"), Value("AB1"));
  EXPECT_EQ(row(14).at("sflag"), Value("Y"));
  EXPECT_EQ(row(14).at("rgcode"), Value("99"));
  EXPECT_EQ(row(14).at("seq"), Value(kUntouched));
}

TEST_F(RegionalSequencing, NotInForceOnlyResidueAndUnmatchedAreSequenced) {
  allocateWith({{"service", "M2"}, {"Geog", "Y"}});
  for (std::size_t i : {0, 1, 2, 3}) EXPECT_EQ(row(i).at("seq"), Value(kUntouched));
  EXPECT_EQ(row(0).at("rgcode"), Value());
  EXPECT_EQ(row(12).at("seq"), Value(123000));
  EXPECT_EQ(row(12).at("rgcode"), Value());
  EXPECT_EQ(row(13).at("seq"), Value(99000001));
  EXPECT_EQ(row(14).at("sflag"), Value("Y"));
}

TEST_F(RegionalSequencing, WithoutRanksAnEmptyRankLeavesTheSortNumber) {
  allocateWith({{"service", "M1"}, {"Geog", "Y"}}, /*ranked=*/false);
  EXPECT_EQ(job.run.sortcodes, "");
  EXPECT_EQ(row(0).at("rgcode"), Value(""));
  EXPECT_EQ(row(0).at("seq"), Value(kUntouched));
  EXPECT_EQ(row(2).at("seq"), Value(99045678));
}

TEST(SelectionAllocation, RecordWithoutCodeIsLeftAndTheRestCounted) {
  AllocationJob job;
  job.db.insertParameters();
  job.db.insert("kvwork", {{"mscode", Value()}, {"seq", kUntouched}});
  for (auto code : {"20000", "20000", "30000", "30000", "30000"}) job.work(code);
  allocate(job.open());
  auto rows = job.close();
  EXPECT_EQ(rows[0].at("mscode"), Value());
  EXPECT_EQ(rows[0].at("sflag"), Value());
  EXPECT_EQ(rows[1].at("mscode"), Value("200"));
  EXPECT_EQ(rows[3].at("mscode"), Value("30000"));
}

TEST(SelectionAllocation, CancelStopsBeforeTheNextRecord) {
  AllocationJob job;
  job.db.insertParameters();
  addWorkedExample(job);
  // Cancel is confirmed while the pass yields after the fourth record, whose
  // turn ended the selection 12345 and recoded it.
  job.progress.cancelAtYield = 4;
  allocate(job.open());
  EXPECT_EQ(job.run.cancelflag, "Y");
  EXPECT_EQ(job.progress.confirmations, 1);
  EXPECT_EQ(job.progress.yields, 4);
  expectRecords(job.close(), {{"13000", Value(), kUntouched},
                              {"12399", Value(), kUntouched},
                              {"1", Value(), 99000001},
                              {"123", "Y", 123000},
                              {"12399", Value(), kUntouched},
                              {"1", Value(), 99001000},
                              {"12399", Value(), kUntouched},
                              {"123", "Y", 123000}});
}

}  // namespace
}  // namespace ms::testing
