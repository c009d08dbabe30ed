// The posting selection's ranks (getseq) and one record's rank (getreg) with
// their fallbacks; the bags table re-created empty with its fixed layout.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <chrono>

#include "allocation/allocation_job.h"
#include "allocation/bags_table.h"
#include "allocation/region_lookups.h"
#include "values/fault.h"

namespace ms::testing {
namespace {

TEST(Getseq, FindsThePostingSelectionsRanks) {
  struct Case {
    const char* what;
    Value postcode;
    std::vector<std::pair<std::string, std::string>> pcode;  // key -> mdsel
    std::string expected;                                    // "unchanged": left as it was
  };
  const Case cases[] = {
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
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    AllocationJob job(Row{{"postcode", c.postcode}});
    for (const auto& [key, mdsel] : c.pcode) job.db.insert("pcode", {{"code", key}, {"mdsel", mdsel}});
    for (auto [code, ranks] : {std::pair{"S1", "sector"}, {"D1", "district"}, {"LNG", "long"}})
      job.db.insert("sequence", {{"code", code}, {"mdsorts", ranks}});
    RunState& run = job.open();
    run.sortcodes = "unchanged";
    getseq(run);
    EXPECT_EQ(run.sortcodes, c.expected);
  }
}

TEST(Getreg, RanksTheRegionOfTheResidueCode) {
  const std::string ranks = "0705031299";
  std::string longRanks(254, '-');
  longRanks += "42";
  struct Case {
    const char* what;
    std::string mscode, regionKey;
    Value mdreg;
    std::string sortcodes;
    Value expected;
  };
  const Case cases[] = {
      {"region 1", "12345", "123", 1, ranks, "07"},
      {"region 3", "12345", "123", 3, ranks, "03"},
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
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    AllocationJob job;
    job.region(c.regionKey, c.mdreg);
    job.db.insert("kvwork", {{"mscode", c.mscode}, {"rgcode", "old"}});
    RunState& run = job.open();
    run.sortcodes = c.sortcodes;
    run.workrs->moveFirst();
    run.workrs->edit();
    attempt([&] { getreg(run); });  // a failure abandons the call
    EXPECT_EQ(run.workrs->field("rgcode"), c.expected);
  }
}

TEST(Newfile, RecreatesBagsEmptyWithItsLayoutOverAnyOldTable) {
  for (const char* old :
       {"", "CREATE TABLE bags (bag TEXT, extra INTEGER); INSERT INTO bags VALUES ('o', 1)"}) {
    SCOPED_TRACE(old);
    AllocationJob job;
    job.db.exec(old);
    newfile(job.open());
    auto bags = job.run.mdb->openTable("bags");
    EXPECT_NO_THROW(bags->setIndex("PrimaryKey"));
    EXPECT_NO_THROW(bags->setIndex("Key2"));
    bags.reset();
    job.close();
    std::vector<std::string> columns;
    for (const RowMap& column : job.db.query("PRAGMA table_info(bags)")) {
      columns.push_back(column.at("name").text());
      EXPECT_EQ(column.at("type"), Value("REAL"));
      EXPECT_EQ(column.at("pk").number(), column.at("name") == Value("Bag Number") ? 1 : 0);
    }
    EXPECT_EQ(columns, (std::vector<std::string>{"Bag Number", "Label Start", "Label Number", "Bundle Number",
                                                 "Seq"}));
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
  newfile(job.run);
  sqlite3_finalize(reading);
  sqlite3_close(other);
  job.close();
  EXPECT_EQ(job.db.scalar("SELECT bag FROM bags"), Value("old"));
}

}  // namespace
}  // namespace ms::testing
