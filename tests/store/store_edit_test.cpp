// Saving through a recordset: the engine's conversions, pending edits,
// appended records, and tables defined and dropped by the program.
#include <gtest/gtest.h>

#include "store_test_support.h"

namespace ms::store {
namespace {

class StoreEdit : public StoreTest {
 protected:
  void SetUp() override {
    work("a", "12345", 5.0);
    openWork();
  }
  // Fields of the work record as the file holds them, as SQL literals ("'0.3'", "5.0", "NULL").
  std::string stored(const Strings& fields) {
    std::string sql = "''";
    for (const auto& field : fields) sql += " || quote(" + field + ") || ' '";
    return fixture.scalar("SELECT " + sql + " FROM kvwork").text();
  }
};

TEST_F(StoreEdit, ValuesAreConvertedToTheFieldTypeAndBadNumbersLeaveTheField) {
  rs->edit();
  rs->set("mscode", 0.1 + 0.2);  // a number into a text field: its plain text
  rs->set("rgcode", 99);
  rs->set("sflag", Value());
  rs->set("Address1", " 7012345 ");              // a text field keeps the text as it is
  EXPECT_EQ(rs->field("mscode"), Value("0.3"));  // the pending value, already converted
  for (const char* bad : {"abc", "", "12a"})
    EXPECT_EQ(faultOf([&] { rs->set("seq", bad); }), Fault::TypeMismatch) << bad;
  EXPECT_EQ(rs->field("seq"), Value(5.0));
  rs->update();
  db->close();
  EXPECT_EQ(stored({"mscode", "rgcode", "seq", "Address1", "sflag"}), "'0.3' '99' 5.0 ' 7012345 ' NULL ");

  openWork();
  save(*rs, {{"seq", " 7012345 "}});  // a numeric text into a number field
  db->close();
  EXPECT_EQ(stored({"seq"}), "7012345.0 ");
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
  save(*rs, {{"SFLAG", "Y"}});
  db->close();
  EXPECT_EQ(stored({"sflag"}), "'Y' ");
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
  EXPECT_EQ(walk(*rs, "Name"), (Strings{"b", "a"}));
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
  EXPECT_EQ(fixture.scalar("SELECT group_concat(name || ':' || type, ',') FROM pragma_table_info('bags')"),
            Value("Bag Number:REAL,Label Start:REAL,Label Number:REAL,Bundle Number:REAL,Seq:REAL"));

  auto b = db->openTable("bags");
  save(*b, {{"Bag Number", 1}, {"Label Number", 10}}, true);
  save(*b, {{"Bag Number", 2}, {"Label Number", 10}}, true);  // Key2 is not unique
  EXPECT_EQ(faultOf([&] { save(*b, {{"Bag Number", 1}, {"Label Number", 11}}, true); }), Fault::Engine);
  b->cancelUpdate();
  EXPECT_EQ(b->recordCount(), 2);

  db->execute("DROP TABLE[bags]");
  EXPECT_EQ(faultOf([&] { db->openTable("bags"); }), Fault::NotFound);
  db->appendTableDef(bags);  // defined again: empty
  EXPECT_EQ(db->openTable("bags")->recordCount(), 0);
}

}  // namespace
}  // namespace ms::store
