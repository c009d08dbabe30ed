// The file as the suite creates it: every table opens through the store,
// field names match without regard to case, and the reference tables find
// fixed-width blank-filled keys.
#include <gtest/gtest.h>

#include <fstream>

#include "store/database.h"
#include "store_test_support.h"
#include "support/fixture_db.h"

namespace ms::store {
namespace {

using ms::testing::FixtureDb;
using ms::testing::TempDir;

class StoreContract : public ::testing::Test {
 protected:
  TempDir dir;
  FixtureDb fixture{dir.path()};
};

TEST_F(StoreContract, EveryTableOfTheSuiteOpensWithItsFieldsAndIndexes) {
  fixture.insertParameters({{"Weight", 95.0}, {"service", "M1"}});
  auto db = Database::open(fixture.path(), OpenMode::Shared);
  for (const char* table : {"parmcode", "kvwork", "region", "pcode", "sequence", "label", "poprice", "price"})
    EXPECT_NO_THROW(db->openTable(table)) << table;
  for (const char* table : {"region", "pcode", "sequence", "label", "price"})
    EXPECT_NO_THROW(db->openTable(table)->setIndex("PrimaryKey")) << table;
  auto work = db->openTable("kvwork");
  EXPECT_NO_THROW(work->setIndex("Key1"));
  EXPECT_NO_THROW(work->setIndex("Key2"));
  EXPECT_EQ(faultOf([&] { work->setIndex("Key3"); }), Fault::NotFound);
  EXPECT_EQ(faultOf([&] { db->openTable("nosuchtable"); }), Fault::NotFound);

  // A fresh recordset stands on its first record; names match without case.
  auto parm = db->openTable("parmcode");
  EXPECT_EQ(parm->recordCount(), 1);
  EXPECT_EQ(parm->field("weight"), Value(95.0));
  EXPECT_EQ(parm->field("WEIGHT"), parm->field("Weight"));
  EXPECT_EQ(parm->field("Service"), Value("M1"));
  EXPECT_EQ(parm->field("company name"), Value("Acme Mailing Ltd"));
  EXPECT_EQ(faultOf([&] { parm->field("nosuchfield"); }), Fault::NotFound);
}

TEST_F(StoreContract, NullFieldsReadAsNullAndEmptyTablesHaveNoCurrentRecord) {
  fixture.insert("kvwork", {{"mscode", "1"}});
  auto db = Database::open(fixture.path(), OpenMode::Shared);
  EXPECT_TRUE(db->openTable("kvwork")->field("rscode").isNull());

  auto region = db->openTable("region");
  EXPECT_EQ(region->recordCount(), 0);
  EXPECT_TRUE(region->eof());
  EXPECT_TRUE(region->bof());
  EXPECT_EQ(faultOf([&] { region->field("mdreg"); }), Fault::NoCurrentRecord);
  EXPECT_EQ(faultOf([&] { region->edit(); }), Fault::NoCurrentRecord);
  EXPECT_EQ(faultOf([&] { region->moveNext(); }), Fault::NoCurrentRecord);
  EXPECT_EQ(faultOf([&] { region->seek("123"); }), Fault::Engine);  // no index chosen
}

TEST_F(StoreContract, ReferenceKeysIgnoreTrailingBlanks) {
  fixture.insert("region", {{"code", "123"}, {"mdreg", 7.0}});
  fixture.insert("region", {{"code", "12"}, {"mdreg", 5.0}});
  fixture.insert("price", {{"code", "M1"}, {"LeBase1", 20.5}});
  fixture.insert("price", {{"code", "M1 120"}, {"LeBase1", 18.0}});
  auto db = Database::open(fixture.path(), OpenMode::Shared);

  auto region = db->openTable("region");
  region->setIndex("PrimaryKey");
  for (const Value& key : {Value("123"), Value("123 "), Value("123   "), Value(123)}) {
    region->seek(key);
    ASSERT_FALSE(region->noMatch()) << "[" << key.text() << "]";
    EXPECT_EQ(region->field("mdreg"), Value(7.0));
  }
  region->seek("12 ");
  EXPECT_EQ(region->field("mdreg"), Value(5.0));
  for (const Value& key : {Value(" 123"), Value("1234"), Value("1"), Value(""), Value()}) {
    region->seek(key);
    EXPECT_TRUE(region->noMatch()) << "[" << key.textOrEmpty() << "]";
  }

  auto price = db->openTable("price");
  price->setIndex("PrimaryKey");
  price->seek("M1    ");
  ASSERT_FALSE(price->noMatch());
  EXPECT_EQ(price->field("LeBase1"), Value(20.5));
  price->seek("M1 120");
  ASSERT_FALSE(price->noMatch());
  EXPECT_EQ(price->field("lebase1"), Value(18.0));
}

TEST_F(StoreContract, OnlyAnExistingDatabaseFileOpens) {
  std::string missing = dir.file("nothere.mdb");
  EXPECT_EQ(faultOf([&] { Database::open(missing, OpenMode::Shared); }), Fault::NotFound);
  EXPECT_EQ(faultOf([&] { Database::open(missing, OpenMode::Exclusive); }), Fault::NotFound);
  EXPECT_FALSE(std::ifstream(missing).good());  // never created

  std::string other = dir.file("notes.mdb");
  std::ofstream(other) << "not a database at all, just some text that is long enough to be read";
  EXPECT_EQ(faultOf([&] { Database::open(other, OpenMode::Shared); }), Fault::Engine);
}

TEST_F(StoreContract, ClosedDatabaseFailsItsRecordsets) {
  fixture.insertParameters();
  auto db = Database::open(fixture.path(), OpenMode::Shared);
  auto parm = db->openTable("parmcode");
  db->close();
  EXPECT_FALSE(db->isOpen());
  EXPECT_NO_THROW(db->close());
  EXPECT_THROW(parm->field("RunAlone"), RunError);
  EXPECT_THROW(db->openTable("parmcode"), RunError);
}

}  // namespace
}  // namespace ms::store
