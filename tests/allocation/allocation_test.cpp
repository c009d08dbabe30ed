// The allocation: the posting selection's ranks (getseq) and one record's
// rank (getreg), the bags table re-created empty with its fixed layout, and
// the Counting Pass and its Residue Walks: which selections go to residue,
// the sort numbers left on every record, the progress shown and Cancel.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <chrono>
#include <string>
#include <tuple>
#include <vector>

#include "allocation/bags_table.h"
#include "allocation/region_lookups.h"
#include "allocation/selection_allocation.h"
#include "support/run_job.h"
#include "values/fault.h"
#include "values/text_rules.h"

namespace ms::testing {
namespace {

class AllocationJob : public RunJob {
 public:
  explicit AllocationJob(const Row& parameters = {}) {
    db.exec("PRAGMA synchronous=OFF");
    db.insertParameters(parameters);
  }
  // `seq` starts at kUntouched so that a `seq` the pass did not write shows.
  void work(const Value& mscode, const Value& rscode = Value("")) {
    db.insert("kvwork", {{"mscode", mscode}, {"rscode", rscode}, {"seq", kUntouched}, {"Name", ""}});
  }
  void region(const std::string& code, const Value& mdreg) {
    db.insert("region", {{"code", code}, {"mdreg", mdreg}});
  }
  RunState& open() {
    RunJob::open();
    state.minsel = Val(state.parmrs->field("selection").textOrEmpty());
    return state;
  }
  // Closes the run (saving what is pending); the work table in insertion order.
  std::vector<RowMap> close() {
    state.workrs.reset();
    state.parmrs.reset();
    if (state.mdb) state.mdb->close();
    return db.query("SELECT * FROM kvwork ORDER BY rowid");
  }

