// Saving through a recordset: the engine's conversions, pending edits,
// appended records, and tables defined and dropped by the program.
#include <gtest/gtest.h>

#include <cstdio>

#include "store/database.h"
#include "store_test_support.h"
#include "support/fixture_db.h"

namespace ms::store {
namespace {

using ms::testing::FixtureDb;
using ms::testing::TempDir;

class StoreEdit : public ::testing::Test {
 protected:
  void SetUp() override {
    fixture.insert("kvwork", {{"Name", "a"}, {"mscode", "12345"}, {"seq", 5.0}});
    db = Database::open(fixture.path(), OpenMode::Shared);
    rs = db->openTable("kvwork");
  }
  Value stored(const std::string& column, const char* form = "%s") {
    char sql[128];
    std::snprintf(sql, sizeof sql, form, ("\"" + column + "\"").c_str());
    return fixture.scalar(std::string("SELECT ") + sql + " FROM kvwork");
  }

  TempDir dir;
  FixtureDb fixture{dir.path()};
  std::unique_ptr<Database> db;
  std::unique_ptr<Recordset> rs;
};

TEST_F(StoreEdit, ValuesAreConvertedToTheFieldTypeAndBadNumbersLeaveTheField) {
  rs->edit();
  rs->set("mscode", 0.1 + 0.2);  // a number into a text field: its plain text
  rs->set("rgcode", 99);
  rs->set("sflag", Value());
  EXPECT_EQ(rs->field("mscode"), Value("0.3"));  // the pending value, already converted
  for (const char* bad : {"abc", "", "12a"})
    EXPECT_EQ(faultOf([&] { rs->set("seq", bad); }), Fault::TypeMismatch) << bad;
  EXPECT_EQ(rs->field("seq"), Value(5.0));
  rs->update();
  rs->edit();
  rs->set("Address1", " 7012345 ");  // a text field keeps the text as it is
  rs->update();
  db->close();
  EXPECT_EQ(stored("mscode"), Value("0.3"));
  EXPECT_EQ(stored("mscode", "typeof(%s)"), Value("text"));
  EXPECT_EQ(stored("rgcode"), Value("99"));
  EXPECT_EQ(stored("seq"), Value(5.0));
  EXPECT_EQ(stored("Address1"), Value(" 7012345 "));
  EXPECT_TRUE(stored("sflag").isNull());

  db = Database::open(fixture.path(), OpenMode::Shared);
  rs = db->openTable("kvwork");
  rs->edit();
  rs->set("seq", " 7012345 ");  // a numeric text into a number field
  rs->update();
  db->close();
  EXPECT_EQ(stored("seq"), Value(7012345.0));
  EXPECT_EQ(stored("seq", "typeof(%s)"), Value("real"));
}

TEST_F(StoreEdit, PendingEditsAreSavedOnlyByUpdate) {
  EXPECT_EQ(faultOf([&] { rs->set("sflag", "Y"); }), Fault::Engine);
  EXPECT_EQ(faultOf([&] { rs->update(); }), Fault::Engine);
  rs->edit();
  rs->set("sflag", "Y");
  rs->cancelUpdate();
  EXPECT_TRUE(rs->field("sflag").isNull());
  rs->edit();
  rs->set("sflag", "Y");
  rs->moveFirst();  // moving away drops the edit
  EXPECT_TRUE(rs->field("sflag").isNull());
  EXPECT_EQ(faultOf([&] { rs->update(); }), Fault::Engine);

  rs->edit();
  rs->set("SFLAG", "Y");
  rs->update();
  EXPECT_EQ(rs->field("sflag"), Value("Y"));
  db->close();
  EXPECT_EQ(stored("sflag"), Value("Y"));
}

TEST_F(StoreEdit, AddNewAppendsAndTheCursorStaysWhereItWas) {
  rs->setIndex("Key1");
  EXPECT_EQ(rs->field("Name"), Value("a"));
  rs->addNew();
  EXPECT_TRUE(rs->field("Name").isNull());
  rs->set("Name", "b");
  rs->set("mscode", "10000");
  rs->update();
  EXPECT_EQ(rs->field("Name"), Value("a"));
  EXPECT_EQ(rs->recordCount(), 2);
  rs->moveFirst();  // the new record takes its place in the index order
  EXPECT_EQ(walk(*rs, "Name"), (std::vector<std::string>{"b", "a"}));
}

TEST_F(StoreEdit, DefinedTableHasItsFieldsAndIndexesOrIsNotCreatedAtAll) {
  TableDef broken{"bags", {"Bag Number"}, {{"Key2", {"Label Number"}, false, false}}};
  EXPECT_EQ(faultOf([&] { db->appendTableDef(broken); }), Fault::Engine);
  EXPECT_TRUE(fixture.scalar("SELECT name FROM sqlite_master WHERE name LIKE 'bags%'").isNull());

  TableDef bags{"bags",
                {"Bag Number", "Label Start", "Label Number", "Bundle Number", "Seq"},
                {{"PrimaryKey", {"Bag Number"}, true, true}, {"Key2", {"Label Number"}, false, false}}};
  EXPECT_EQ(faultOf([&] { db->execute("DROP TABLE[bags]"); }), Fault::NotFound);
  db->appendTableDef(bags);
  EXPECT_EQ(faultOf([&] { db->appendTableDef(bags); }), Fault::Engine);  // it exists now
  auto columns = fixture.query("PRAGMA table_info(bags)");
  ASSERT_EQ(columns.size(), 5u);
  for (std::size_t i = 0; i < 5; ++i) {
    EXPECT_EQ(columns[i]["name"], Value(bags.fields[i]));
    EXPECT_EQ(columns[i]["type"], Value("REAL"));
  }

  auto b = db->openTable("bags");
  auto add = [&](double bag, double label) {
    b->addNew();
    b->set("Bag Number", bag);
    b->set("Label Number", label);
    b->update();
  };
  add(1, 10);
  add(2, 10);                                              // Key2 is not unique
  EXPECT_EQ(faultOf([&] { add(1, 11); }), Fault::Engine);  // PrimaryKey is
  b->cancelUpdate();
  EXPECT_EQ(b->recordCount(), 2);
  b->setIndex("Key2");
  b->setIndex("PrimaryKey");
  b->seek(2);
  ASSERT_FALSE(b->noMatch());
  EXPECT_EQ(b->field("Label Number"), Value(10.0));

  // Dropped and defined again: empty, same layout.
  db->execute("DROP TABLE[bags]");
  EXPECT_EQ(faultOf([&] { db->openTable("bags"); }), Fault::NotFound);
  db->appendTableDef(bags);
  EXPECT_EQ(db->openTable("bags")->recordCount(), 0);
  EXPECT_EQ(
      fixture.scalar("SELECT count(*) FROM pragma_index_list('bags') WHERE origin = 'pk' AND \"unique\""),
      Value(1.0));
  EXPECT_EQ(fixture.scalar("SELECT \"unique\" FROM pragma_index_list('bags') WHERE name = 'bags_Key2'"),
            Value(0.0));
}

}  // namespace
}  // namespace ms::store
