// The bags table re-created empty with its fixed layout, whatever was there.
#include "allocation/bags_table.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include "allocation/allocation_job.h"

namespace ms::testing {
namespace {

void expectEmptyBagsWithItsLayout(FixtureDb& db) {
  std::vector<std::string> columns;
  for (const RowMap& column : db.query("PRAGMA table_info(bags)")) {
    columns.push_back(column.at("name").text());
    EXPECT_EQ(column.at("type"), Value("REAL"));
    EXPECT_EQ(column.at("pk").number(), column.at("name") == Value("Bag Number") ? 1 : 0);
  }
  EXPECT_EQ(columns,
            (std::vector<std::string>{"Bag Number", "Label Start", "Label Number", "Bundle Number", "Seq"}));
  EXPECT_EQ(db.scalar("SELECT count(*) FROM bags").number(), 0);
  // Bag numbers are unique, label numbers are not.
  db.exec("INSERT INTO bags VALUES (1, 1, 7, 1, 1); INSERT INTO bags VALUES (2, 1, 7, 1, 1)");
  EXPECT_THROW(db.exec("INSERT INTO bags VALUES (1, 2, 8, 2, 2)"), std::runtime_error);
}

TEST(Newfile, CreatesBagsWhenThereIsNone) {
  AllocationJob job;
  job.db.insertParameters();
  newfile(job.open());
  // Both indexes are there by name.
  auto bags = job.run.mdb->openTable("bags");
  EXPECT_NO_THROW(bags->setIndex("PrimaryKey"));
  EXPECT_NO_THROW(bags->setIndex("Key2"));
  bags.reset();
  job.close();
  expectEmptyBagsWithItsLayout(job.db);
}

TEST(Newfile, ReplacesAnOldTableOfAnotherLayout) {
  AllocationJob job;
  job.db.insertParameters();
  job.db.exec("CREATE TABLE bags (bag TEXT, extra INTEGER); INSERT INTO bags VALUES ('old', 1)");
  newfile(job.open());
  job.close();
  expectEmptyBagsWithItsLayout(job.db);
}

TEST(Newfile, TableHeldByAnotherProgramStaysWithItsRows) {
  AllocationJob job;
  job.db.insertParameters();
  job.db.exec("CREATE TABLE bags (bag TEXT); INSERT INTO bags VALUES ('old')");
  sqlite3* other = nullptr;
  ASSERT_EQ(sqlite3_open(job.db.path().c_str(), &other), SQLITE_OK);
  sqlite3_stmt* reading = nullptr;
  ASSERT_EQ(sqlite3_prepare_v2(other, "SELECT * FROM bags", -1, &reading, nullptr), SQLITE_OK);
  ASSERT_EQ(sqlite3_step(reading), SQLITE_ROW);
  newfile(job.open());
  sqlite3_finalize(reading);
  sqlite3_close(other);
  job.close();
  EXPECT_EQ(job.db.scalar("SELECT bag FROM bags"), Value("old"));
}

}  // namespace
}  // namespace ms::testing