  static constexpr double kUntouched = -1;
};

TEST(Getseq, FindsThePostingSelectionsRanks) {
  // The posting postcode, pcode rows (key, mdsel) and the ranks found ("unchanged": none).
  using Pcode = std::vector<std::pair<std::string, std::string>>;
  const std::tuple<const char*, Value, Pcode, std::string> cases[] = {
      {"sector before district", "AB12 3CD", {{"AB12 3", "S1"}, {"AB12", "D1"}}, "sector"},
      {"district when the sector is missing", "AB12 3CD", {{"AB12 4", "S1"}, {"AB12", "D1"}}, "district"},
      {"no space: the whole postcode", "AB123CD", {{"AB123CD", "D1"}}, "district"},
      {"neither sector nor district", "ZZ9 9ZZ", {{"AB12", "D1"}}, "unchanged"},
      {"empty postcode", "", {{"AB12", "D1"}}, "unchanged"},
      {"no postcode at all", Value(), {{"AB12", "D1"}}, "unchanged"},
      {"a selection without ranks", "AB12 3CD", {{"AB12 3", "XX"}}, "unchanged"},
      {"a selection without its code", "AB12 3CD", {{"AB12 3", ""}}, "unchanged"},
      {"a selection code cut to three", "AB12 3CD", {{"AB12 3", "LNGX"}}, "long"},
  };
  for (const auto& [what, postcode, pcode, expected] : cases) {
    SCOPED_TRACE(what);
    AllocationJob job(Row{{"postcode", postcode}});
    for (const auto& [key, mdsel] : pcode) job.db.insert("pcode", {{"code", key}, {"mdsel", mdsel}});
    for (auto [code, ranks] : {std::pair{"S1", "sector"}, {"D1", "district"}, {"LNG", "long"}})
      job.db.insert("sequence", {{"code", code}, {"mdsorts", ranks}});
    RunState& run = job.open();
    run.sortcodes = "unchanged";
    getseq(run);
    EXPECT_EQ(run.sortcodes, expected);
  }
}

TEST(Getreg, RanksTheRegionOfTheResidueCode) {
  const std::string ranks = "0705031299";
  std::string longRanks(254, '-');
  longRanks += "42";
  // The code, a region key and its number, the ranks, the rank written ("old": the call failed).
  const std::tuple<const char*, std::string, std::string, Value, std::string, Value> cases[] = {
      {"region 1", "12345", "123", 1, ranks, "07"},
      {"region 3", "12345", "123", 3, ranks, "03"},
      {"region 1.8 starts at 3", "12345", "123", 1.8, ranks, "05"},    // 2.6: the nearest whole number
      {"region 1.75 starts at 2", "12345", "123", 1.75, ranks, "70"},  // 2.5: halves go to even
      {"partly past the end", "12345", "123", 5, "070503129", "9"},
      {"wholly past the end", "12345", "123", 6, ranks, ""},
      {"last start position", "12345", "123", 128, longRanks, "42"},
      {"two-character code", "12", "12", 2, ranks, "05"},
      {"no region", "45678", "123", 1, ranks, "99"},
      {"region 0 fails", "12345", "123", 0, ranks, "old"},
      {"region 129 fails", "12345", "123", 129, ranks, "old"},
      {"start 256 fails", "12345", "123", 128.5, longRanks, "old"},
      {"region without number fails", "12345", "123", Value(), ranks, "old"},
  };
  for (const auto& [what, mscode, regionKey, mdreg, sortcodes, expected] : cases) {
    SCOPED_TRACE(what);
    AllocationJob job;
    job.region(regionKey, mdreg);
    job.db.insert("kvwork", {{"mscode", mscode}, {"rgcode", "old"}});
    RunState& run = job.open();
    run.sortcodes = sortcodes;
    run.workrs->moveFirst();
    run.workrs->edit();
    attempt([&] { getreg(run); });  // a failure abandons the call
    EXPECT_EQ(run.workrs->field("rgcode"), expected);
  }
}

TEST(Newfile, RecreatesBagsEmptyWithItsLayoutOverAnyOldTable) {
  for (const char* old :
       {"", "CREATE TABLE bags (bag TEXT, extra INTEGER); INSERT INTO bags VALUES ('o', 1)"}) {
    SCOPED_TRACE(old);
    AllocationJob job;
    job.db.exec(old);
    newfile(job.open());
    auto bags = job.state.mdb->openTable("bags");
    EXPECT_NO_THROW((bags->setIndex("PrimaryKey"), bags->setIndex("Key2")));
    bags.reset();
    job.close();
    EXPECT_EQ(
        job.db.scalar(
            "SELECT group_concat(name || ' ' || type || ' ' || pk, ', ') FROM pragma_table_info('bags')"),
        Value(
            "Bag Number REAL 1, Label Start REAL 0, Label Number REAL 0, Bundle Number REAL 0, Seq REAL 0"));
    EXPECT_EQ(job.db.scalar("SELECT count(*) FROM bags").number(), 0);
    // Bag numbers are unique, label numbers are not.
    job.db.exec("INSERT INTO bags VALUES (1, 1, 7, 1, 1); INSERT INTO bags VALUES (2, 1, 7, 1, 1)");
    EXPECT_THROW(job.db.exec("INSERT INTO bags VALUES (1, 2, 8, 2, 2)"), std::runtime_error);
  }
}

TEST(Newfile, TableHeldByAnotherConnectionStaysWithItsRows) {
  AllocationJob job;
  job.db.exec("CREATE TABLE bags (bag TEXT); INSERT INTO bags VALUES ('old')");
  sqlite3* other = nullptr;
  sqlite3_stmt* reading = nullptr;
  ASSERT_EQ(sqlite3_open(job.db.path().c_str(), &other), SQLITE_OK);
  ASSERT_EQ(sqlite3_prepare_v2(other, "SELECT * FROM bags", -1, &reading, nullptr), SQLITE_OK);
  ASSERT_EQ(sqlite3_step(reading), SQLITE_ROW);
  job.open().mdb->setBusyWait(std::chrono::milliseconds(100));  // then it gives up, as after a minute
  newfile(job.state);
  sqlite3_finalize(reading);
  sqlite3_close(other);
  job.close();
  EXPECT_EQ(job.db.scalar("SELECT bag FROM bags"), Value("old"));
}

constexpr double kUntouched = AllocationJob::kUntouched;

struct Expected {
  Value mscode, sflag;
  double seq;
};
const Expected k1{"1", Value(), 99000001};

void expectRecords(const std::vector<RowMap>& rows, const std::vector<Expected>& expected) {
  ASSERT_EQ(rows.size(), expected.size());
  for (std::size_t i = 0; i < rows.size(); ++i) {
    SCOPED_TRACE("record " + std::to_string(i + 1));
    EXPECT_EQ(std::tuple(rows[i].at("mscode"), rows[i].at("sflag"), rows[i].at("seq")),
              std::tuple(expected[i].mscode, expected[i].sflag, Value(expected[i].seq)));
  }
}

// The codes 1, 1, 12345 x2, 12399 x3, 13000 in "Key1" order, added in
// another order so that the pass must follow the index; 12345 and 13000 are
// residue under a minimum of 3.
TEST(SelectionAllocation, WorkedExampleAndCancelMidPass) {
  const Expected left{"12399", Value(), kUntouched}, r123{"123", "Y", 123000}, t1{"1", Value(), 99001000};
  for (int cancelAt : {0, 4}) {
    SCOPED_TRACE(cancelAt);
    AllocationJob job;
    for (auto code : {"13000", "12399", "1", "12345", "12399"}) job.work(code);
    job.work("1", "T");  // matched on its post town
    job.work("12399");
    job.work("12345");
    // Cancel after the fourth record, whose turn ended 12345 and recoded it.
    job.progress.cancelAtYield = cancelAt;
    allocate(job.open());
    auto rows = job.close();
    if (cancelAt) {
      EXPECT_EQ(std::tuple(job.state.cancelflag, job.progress.questions, job.progress.yields),
                std::tuple("Y", 1, 4));
      expectRecords(rows, {{"13000", Value(), kUntouched}, left, k1, r123, left, t1, left, r123});
      continue;
    }
    EXPECT_EQ(std::tuple(job.state.percent, job.progress.yields, job.progress.litUpTo(20)),
              std::tuple(100, 8, true));
    EXPECT_EQ(job.progress.figures, (std::vector<std::string>{"25.00", "37.50", "50.00", "62.50", "75.00",
                                                              "87.50", "100.00", "100.00"}));
    expectRecords(rows, {{"130", "Y", 130000}, left, k1, r123, left, t1, left, r123});
    EXPECT_EQ(rows[2].at("rgcode"), Value("99"));
  }
}

// Which selections go to residue under different Job Parameters (the size
// rule with minimum - 1 and minimum, ResOnly, Mailsort 120), and code "1"
// blocks, neither counted nor judged: the selection before one is judged
// after it on its own count, also at the end of the table. A record without
// a code is left alone; one record is a whole table.
TEST(SelectionAllocation, ResidueBySizeOrServiceBlocksOfCodeOneAndOneRecord) {
  const Expected y200{"200", "Y", 200000}, n200{"20000", Value(), kUntouched};
  const Expected y300{"300", "Y", 300000}, n300{"30000", Value(), kUntouched};
  const Expected y099{"099", "Y", 99000}, n100{"10000", Value(), kUntouched},
      none{Value(), Value(), kUntouched};
  // 1, 2 x 20000, 3 x 30000
  const std::vector<Value> sizes = {"30000", "1", "20000", "30000", "20000", "30000"};
  auto sized = [&](bool small, bool large) {
    const Expected s = small ? y200 : n200, l = large ? y300 : n300;
    return std::vector<Expected>{l, k1, s, l, s, l};
  };
  // Job Parameters, codes, the records after the pass and the yields (0: not checked).
  const std::tuple<Row, std::vector<Value>, std::vector<Expected>, int> cases[] = {
      {{{"selection", "3"}}, sizes, sized(true, false), 0},
      {{{"selection", "2"}}, sizes, sized(false, false), 0},
      {{{"selection", ""}}, sizes, sized(false, false), 0},
      {{{"selection", "0"}}, sizes, sized(false, false), 0},
      {{{"ResOnly", "Y"}}, sizes, sized(true, true), 0},
      {{{"ResOnly", "y"}}, sizes, sized(true, false), 0},
      {{{"Mailsort120", "Y"}, {"service", "M1"}}, sizes, sized(true, true), 0},
      {{{"Mailsort120", "Y"}, {"service", "M2"}}, sizes, sized(true, true), 0},
      {{{"Mailsort120", "Y"}, {"service", "M3"}}, sizes, sized(true, true), 0},
      {{{"Mailsort120", "Y"}, {"service", "P1"}}, sizes, sized(true, false), 0},
      {{{"Mailsort120", "N"}, {"service", "M1"}}, sizes, sized(true, false), 0},
      // The walk leaves the cursor on the block, which is gone through again.
      {{}, {"09999", "1", "10000", "09999", "10000", "10000"}, {y099, k1, n100, y099, n100, n100}, 7},
      {{}, {"1", "05000", "1"}, {k1, {"050", "Y", 50000}, k1}, 0},
      {{}, {Value(), "20000", "20000", "30000", "30000", "30000"}, {none, y200, y200, n300, n300, n300}, 0},
      {{}, {"54321"}, {{"543", "Y", 543000}}, 1},
      {{{"selection", "1"}}, {"54321"}, {{"54321", Value(), kUntouched}}, 1},
  };
  int n = 0;
  for (const auto& [parameters, codes, expected, yields] : cases) {
    SCOPED_TRACE("case " + std::to_string(++n));
    AllocationJob job(parameters);
    for (const Value& code : codes) job.work(code);
    allocate(job.open());
    expectRecords(job.close(), expected);
    EXPECT_EQ(job.state.percent, 100);
    EXPECT_TRUE(job.progress.litUpTo(20));
    EXPECT_TRUE(yields != 1 || job.progress.figures == std::vector<std::string>{"100.00"});
    EXPECT_EQ(yields ? job.progress.yields : 0, yields);
  }
}

// Codes stored as blobs sort after every text in Key1 and are not found by
// a text key, so a small blob selection sends the cursor back to the text
// records of the code after it, long passed: the pass must end with a fault
// (it used to go round for ever). A table whose lookups fail is recorded
// and ends the pass.
TEST(SelectionAllocation, APassThatWouldGoBackEndsAndTableFaultsAreRecorded) {
  for (const bool regionMissing : {false, true}) {
    AllocationJob job;
    for (int i = 0; i < 3; ++i) job.work("12399");
    for (auto blob : {"X'3132333435'", "X'3132333939'"})
      job.db.exec("INSERT INTO kvwork (mscode, rscode, seq) VALUES (" + std::string(blob) + ", '', -1)");
    job.work("1");
    if (regionMissing) job.db.exec("DROP TABLE region");
    {
      FaultScope scope(job.state.faults);
      allocate(job.open());
    }
    ASSERT_EQ(job.state.faults.entries().size(), 1u) << job.state.faults.report();
    const auto& fault = job.state.faults.entries()[0];  // the "1" record comes first
    EXPECT_EQ(std::tie(fault.fault, fault.where, fault.firstAt),
              regionMissing ? std::make_tuple(Fault::NotFound, "region", "record 1 of the allocation")
                            : std::make_tuple(Fault::Stalled, "kvwork", "record 5 of the allocation"));
    EXPECT_LE(job.progress.yields, 5);
    EXPECT_EQ(job.close()[0].at("mscode"), Value("12399"));  // the direct selection was not recoded
  }
}

// Regions: 123 is region 1 (rank 07), 130 region 3 (rank 03), 12A region 1;
// 45678 and AB1 have none. Work: 12399 x3 direct, 13000 x3 matched on the
// post town, 45678 x3, 12A45 x3 (direct, letters: no sort number), then
// 12345 alone (residue), 1, AB100 (residue, letters) and 1 without rscode.
TEST(RegionalSequencing, InForceRankFirstOffOnlyResidueAndUnmatchedWithoutRanksNone) {
  using Cell = std::tuple<std::size_t, const char*, Value>;  // row, column, value
  const Value none(kUntouched);
  const std::vector<Cell> inForce = {{0, "seq", 7012399},   {1, "seq", 16000000},  {2, "seq", 99045678},
                                     {12, "mscode", "123"}, {12, "rgcode", "07"},  {12, "seq", 7123000},
                                     {13, "seq", 99000001}, {15, "seq", 99001000}, {3, "rgcode", "07"},
                                     {3, "seq", none},      {14, "mscode", "AB1"}, {14, "sflag", "Y"},
                                     {14, "rgcode", "99"},  {14, "seq", none}};
  const std::vector<Cell> off = {{0, "seq", none},        {1, "seq", none},       {2, "seq", none},
                                 {3, "seq", none},        {0, "rgcode", Value()}, {12, "seq", 123000},
                                 {12, "rgcode", Value()}, {13, "seq", 99000001},  {14, "sflag", "Y"}};
  // In force but no ranks found: an empty rank leaves the sort number.
  const std::vector<Cell> unranked = {{0, "rgcode", ""}, {0, "seq", none}, {2, "seq", 99045678}};
  const std::tuple<const char*, bool, std::string, std::vector<Cell>> cases[] = {
      {"M1", true, "0705031299", inForce}, {"M2", true, "0705031299", off}, {"M1", false, "", unranked}};
  for (const auto& [service, ranked, sortcodes, cells] : cases) {
    SCOPED_TRACE(std::string(service) + (ranked ? " ranked" : " unranked"));
    AllocationJob job(Row{{"service", service}, {"Geog", "Y"}});
    if (ranked) {
      job.db.insert("pcode", {{"code", "AB12 3"}, {"mdsel", "A1"}});
      job.db.insert("sequence", {{"code", "A1"}, {"mdsorts", "0705031299"}});
    }
    for (auto [code, mdreg] : {std::pair{"123", 1}, {"130", 3}, {"12A", 1}}) job.region(code, mdreg);
    for (int i = 0; i < 3; ++i)
      for (auto code : {"12399", "13000", "45678", "12A45"})
        job.work(code, code == std::string("13000") ? "T" : "");
    for (auto code : {"12345", "1", "AB100"}) job.work(code);
    job.work("1", Value());
    getseq(job.open());
    allocate(job.state);
    EXPECT_EQ(job.state.sortcodes, sortcodes);
    const auto rows = job.close();
    for (const auto& [row, column, value] : cells)
      EXPECT_EQ(rows.at(row).at(column), value) << row << " " << column;
  }
}

}  // namespace
}  // namespace ms::testing
