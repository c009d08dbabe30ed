// The file as the suite creates it, and the field values read from it.
#include <gtest/gtest.h>

#include <fstream>
#include <map>

#include "store_test_support.h"

namespace ms::store {
namespace {

using StoreContract = StoreTest;

TEST_F(StoreContract, EveryTableOpensAndFieldNamesIgnoreCase) {
  fixture.insertParameters({{"Weight", 95.0}, {"service", "M1"}});
  fixture.insert("kvwork", {{"mscode", "1"}});
  db = open();
  for (const char* table : {"parmcode", "kvwork", "region", "pcode", "sequence", "label", "poprice", "price"})
    EXPECT_NO_THROW(db->openTable(table)) << table;
  for (const char* table : {"region", "pcode", "sequence", "label", "price"})
    EXPECT_NO_THROW(db->openTable(table)->setIndex("PrimaryKey")) << table;
  auto work = db->openTable("kvwork");
  EXPECT_TRUE(work->field("rscode").isNull());
  EXPECT_EQ(faultOf([&] { work->setIndex("Key3"); }), Fault::NotFound);
  EXPECT_EQ(faultOf([&] { db->openTable("nosuchtable"); }), Fault::NotFound);

  auto parm = db->openTable("parmcode");
  EXPECT_EQ(parm->field("weight"), Value(95.0));
  EXPECT_EQ(parm->field("WEIGHT"), parm->field("Weight"));
  EXPECT_EQ(parm->field("Service"), Value("M1"));
  EXPECT_EQ(parm->field("company name"), Value("Acme Mailing Ltd"));
  EXPECT_EQ(faultOf([&] { parm->field("nosuchfield"); }), Fault::NotFound);

  auto region = db->openTable("region");  // empty: no current record
  EXPECT_TRUE(region->eof() && region->bof());
  EXPECT_EQ(faultOf([&] { region->field("mdreg"); }), Fault::NoCurrentRecord);
  EXPECT_EQ(faultOf([&] { region->edit(); }), Fault::NoCurrentRecord);
  EXPECT_EQ(faultOf([&] { region->moveNext(); }), Fault::NoCurrentRecord);
  EXPECT_EQ(faultOf([&] { region->seek("123"); }), Fault::Engine);  // no index chosen

  db->close();
  EXPECT_THROW(parm->field("weight"), RunError);
  EXPECT_THROW(db->openTable("parmcode"), RunError);
}

TEST_F(StoreContract, ReferenceKeysIgnoreTrailingBlanks) {
  fixture.insert("region", {{"code", "123"}, {"mdreg", 7.0}});
  fixture.insert("region", {{"code", "12"}, {"mdreg", 5.0}});
  fixture.insert("price", {{"code", "M1"}, {"LeBase1", 20.5}});
  fixture.insert("price", {{"code", "M1 120"}, {"LeBase1", 18.0}});
  db = open();
  const std::vector<std::tuple<std::string, Value, Value>> cases = {
      // table, key, found (Null: no match)
      {"region", "123", 7.0}, {"region", "123 ", 7.0},   {"region", "123   ", 7.0}, {"region", 123, 7.0},
      {"region", "12 ", 5.0}, {"price", "M1    ", 20.5}, {"price", "M1 120", 18.0}, {"region", " 123", {}},
      {"region", "1234", {}}, {"region", "1", {}},       {"region", "", {}},        {"region", {}, {}}};
  std::map<std::string, std::unique_ptr<Recordset>> tables;
  for (const char* table : {"region", "price"})
    (tables[table] = db->openTable(table))->setIndex("PrimaryKey");
  for (const auto& [table, key, found] : cases) {
    SCOPED_TRACE(table + " [" + key.textOrEmpty() + "]");
    Recordset& reference = *tables[table];
    reference.seek(key);
    ASSERT_EQ(reference.noMatch(), found.isNull());
    EXPECT_EQ(found.isNull() ? found : reference.field(table == "region" ? "mdreg" : "lebase1"), found);
  }
}

TEST_F(StoreContract, OnlyAnExistingDatabaseFileOpens) {
  std::string missing = dir.file("nothere.mdb");
  EXPECT_EQ(faultOf([&] { Database::open(missing, OpenMode::Shared); }), Fault::NotFound);
  EXPECT_EQ(faultOf([&] { Database::open(missing, OpenMode::Exclusive); }), Fault::NotFound);
  EXPECT_FALSE(std::ifstream(missing).good());  // never created
  std::ofstream(dir.file("notes.mdb"))
      << "not a database at all, just some text that is long enough to be read";
  EXPECT_EQ(faultOf([&] { Database::open(dir.file("notes.mdb"), OpenMode::Shared); }), Fault::Damaged);
  std::ofstream(dir.file("empty.mdb")).flush();  // opens, but holds no table at all
  auto empty = Database::open(dir.file("empty.mdb"), OpenMode::Shared);
  try {
    empty->openTable("kvwork");
    ADD_FAILURE() << "an empty file gave a table";
  } catch (const RunError& e) {
    EXPECT_EQ(e.fault(), Fault::NotFound);
    EXPECT_NE(std::string(e.what()).find("empty.mdb is empty: not a Mailsort Database"), std::string::npos);
  }
}

TEST(ValueText, PlainTextStrictNumberNullAndFlags) {
  const std::vector<std::pair<double, const char*>> plain = {
      {0.1 + 0.2, "0.3"}, {7012345.0, "7012345"},         {-1.5, "-1.5"},
      {-0.0, "0"},        {2.0 / 3, "0.666666666666667"}, {123456789012345.0, "123456789012345"},
      {0.0001, "0.0001"}};
  for (const auto& [number, text] : plain) EXPECT_EQ(plainText(number), text);
  EXPECT_EQ(strictNumber(plainText(1e-5)), 1e-5);  // read back as the same number
  EXPECT_EQ(strictNumber(plainText(1e15)), 1e15);

  const std::vector<std::pair<const char*, double>> numbers = {
      {" 12 ", 12}, {"\t-1.5", -1.5}, {"+2", 2}, {"1e3", 1000}, {".5", 0.5}};
  for (const auto& [text, number] : numbers) EXPECT_EQ(strictNumber(text), number) << text;
  for (const char* bad : {"", " ", "abc", "12a", "1 2", "1,5", "--1", "1e", ".", "inf", "nan", "0x10"})
    EXPECT_EQ(faultOf([&] { strictNumber(bad); }), Fault::TypeMismatch) << "[" << bad << "]";
  EXPECT_EQ(faultOf([&] { strictNumber("1e999"); }), Fault::Overflow);
  EXPECT_EQ(faultOf([] { Value().number(); }), Fault::InvalidUseOfNull);
  EXPECT_EQ(faultOf([] { Value().text(); }), Fault::InvalidUseOfNull);
  EXPECT_EQ(Value().textOrEmpty(), "");
  EXPECT_TRUE(isY(Value("Y")));
  for (const Value& other : {Value("y"), Value("N "), Value("Y "), Value(), Value(1)})
    EXPECT_FALSE(isY(other));
}

}  // namespace
}  // namespace ms::store
