// The file as the suite creates it: every table opens through the store,
// field names match without regard to case, and the reference tables find
// fixed-width blank-filled keys.
#include <gtest/gtest.h>

#include <fstream>
#include <functional>

#include "store/database.h"
#include "store/fault.h"
#include "store/recordset.h"
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
  fixture.insert("kvwork", {{"mscode", "12345"}, {"seq", 3.0}});
  auto db = Database::open(fixture.path(), OpenMode::Shared);

  for (const char* table : {"parmcode", "kvwork", "region", "pcode", "sequence", "label", "poprice", "price"})
    EXPECT_NO_THROW(db->openTable(table)) << table;
  for (const char* table : {"region", "pcode", "sequence", "label", "price"})
    EXPECT_NO_THROW(db->openTable(table)->setIndex("PrimaryKey")) << table;

  auto work = db->openTable("kvwork");
  work->setIndex("Key1");
  work->setIndex("Key2");
  EXPECT_EQ(faultOf([&] { work->setIndex("Key3"); }), Fault::NotFound);
  EXPECT_EQ(faultOf([&] { db->openTable("nosuchtable"); }), Fault::NotFound);
  EXPECT_EQ(faultOf([&] { work->field("nosuchfield"); }), Fault::NotFound);

  // A fresh recordset stands on its first record; names match without case.
  auto parm = db->openTable("parmcode");
  EXPECT_EQ(parm->recordCount(), 1);
  EXPECT_FALSE(parm->eof());
  EXPECT_EQ(parm->field("weight"), parm->field("Weight"));
  EXPECT_EQ(parm->field("WEIGHT").number(), 95.0);
  EXPECT_EQ(parm->field("Service").text(), "M1");
  EXPECT_EQ(parm->field("company name").text(), "Acme Mailing Ltd");
}

TEST_F(StoreContract, NullFieldsReadAsNullAndEmptyTablesHaveNoCurrentRecord) {
  fixture.insert("kvwork", {{"mscode", "1"}});
  auto db = Database::open(fixture.path(), OpenMode::Shared);
  auto work = db->openTable("kvwork");
  EXPECT_TRUE(work->field("rscode").isNull());
  EXPECT_EQ(work->field("mscode"), Value("1"));

  auto region = db->openTable("region");
  EXPECT_EQ(region->recordCount(), 0);
  EXPECT_TRUE(region->eof());
  EXPECT_TRUE(region->bof());
  EXPECT_EQ(faultOf([&] { region->field("mdreg"); }), Fault::NoCurrentRecord);
  EXPECT_EQ(faultOf([&] { region->edit(); }), Fault::NoCurrentRecord);
  EXPECT_EQ(faultOf([&] { region->moveNext(); }), Fault::NoCurrentRecord);
}

TEST_F(StoreContract, ReferenceKeysIgnoreTrailingBlanks) {
  fixture.insert("region", {{"code", "123"}, {"mdreg", 7.0}});
  fixture.insert("region", {{"code", "12"}, {"mdreg", 5.0}});
  fixture.insert("price", {{"code", "M1"}, {"LeBase1", 20.5}});
  fixture.insert("price", {{"code", "M1 120"}, {"LeBase1", 18.0}});
  fixture.insert("pcode", {{"code", "AB12 3"}, {"mdsel", "456"}});
  auto db = Database::open(fixture.path(), OpenMode::Shared);

  auto region = db->openTable("region");
  region->setIndex("PrimaryKey");
  for (const char* key : {"123", "123 ", "123   "}) {
    region->seek(key);
    ASSERT_FALSE(region->noMatch()) << "[" << key << "]";
    EXPECT_EQ(region->field("mdreg").number(), 7.0);
  }
  region->seek("12 ");
  ASSERT_FALSE(region->noMatch());
  EXPECT_EQ(region->field("mdreg").number(), 5.0);
  // Leading blanks and other lengths are different keys.
  for (const char* key : {" 123", "1234", "1", ""}) {
    region->seek(key);
    EXPECT_TRUE(region->noMatch()) << "[" << key << "]";
  }
  region->seek(Value());
  EXPECT_TRUE(region->noMatch());
  // A number is sought as its text.
  region->seek(123);
  EXPECT_FALSE(region->noMatch());

  auto price = db->openTable("price");
  price->setIndex("PrimaryKey");
  price->seek("M1    ");
  ASSERT_FALSE(price->noMatch());
  EXPECT_EQ(price->field("LeBase1").number(), 20.5);
  price->seek("M1 120");
  ASSERT_FALSE(price->noMatch());
  EXPECT_EQ(price->field("lebase1").number(), 18.0);

  // The second try of the sector lookup: the district alone is not a key.
  auto pcode = db->openTable("pcode");
  pcode->setIndex("PrimaryKey");
  pcode->seek("AB12 3");
  EXPECT_FALSE(pcode->noMatch());
  pcode->seek("AB12");
  EXPECT_TRUE(pcode->noMatch());
}

TEST_F(StoreContract, SeekNeedsAChosenIndex) {
  fixture.insert("region", {{"code", "123"}, {"mdreg", 7.0}});
  auto db = Database::open(fixture.path(), OpenMode::Shared);
  auto region = db->openTable("region");
  EXPECT_EQ(faultOf([&] { region->seek("123"); }), Fault::Engine);
}

TEST_F(StoreContract, MissingFileIsNotFoundAndNeverCreated) {
  std::string missing = dir.file("nothere.mdb");
  EXPECT_EQ(faultOf([&] { Database::open(missing, OpenMode::Shared); }), Fault::NotFound);
  EXPECT_EQ(faultOf([&] { Database::open(missing, OpenMode::Exclusive); }), Fault::NotFound);
  EXPECT_FALSE(std::ifstream(missing).good());
}

TEST_F(StoreContract, AFileThatIsNoDatabaseIsRefused) {
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
