// Walking a table in the order of a named index, and rewriting the key that
// is walked without losing or revisiting records.
#include <gtest/gtest.h>
#include <malloc.h>

#include <algorithm>
#include <map>

#include "store_test_support.h"

namespace ms::store {
namespace {

using StoreOrder = StoreTest;

TEST_F(StoreOrder, NamedIndexesOrderTheWalkAndEqualKeysKeepRowidOrder) {
  const std::vector<std::tuple<const char*, const char*, Value>> rows = {
      {"a", "13000", 2.0}, {"b", "1", 9.0},     {"c", "12345", 2.0},
      {"d", "12345", 1.0}, {"e", "12345", 2.0}, {"f", "1", Value()}};
  for (const auto& [name, mscode, seq] : rows) work(name, mscode, seq);
  for (const char* code : {"300", "100", "200"}) fixture.insert("region", {{"code", code}, {"mdreg", 1.0}});
  openWork();
  EXPECT_EQ(walk(*rs, "Name"), (Strings{"a", "b", "c", "d", "e", "f"}));  // no index: as stored
  rs->setIndex("Key1");
  EXPECT_EQ(walk(*rs, "Name"), (Strings{"b", "f", "c", "d", "e", "a"}));
  rs->setIndex("Key2");  // (seq, mscode); Null first
  EXPECT_EQ(walk(*rs, "Name"), (Strings{"f", "d", "c", "e", "a", "b"}));
  rs->moveLast();
  EXPECT_EQ(rs->field("Name").text(), "b");
  rs->moveFirst();
  EXPECT_EQ(rs->field("Name").text(), "f");
  auto region = db->openTable("region");
  region->setIndex("PrimaryKey");
  EXPECT_EQ(walk(*region, "code"), (Strings{"100", "200", "300"}));
}

// A walk goes on from the key its record had: rewriting it to a key that
// sorts before (a residue code is a prefix of its code) visits every record
// once; a record rewritten to a key after it is met again there.
TEST_F(StoreOrder, RewritingTheWalkedKeyMovesOnFromTheOldKey) {
  const Strings codes = {"500", "100", "300", "100", "900", "200", "1", "300"};
  for (std::size_t i = 0; i < codes.size(); ++i) work("n" + std::to_string(i), codes[i]);
  openWork("Key1");
  std::map<std::string, int> visits;
  Strings order;
  for (rs->moveFirst(); !rs->eof(); rs->moveNext()) {
    ++visits[rs->field("Name").text()];
    order.push_back(rs->field("mscode").text());
    save(*rs, {{"mscode", rs->field("mscode").text().substr(0, 1)}});
  }
  EXPECT_EQ(visits.size(), codes.size());
  for (const auto& [name, count] : visits) EXPECT_EQ(count, 1) << name;
  EXPECT_TRUE(std::is_sorted(order.begin(), order.end()));
  rs->seek("3");
  save(*rs, {{"mscode", "99"}});                                         // after every other key
  EXPECT_EQ(walk(*rs, "mscode"), (Strings{"99", "3", "5", "9", "99"}));  // met again at its new key
}

// Count along Key1; when a selection ends, seek back to its first record and
// recode it while walking it: the walk ends on the record that ended the count.
TEST_F(StoreOrder, SeekThenRecodingOneSelectionEndsOnTheRecordAfterIt) {
  const Strings codes = {"1", "12399", "12345", "12399", "12345", "13000", "12399"};
  for (std::size_t i = 0; i < codes.size(); ++i) work(std::string(1, char('a' + i)), codes[i]);
  openWork("Key1");
  for (int i = 0; i < 3; ++i) rs->moveNext();
  ASSERT_EQ(rs->field("Name").text(), "b");  // the first 12399: selection 12345 has ended

  rs->seek("12345");
  ASSERT_FALSE(rs->noMatch());
  Strings recoded;
  while (!rs->eof() && rs->field("mscode").text() == "12345") {
    recoded.push_back(rs->field("Name").text());
    save(*rs, {{"mscode", "123"}, {"sflag", "Y"}});
    rs->moveNext();
  }
  EXPECT_EQ(recoded, (Strings{"c", "e"}));
  EXPECT_EQ(walk(*rs, "Name"), (Strings{"b", "d", "g", "f"}));  // from where the count left off

  rs->setIndex("Key1");  // the recoded records now sort before their old selection
  EXPECT_EQ(walk(*rs, "Name"), (Strings{"a", "c", "e", "b", "d", "g", "f"}));
  rs->seek("123");
  EXPECT_EQ(rs->field("Name").text(), "c");
  rs->seek("12345");
  EXPECT_TRUE(rs->noMatch() && rs->eof());
}

// A walk keeps nothing of the records it has passed: at the end of 200,000
// records the cursor holds little more than one row (the engine's page
// cache, bounded, belongs to the open database).
TEST_F(StoreOrder, AWalkKeepsItsSizeHoweverLong) {
  fixture.exec(
      "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 200000) "
      "INSERT INTO kvwork(mscode, Name) SELECT CAST(i % 977 AS TEXT), 'A Person' FROM n");
  openWork("Key1");
  std::size_t records = 0;
  for (; !rs->eof(); rs->moveNext()) ++records;
  EXPECT_EQ(records, 200000u);
  const auto walking = mallinfo2().uordblks;
  rs.reset();
  EXPECT_LT(walking - mallinfo2().uordblks, 512u * 1024);
}

TEST_F(StoreOrder, RecordsThatVanishDuringAWalkAreSkipped) {
  for (const char* name : {"a", "b", "c", "d"}) work(name, "100");
  openWork("Key1");
  fixture.exec("DELETE FROM kvwork WHERE Name IN ('b', 'c')");
  rs->moveNext();
  EXPECT_EQ(rs->field("Name").text(), "d");
  fixture.exec("DELETE FROM kvwork WHERE Name = 'd'");
  rs->edit();
  rs->set("seq", 1);
  EXPECT_EQ(faultOf([&] { rs->update(); }), Fault::NoCurrentRecord);  // its record is gone
  rs->moveNext();
  EXPECT_TRUE(rs->eof());
}

}  // namespace
}  // namespace ms::store
