// Saving through a recordset: the engine's conversions, pending edits,
// appended records, and tables defined and dropped by the program.
#include <gtest/gtest.h>

#include "store/database.h"
#include "store/recordset.h"
#include "store_test_support.h"
#include "support/fixture_db.h"

namespace ms::store {
namespace {

using ms::testing::FixtureDb;
using ms::testing::TempDir;

class StoreEdit : public ::testing::Test {
 protected:
  void SetUp() override {
    fixture.insert("kvwork", {{"Name", "a"}, {"mscode", "12345"}, {"seq", 5.0}, {"rgcode", "07"}});
    db = Database::open(fixture.path(), OpenMode::Shared);
    rs = db->openTable("kvwork");
  }
  Value stored(const std::string& column) { return fixture.scalar("SELECT \"" + column + "\" FROM kvwork"); }
  std::string storedType(const std::string& column) {
    return fixture.scalar("SELECT typeof(\"" + column + "\") FROM kvwork").text();
  }

  TempDir dir;
  FixtureDb fixture{dir.path()};
  std::unique_ptr<Database> db;
  std::unique_ptr<Recordset> rs;
};

TEST_F(StoreEdit, ValuesAreConvertedToTheFieldType) {
  rs->edit();
  rs->set("mscode", 0.1 + 0.2);  // a number into a text field: its plain text
  rs->set("rgcode", 99);
  rs->set("seq", " 7012345 ");  // a numeric text into a number field
  rs->set("sflag", Value());
  EXPECT_EQ(rs->field("mscode"), Value("0.3"));  // the pending value, already converted
  EXPECT_EQ(rs->field("seq"), Value(7012345.0));
  rs->update();
  db->close();
  EXPECT_EQ(stored("mscode"), Value("0.3"));
  EXPECT_EQ(storedType("mscode"), "text");
  EXPECT_EQ(stored("rgcode"), Value("99"));
  EXPECT_EQ(stored("seq"), Value(7012345.0));
  EXPECT_EQ(storedType("seq"), "real");
  EXPECT_TRUE(stored("sflag").isNull());
}

TEST_F(StoreEdit, ATextThatIsNoNumberLeavesANumberFieldAsItWas) {
  rs->edit();
  for (const char* bad : {"abc", "", "12a", "1 2"})
    EXPECT_EQ(faultOf([&] { rs->set("seq", bad); }), Fault::TypeMismatch) << bad;
  EXPECT_EQ(rs->field("seq"), Value(5.0));
  rs->set("sflag", "Y");  // the rest of the edit is saved
  rs->update();
  db->close();
  EXPECT_EQ(stored("seq"), Value(5.0));
  EXPECT_EQ(stored("sflag"), Value("Y"));
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
  EXPECT_EQ(rs->field("Name").text(), "a");
  rs->addNew();
  EXPECT_TRUE(rs->field("Name").isNull());
  rs->set("Name", "b");
  rs->set("mscode", "10000");
  rs->update();
  EXPECT_EQ(rs->field("Name").text(), "a");
  EXPECT_EQ(rs->recordCount(), 2);
  rs->moveFirst();  // the new record takes its place in the index order
  EXPECT_EQ(walk(*rs, "Name"), (std::vector<std::string>{"b", "a"}));
}

TEST_F(StoreEdit, DefinedTableHasItsFieldsAndIndexes) {
  TableDef bags{"bags",
                {"Bag Number", "Label Start", "Label Number", "Bundle Number", "Seq"},
                {{"PrimaryKey", {"Bag Number"}, true, true}, {"Key2", {"Label Number"}, false, false}}};
  EXPECT_EQ(faultOf([&] { db->execute("DROP TABLE[bags]"); }), Fault::NotFound);
  db->appendTableDef(bags);
  EXPECT_EQ(faultOf([&] { db->appendTableDef(bags); }), Fault::Engine);  // it exists now

  auto columns = fixture.query("PRAGMA table_info(bags)");
  ASSERT_EQ(columns.size(), 5u);
  for (std::size_t i = 0; i < 5; ++i) {
    EXPECT_EQ(columns[i]["name"].text(), bags.fields[i]);
    EXPECT_EQ(columns[i]["type"].text(), "REAL");
  }

  auto b = db->openTable("bags");
  b->setIndex("PrimaryKey");
  b->setIndex("Key2");
  auto add = [&](double bag, double label) {
    b->addNew();
    b->set("Bag Number", bag);
    b->set("Label Number", label);
    b->update();
  };
  add(1, 10);
  add(2, 10);  // Key2 is not unique
  EXPECT_EQ(faultOf([&] { add(1, 11); }), Fault::Engine);
  b->cancelUpdate();
  EXPECT_EQ(b->recordCount(), 2);
  b->setIndex("PrimaryKey");
  b->seek(2);
  ASSERT_FALSE(b->noMatch());
  EXPECT_EQ(b->field("Label Number").number(), 10.0);

  // Dropped and defined again: empty, same layout.
  b.reset();
  db->execute("DROP TABLE[bags]");
  EXPECT_EQ(faultOf([&] { db->openTable("bags"); }), Fault::NotFound);
  db->appendTableDef(bags);
  EXPECT_EQ(db->openTable("bags")->recordCount(), 0);
  EXPECT_EQ(
      fixture.scalar("SELECT count(*) FROM pragma_index_list('bags') WHERE origin = 'pk' AND \"unique\"")
          .number(),
      1.0);
  EXPECT_EQ(
      fixture.scalar("SELECT \"unique\" FROM pragma_index_list('bags') WHERE name = 'bags_Key2'").number(),
      0.0);
}

TEST_F(StoreEdit, AFailingDefinitionCreatesNothing) {
  TableDef broken{"bags", {"Bag Number"}, {{"Key2", {"Label Number"}, false, false}}};
  EXPECT_EQ(faultOf([&] { db->appendTableDef(broken); }), Fault::Engine);
  EXPECT_EQ(faultOf([&] { db->openTable("bags"); }), Fault::NotFound);
  EXPECT_TRUE(fixture.scalar("SELECT name FROM sqlite_master WHERE name = 'bags'").isNull());
}

}  // namespace
}  // namespace ms::store
