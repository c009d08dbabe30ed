// Walking a table in the order of a named index, and rewriting the key that
// is walked without losing or revisiting records.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>

#include "store/database.h"
#include "store/recordset.h"
#include "store_test_support.h"
#include "support/fixture_db.h"

namespace ms::store {
namespace {

using ms::testing::FixtureDb;
using ms::testing::TempDir;
using Strings = std::vector<std::string>;

class StoreOrder : public ::testing::Test {
 protected:
  void work(const std::string& name, const std::string& mscode, const Value& seq = Value()) {
    fixture.insert("kvwork", {{"Name", name}, {"mscode", mscode}, {"seq", seq}});
  }
  TempDir dir;
  FixtureDb fixture{dir.path()};
};

TEST_F(StoreOrder, NamedIndexesOrderTheWalkAndEqualKeysKeepRowidOrder) {
  work("a", "13000", 2.0);
  work("b", "1", 9.0);
  work("c", "12345", 2.0);
  work("d", "12345", 1.0);
  work("e", "12345", 2.0);
  work("f", "1", Value());
  auto db = Database::open(fixture.path(), OpenMode::Shared);
  auto rs = db->openTable("kvwork");

  EXPECT_EQ(walk(*rs, "Name"), (Strings{"a", "b", "c", "d", "e", "f"}));  // no index: as stored
  rs->setIndex("Key1");
  EXPECT_EQ(walk(*rs, "Name"), (Strings{"b", "f", "c", "d", "e", "a"}));
  rs->setIndex("Key2");  // (seq, mscode); Null first
  EXPECT_EQ(walk(*rs, "Name"), (Strings{"f", "d", "c", "e", "a", "b"}));

  for (const char* code : {"300", "100", "200"}) fixture.insert("region", {{"code", code}, {"mdreg", 1.0}});
  auto region = db->openTable("region");
  region->setIndex("PrimaryKey");
  EXPECT_EQ(walk(*region, "code"), (Strings{"100", "200", "300"}));

  rs->moveLast();
  EXPECT_EQ(rs->field("Name").text(), "b");
  rs->moveNext();
  EXPECT_TRUE(rs->eof());
  rs->moveFirst();
  EXPECT_EQ(rs->field("Name").text(), "f");
  EXPECT_EQ(rs->recordCount(), 6);
}

TEST_F(StoreOrder, RewritingTheWalkedKeyVisitsEveryRecordOnce) {
  const Strings codes = {"500", "100", "300", "100", "900", "200", "1", "300"};
  for (std::size_t i = 0; i < codes.size(); ++i) work("n" + std::to_string(i), codes[i]);
  auto db = Database::open(fixture.path(), OpenMode::Shared);
  auto rs = db->openTable("kvwork");
  rs->setIndex("Key1");

  // Each visited key moves behind every other ("9..."), or before ("0...").
  std::map<std::string, int> visits;
  Strings order;
  for (rs->moveFirst(); !rs->eof(); rs->moveNext()) {
    std::string name = rs->field("Name").text();
    ++visits[name];
    order.push_back(rs->field("mscode").text());
    rs->edit();
    rs->set("mscode", (visits.size() % 2 ? "9" : "0") + rs->field("mscode").text());
    rs->update();
  }
  EXPECT_EQ(visits.size(), codes.size());
  for (const auto& [name, count] : visits) EXPECT_EQ(count, 1) << name;
  EXPECT_TRUE(std::is_sorted(order.begin(), order.end()));
  EXPECT_EQ(fixture.scalar("SELECT count(*) FROM kvwork WHERE mscode LIKE '9%' OR mscode LIKE '0%'").number(),
            8.0);

  // A new choice of the index sees the keys as they now stand.
  rs->setIndex("Key1");
  rs->moveFirst();
  EXPECT_EQ(rs->field("mscode").text().substr(0, 1), "0");
}

// The allocation's walk: count along Key1, and when a small selection ends,
// seek back to its first record and recode the selection to its residue
// code while walking it; the walk ends on the record that ended the count.
TEST_F(StoreOrder, SeekThenRecodingOneSelectionEndsOnTheRecordAfterIt) {
  work("a", "1");
  work("b", "12399");
  work("c", "12345");
  work("d", "12399");
  work("e", "12345");
  work("f", "13000");
  work("g", "12399");
  auto db = Database::open(fixture.path(), OpenMode::Shared);
  auto rs = db->openTable("kvwork");
  rs->setIndex("Key1");

  rs->moveFirst();
  rs->moveNext();  // c, the first 12345
  rs->moveNext();
  rs->moveNext();  // b, the first 12399: selection 12345 has ended
  ASSERT_EQ(rs->field("Name").text(), "b");

  rs->seek("12345");
  ASSERT_FALSE(rs->noMatch());
  EXPECT_EQ(rs->field("Name").text(), "c");
  std::string prevcode = "12345";
  Strings recoded;
  while (!rs->eof() && rs->field("mscode").text() == prevcode) {
    recoded.push_back(rs->field("Name").text());
    rs->edit();
    rs->set("mscode", prevcode.substr(0, 3));
    rs->set("sflag", "Y");
    rs->update();
    rs->moveNext();
  }
  EXPECT_EQ(recoded, (Strings{"c", "e"}));
  ASSERT_FALSE(rs->eof());
  EXPECT_EQ(rs->field("Name").text(), "b");  // where the count left off
  EXPECT_EQ(walk(*rs, "Name"), (Strings{"b", "d", "g", "f"}));

  // The recoded records now sort before the selections they came from, and
  // a seek for the residue code finds them.
  rs->setIndex("Key1");
  EXPECT_EQ(walk(*rs, "Name"), (Strings{"a", "c", "e", "b", "d", "g", "f"}));
  rs->seek("123");
  EXPECT_EQ(rs->field("Name").text(), "c");
  rs->seek("12345");
  EXPECT_TRUE(rs->noMatch());
  EXPECT_TRUE(rs->eof());
}

TEST_F(StoreOrder, RecordsThatVanishDuringAWalkAreSkipped) {
  for (const char* name : {"a", "b", "c", "d"}) work(name, "100");
  auto db = Database::open(fixture.path(), OpenMode::Shared);
  auto rs = db->openTable("kvwork");
  rs->setIndex("Key1");
  rs->moveFirst();
  fixture.exec("DELETE FROM kvwork WHERE Name IN ('b', 'c')");
  rs->moveNext();
  EXPECT_EQ(rs->field("Name").text(), "d");
  fixture.exec("DELETE FROM kvwork WHERE Name = 'd'");
  rs->edit();  // a save to a vanished record fails
  rs->set("seq", 1);
  EXPECT_EQ(faultOf([&] { rs->update(); }), Fault::NoCurrentRecord);
  rs->moveNext();
  EXPECT_TRUE(rs->eof());
}

}  // namespace
}  // namespace ms::store
