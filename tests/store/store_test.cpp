// The store on both engines: records read, saved and walked in an index's
// order, a run's deferred work, and the file shared with other programs.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <malloc.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "store/connection.h"
#include "store/database.h"
#include "store/recordset.h"
#include "support/fixture_db.h"
#include "values/fault.h"

namespace ms::store {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using Strings = std::vector<std::string>;
using ms::testing::Engine;

// The error a statement fails with (a test failure when it does not fail).
RunError failure(const std::function<void()>& statement) {
  try {
    statement();
  } catch (const RunError& e) {
    return e;
  }
  ADD_FAILURE() << "the statement did not fail";
  return RunError(Fault::Engine, "");
}
Fault faultOf(const std::function<void()>& statement) { return failure(statement).fault(); }

// The values of one field from the current record to the end.
Strings walk(Recordset& recordset, const std::string& field) {
  Strings seen;
  for (; !recordset.eof(); recordset.moveNext()) seen.push_back(recordset.field(field).textOrEmpty());
  return seen;
}

// Saves `fields` into the current record, or into a new one when `append`.
void save(Recordset& recordset, const ms::testing::Row& fields, bool append = false) {
  append ? recordset.addNew() : recordset.edit();
  for (const auto& [name, value] : fields) recordset.set(name, value);
  recordset.update();
}

// A fresh database made from the suite schema, on the engine of the parameter.
class StoreTest : public ::testing::TestWithParam<Engine> {
 protected:
  void SetUp() override {
    if (const std::string missing = ms::testing::engineMissing(GetParam()); !missing.empty())
      GTEST_SKIP() << missing;
    fixture = std::make_unique<ms::testing::FixtureDb>(GetParam(), dir.path());
  }
  bool onSqlite() const { return GetParam() == Engine::Sqlite; }
  void work(const std::string& name, const std::string& mscode, const Value& seq = Value()) {
    fixture->insert("kvwork", {{"Name", name}, {"mscode", mscode}, {"seq", seq}});
  }
  void addWork(int count) {  // mscode "10000", "10001", ...
    fixture->exec("WITH RECURSIVE n(i) AS (SELECT 10000 UNION ALL SELECT i + 1 FROM n WHERE i < " +
                  std::to_string(9999 + count) +
                  ") INSERT INTO kvwork(mscode) SELECT CAST(i AS TEXT) FROM n");
  }
  double count(const std::string& where) {
    return fixture->scalar("SELECT count(*) FROM kvwork WHERE " + where).number();
  }
  auto open(OpenMode mode = OpenMode::Shared) { return Database::open(fixture->path(), mode); }
  // Opens the file into `db` and its work table into `rs`, in the order of `index` if one is named.
  void openWork(const std::string& index = "") {
    db = open();
    rs = db->openTable("kvwork");
    if (!index.empty()) rs->setIndex(index);
  }
  ms::testing::TempDir dir;
  std::unique_ptr<ms::testing::FixtureDb> fixture;
  std::unique_ptr<Database> db;
  std::unique_ptr<Recordset> rs;
};

TEST_P(StoreTest, FieldNamesIgnoreCaseAndAnEmptyTableHasNoCurrentRecord) {
  fixture->insertParameters({{"Weight", 95.0}, {"service", "M1"}});
  fixture->insert("kvwork", {{"mscode", "1"}});
  db = open();
  auto work = db->openTable("kvwork");
  EXPECT_TRUE(work->field("rscode").isNull());
  EXPECT_EQ(faultOf([&] { work->setIndex("Key3"); }), Fault::NotFound);
  EXPECT_EQ(faultOf([&] { db->openTable("nosuchtable"); }), Fault::NotFound);

  auto parm = db->openTable("parmcode");
  EXPECT_EQ((std::vector{parm->field("weight"), parm->field("Service"), parm->field("company name")}),
            (std::vector<Value>{95.0, "M1", "Acme Mailing Ltd"}));
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

TEST_P(StoreTest, ReferenceKeysIgnoreTrailingBlanks) {
  fixture->insert("region", {{"code", "123"}, {"mdreg", 7.0}});
  fixture->insert("region", {{"code", "12"}, {"mdreg", 5.0}});
  fixture->insert("price", {{"code", "M1"}, {"LeBase1", 20.5}});
  fixture->insert("price", {{"code", "M1 120"}, {"LeBase1", 18.0}});
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
    ASSERT_EQ(std::pair(reference.noMatch(), reference.eof()), std::pair(found.isNull(), found.isNull()));
    EXPECT_EQ(found.isNull() ? found : reference.field(table == "region" ? "mdreg" : "lebase1"), found);
  }
}

TEST(StoreFile, OnlyAnExistingDatabaseFileOpens) {
  ms::testing::TempDir dir;
  std::string missing = dir.file("nothere.mdb");
  EXPECT_EQ(faultOf([&] { Database::open(missing, OpenMode::Shared); }), Fault::NotFound);
  EXPECT_EQ(faultOf([&] { Database::open(missing, OpenMode::Exclusive); }), Fault::NotFound);
  EXPECT_FALSE(std::ifstream(missing).good());  // never created
  std::ofstream(dir.file("notes.mdb"))
      << "not a database at all, just some text that is long enough to be read";
  EXPECT_EQ(faultOf([&] { Database::open(dir.file("notes.mdb"), OpenMode::Shared); }), Fault::Damaged);
}

TEST(ValueText, StrictNumberNullAndFlags) {
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

// Edits are saved only by update, converted to the field's type; a new
// record takes its place in the index order and the cursor stays where it was.
TEST_P(StoreTest, EditsAreConvertedAndSavedOnlyByUpdateAndAddNewAppends) {
  work("a", "12345", 5.0);
  openWork("Key1");
  EXPECT_EQ(faultOf([&] { rs->set("sflag", "Y"); }), Fault::Engine);
  EXPECT_EQ(faultOf([&] { rs->update(); }), Fault::Engine);
  for (const bool cancel : {true, false}) {  // cancelled, or dropped by moving away
    rs->edit(), rs->set("sflag", "Y");
    cancel ? rs->cancelUpdate() : rs->moveFirst();
    EXPECT_TRUE(rs->field("sflag").isNull());
  }
  EXPECT_EQ(faultOf([&] { rs->update(); }), Fault::Engine);
  save(*rs, {{"SFLAG", "Y"}}), db->flush();
  EXPECT_EQ(count("sflag = 'Y'"), 1);

  const ms::testing::Row set = {{"mscode", 0.1 + 0.2},  // a number into a text field: its plain text
                                {"rgcode", 99},
                                {"sflag", {}},
                                {"Address1", " 7012345 "},  // a text field keeps the text as it is
                                {"county", "O'Neil \"North\" \\ {x,y}"}};
  rs->edit();
  for (const auto& [field, value] : set) rs->set(field, value);
  EXPECT_EQ(rs->field("mscode"), Value("0.3"));  // the pending value, already converted
  for (const char* bad : {"abc", "", "12a"})
    EXPECT_EQ(faultOf([&] { rs->set("seq", bad); }), Fault::TypeMismatch) << bad;
  EXPECT_EQ(rs->field("seq"), Value(5.0));
  rs->update();
  db->close();
  const auto saved = ms::testing::withChanges(set, {{"mscode", "0.3"}, {"rgcode", "99"}, {"seq", 5.0}});
  const auto row = fixture->query("SELECT * FROM kvwork").at(0);
  for (const auto& [field, value] : saved) EXPECT_EQ(row.at(field), value) << field;  // texts, numbers, Null

  openWork();
  save(*rs, {{"seq", 1}});
  save(*rs, {{"seq", " 7012345 "}});  // a numeric text into a number field; the last save stands
  db->close();
  EXPECT_EQ(fixture->scalar("SELECT seq FROM kvwork"), Value(7012345.0));

  openWork("Key1");
  EXPECT_EQ(rs->field("Name"), Value("a"));
  rs->addNew();
  EXPECT_TRUE(rs->field("Name").isNull());
  rs->set("Name", "b"), rs->set("mscode", "0");  // before "0.3"
  rs->update();
  EXPECT_EQ(rs->field("Name"), Value("a"));
  EXPECT_EQ(rs->recordCount(), 2);
  rs->moveFirst();
  EXPECT_EQ(walk(*rs, "Name"), (Strings{"b", "a"}));
}

TEST_P(StoreTest, DefinedTableHasItsFieldsAndIndexesOrIsNotCreatedAtAll) {
  db = open();
  TableDef broken{"bags", {"Bag Number"}, {{"Key2", {"Label Number"}, false, false}}};
  EXPECT_EQ(faultOf([&] { db->appendTableDef(broken); }), Fault::Engine);
  EXPECT_EQ(faultOf([&] { db->openTable("bags"); }), Fault::NotFound);

  TableDef bags{"bags",
                {"Bag Number", "Label Start", "Label Number", "Bundle Number", "Seq"},
                {{"PrimaryKey", {"Bag Number"}, true, true}, {"Key2", {"Label Number"}, false, false}}};
  EXPECT_EQ(faultOf([&] { db->execute("DROP TABLE[bags]"); }), Fault::NotFound);
  db->appendTableDef(bags);
  EXPECT_EQ(faultOf([&] { db->appendTableDef(bags); }), Fault::Engine);  // it exists now

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

TEST_P(StoreTest, NamedIndexesOrderTheWalkAndEqualKeysKeepRowidOrder) {
  const std::vector<std::tuple<const char*, const char*, Value>> rows = {
      {"a", "13000", 2.0}, {"b", "1", 9.0},     {"c", "12345", 2.0},
      {"d", "12345", 1.0}, {"e", "12345", 2.0}, {"f", "1", Value()}};
  for (const auto& [name, mscode, seq] : rows) work(name, mscode, seq);
  for (const char* code : {"300", "100", "200"}) fixture->insert("region", {{"code", code}, {"mdreg", 1.0}});
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

// A walk goes on from the key its record had: a record rewritten to a key
// before it (a prefix) is not met again, one rewritten to a key after it is.
TEST_P(StoreTest, RewritingTheWalkedKeyMovesOnFromTheOldKey) {
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

  // In a two-field order, where the walk has read to the end of the key.
  rs->setIndex("Key2");  // (seq, mscode), every seq Null
  Strings seen;
  for (rs->moveFirst(); !rs->eof(); rs->moveNext()) {
    seen.push_back(rs->field("mscode").text());
    if (seen.back() == "2") save(*rs, {{"mscode", "999"}});
  }
  EXPECT_EQ(seen, (Strings{"1", "1", "1", "2", "3", "5", "9", "99", "999"}));
}

// A long walk reads with each row only the fields it asks for: a field asked
// now and then, for a while, or after a save is still the record's own.
TEST_P(StoreTest, AFieldAskedForNowAndThenInALongWalkIsTheRecordsOwn) {
  fixture->exec("BEGIN");  // one write of the file for the lot
  for (int i = 0; i < 3000; ++i) work("n" + std::to_string(i), std::to_string(100 + i % 7), i);
  fixture->exec("COMMIT");
  openWork("Key1");
  for (int i = 0; !rs->eof(); rs->moveNext(), ++i) {
    const std::string code = rs->field("mscode").text();
    if (i % 50 != 0 && (i < 1000 || i >= 2000)) continue;
    const int number = std::stoi(rs->field("Name").text().substr(1));
    EXPECT_EQ(code, std::to_string(100 + number % 7)) << i;
    if (i == 2100) {
      save(*rs, {{"sflag", "Y"}});
      EXPECT_EQ(rs->field("sflag").text(), "Y");
    }
    EXPECT_EQ(i >= 2100 ? rs->field("seq").number() : number, number);  // asked first late
  }
  rs->setIndex("Key2");  // the same fields, in another order
  for (int i = 0; i < 300; ++i, rs->moveNext()) EXPECT_EQ(rs->field("seq").number(), i);
}

// After 200,000 records the cursor holds no more than one read-ahead of rows.
TEST_P(StoreTest, AWalkKeepsItsSizeHoweverLong) {
  fixture->exec(
      "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 200000) "
      "INSERT INTO kvwork(mscode, \"Name\") SELECT CAST(i % 977 AS TEXT), 'A Person' FROM n");
  openWork("Key1");
  std::size_t records = 0;
  for (; !rs->eof(); rs->moveNext()) ++records;
  EXPECT_EQ(records, 200000u);
  const auto walking = mallinfo2().uordblks;
  rs.reset();
  EXPECT_LT(walking - mallinfo2().uordblks, 1024u * 1024);
}

// A run's dropped index (on SQLite) and kept-back saves, read as saved by
// every cursor: its commit writes them and builds the index, its rollback
// drops them and brings the index back.
TEST_P(StoreTest, ARunsDeferredIndexAndSavesLastOnlyWithTheRun) {
  const std::string region = "a region longer than a cell";
  for (const char* name : {"a", "b", "c", "d"}) work(name, "100");
  db = open();
  db->deferIndex("kvwork", "Key2");  // outside a run: nothing happens
  db->openTable("kvwork")->setIndex("Key2");
  auto saved = [&] {
    Strings seen;
    for (auto rows = db->openTable("kvwork"); !rows->eof(); rows->moveNext())
      seen.push_back(rows->field("seq").textOrEmpty() + "|" + rows->field("rgcode").textOrEmpty() + "|" +
                     rows->field("sflag").textOrEmpty());
    return seen;
  };
  const Strings after = {"3.5|99|", "|" + region + "|Y", "5|NE|", "||"};
  for (const bool commit : {false, true}) {
    db->beginRun();
    db->deferIndex("kvwork", "Key2");
    EXPECT_EQ(onSqlite() ? faultOf([&] { db->openTable("kvwork")->setIndex("Key2"); }) : Fault::NotFound,
              Fault::NotFound);
    db->deferSaves("kvwork", {"seq", "rgcode"}, 2);
    auto pass = db->openTable("kvwork");
    pass->setIndex("Key1");
    save(*pass, {{"seq", 3.5}, {"rgcode", 99}}), pass->moveNext();        // a
    save(*pass, {{"rgcode", region}, {"sflag", "Y"}}), pass->moveNext();  // b
    save(*pass, {{"seq", 1.0}, {"rgcode", "NE"}});                        // c: past the limit
    auto other = db->openTable("kvwork");
    for (int i = 0; i < 2; ++i) other->moveNext();
    EXPECT_EQ(other->field("rgcode").text(), "NE");
    save(*other, {{"seq", 5.0}});
    EXPECT_EQ(saved(), after);
    commit ? db->commitRun() : db->rollbackRun();
    EXPECT_EQ(saved(), commit ? after : (Strings{"||", "||", "||", "||"}));
    rs = db->openTable("kvwork");
    rs->setIndex("Key2");
    EXPECT_EQ(walk(*rs, "Name"), commit ? (Strings{"b", "d", "a", "c"}) : (Strings{"a", "b", "c", "d"}));
  }
  if (!onSqlite()) return;
  // The index is built to its end whatever the wait hook says.
  addWork(5000);
  db->beginRun();
  db->deferIndex("kvwork", "Key2");
  std::vector<std::chrono::milliseconds> waits;
  db->setWaitHook([&](auto waited, WaitReason) { return waits.push_back(waited), false; });
  db->writeDeferred();
  EXPECT_EQ(waits, std::vector<std::chrono::milliseconds>{0ms});
  db->openTable("kvwork")->setIndex("Key2");
  db->commitRun();
}

// A record whose kept-back saves hold any kind of value (untyped fields)
// reads as its last save, through a cursor and from the file after the commit.
TEST(StoreDeferredSaves, ARecordSavedAgainReadsAsTheLastSaveWhateverItsKind) {
  const std::string longText = "a text longer than eight bytes",
                    otherLong = "another long text, longer still";
  const std::tuple<Value, Value> cases[] = {
      {1.5, "abc"},     {"abc", Value()}, {Value(), 7.0},        {2.0, Value()},    {Value(), "xy"},
      {longText, "ab"}, {"ab", longText}, {longText, otherLong}, {longText, 3.0},   {4.0, longText},
      {"", 5.0},        {"12345678", ""}, {Value(), Value()},    {"text", "other"}, {6.0, 7.0}};
  ms::testing::TempDir dir;
  ms::testing::FixtureDb fixture(dir.path());
  fixture.exec("CREATE TABLE kept (n INTEGER, v, w)");
  const auto count = static_cast<int>(std::size(cases));
  for (int n = 0; n < count; ++n) fixture.insert("kept", {{"n", n}});
  auto db = Database::open(fixture.path(), OpenMode::Shared);
  db->beginRun();
  db->deferSaves("kept", {"v", "w"}, 100);
  auto pass = db->openTable("kept");
  for (const auto& [first, second] : cases) {
    save(*pass, {{"v", first}, {"w", first}});
    save(*pass, {{"v", second}});
    pass->moveNext();
  }
  auto check = [&](const std::function<Value(int, const char*)>& read) {
    for (int n = 0; n < count; ++n) {
      const auto& [first, second] = cases[n];
      SCOPED_TRACE(::testing::PrintToString(first) + " then " + ::testing::PrintToString(second));
      EXPECT_EQ((std::pair{read(n, "v"), read(n, "w")}), (std::pair{second, first}));
    }
  };
  auto reader = db->openTable("kept");
  check([&](int n, const char* field) {
    reader->moveFirst();
    for (int i = 0; i < n; ++i) reader->moveNext();
    return reader->field(field);
  });
  db->commitRun();
  db->close();
  check([&](int n, const char* field) {
    return fixture.scalar(std::string("SELECT ") + field + " FROM kept WHERE n = " + std::to_string(n));
  });
}

TEST_P(StoreTest, RecordsThatVanishDuringAWalkAreSkipped) {
  for (const char* name : {"a", "b", "c", "d"}) work(name, "100");
  openWork("Key1");
  fixture->exec("DELETE FROM kvwork WHERE \"Name\" IN ('b', 'c')");
  rs->moveNext();
  EXPECT_EQ(rs->field("Name").text(), "d");
  fixture->exec("DELETE FROM kvwork WHERE \"Name\" = 'd'");
  rs->edit(), rs->set("seq", 1);
  // Gone: the update fails, or (PostgreSQL's pipeline) the commit after it.
  EXPECT_EQ(faultOf([&] { rs->update(), db->flush(); }), Fault::NoCurrentRecord);
  rs->moveNext();
  EXPECT_TRUE(rs->eof());
}

void waitFor(const std::function<bool()>& condition) {
  for (auto until = Clock::now() + 5s; !condition() && Clock::now() < until;)
    std::this_thread::sleep_for(10ms);
}

// Runs `child` in a forked process; returns its pid (the child never returns).
pid_t spawn(const std::function<void()>& child) {
  std::fflush(nullptr);
  pid_t pid = ::fork();
  if (pid == 0) child(), ::_exit(0);
  return pid;
}

int reap(pid_t pid) {
  int status = 0;
  ::waitpid(pid, &status, 0);
  return status;
}

// Whether another process sees a lock keeping out an exclusive flock, or (engine) SQLite's shared lock.
bool lockedElsewhere(const std::string& path, bool engine = false) {
  return WEXITSTATUS(reap(spawn([&] {
           int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
           struct flock probe = {
               .l_type = F_WRLCK, .l_whence = SEEK_SET, .l_start = 0x40000000 + 2, .l_len = 510, .l_pid = 0};
           if (engine) ::fcntl(fd, F_GETLK, &probe);
           ::_exit(engine ? probe.l_type != F_UNLCK : ::flock(fd, LOCK_EX | LOCK_NB) != 0);
         }))) == 1;
}

TEST_P(StoreTest, OpensExcludeEachOtherAndAnotherProgramsSharedLock) {
  // Another program holds the database shared: a flock, or the server's shared gate lock.
  pid_t holder = 0;
  const std::string gate =
      "(hashtextextended('mailsort:' || current_database() || '.' || coalesce(current_schema(), ''), 0))";
  if (onSqlite()) {
    holder = spawn([&] {
      ::setpgid(0, 0);
      ::execlp("flock", "flock", "-s", fixture->path().c_str(), "sleep", "30", nullptr);
    });
    waitFor([&] { return lockedElsewhere(fixture->path()); });
    ASSERT_TRUE(lockedElsewhere(fixture->path()));
  } else {
    fixture->exec("SELECT pg_advisory_lock_shared" + gate);
  }
  const RunError inUse = failure([&] { open(OpenMode::Exclusive); });
  EXPECT_EQ(inUse.fault(), Fault::InUse);
  EXPECT_STREQ(inUse.what(), "database in use");
  EXPECT_NO_THROW(open());
  if (onSqlite()) {
    ::kill(-holder, SIGKILL);  // flock and its sleep
    reap(holder);
    waitFor([&] { return !lockedElsewhere(fixture->path()); });
  } else {
    fixture->exec("SELECT pg_advisory_unlock_shared" + gate);
  }

  auto exclusive = open(OpenMode::Exclusive);
  EXPECT_EQ(faultOf([&] { open(); }), Fault::InUse);
  exclusive->close();
  auto shared = open();
  auto second = open();
  shared.reset();
  EXPECT_EQ(faultOf([&] { open(OpenMode::Exclusive); }), Fault::InUse);
  second.reset();
  EXPECT_NO_THROW(open(OpenMode::Exclusive));
}

TEST_P(StoreTest, ClosingOneOpenKeepsTheEngineLocksOfAnother) {
  if (!onSqlite()) GTEST_SKIP() << "the file's own locks";
  addWork(1);
  openWork();
  auto start = Clock::now();
  rs->field("mscode");  // reading: the engine's shared lock is held until the next commit
  open()->close();
  bool locked = lockedElsewhere(fixture->path(), true);
  if (Clock::now() - start > 200ms) GTEST_SKIP() << "too slow to tell: the read may have been committed";
  EXPECT_TRUE(locked);
}

// Pending saves reach the file when the program ends without closing, or
// is idle past the interval; another program reads beside them meanwhile.
TEST_P(StoreTest, SavesReachTheFileWhenTheProgramEndsOrIsIdle) {
  addWork(3);
  int status = reap(spawn([&] {
    openWork();
    save(*rs, {{"sflag", "Y"}});
    std::exit(0);  // ends at once: nothing is closed or destroyed
  }));
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_EQ(count("sflag = 'Y'"), 1);
  openWork();
  rs->moveNext();
  save(*rs, {{"sflag", "Y"}});
  db->idle();
  EXPECT_EQ(count("sflag = 'Y'"), 1);  // read beside the pending save, not blocked
  std::this_thread::sleep_for(Connection::kCommitInterval);
  db->idle();
  EXPECT_EQ(count("sflag = 'Y'"), 2);
}

TEST_P(StoreTest, AKilledPassLeavesASoundFileWithItsSavesUpToTheLastCommit) {
  const int records = 4000;
  addWork(records);
  pid_t child = spawn([&] {  // a pass that saves record by record, slowly
    try {
      openWork("Key1");
      for (int n = 1; !rs->eof(); rs->moveNext(), ++n) {
        save(*rs, {{"seq", n}, {"sflag", "Y"}});
        std::this_thread::sleep_for(1ms);
      }
    } catch (...) {
    }
  });
  std::this_thread::sleep_for(1200ms);
  ::kill(child, SIGKILL);
  ASSERT_TRUE(WIFSIGNALED(reap(child))) << "the pass ended before it was killed";

  if (onSqlite()) {
    EXPECT_TRUE(std::filesystem::exists(fixture->path() + "-wal"));  // left by the killed program
    EXPECT_EQ(fixture->scalar("PRAGMA integrity_check"), Value("ok"));
  }
  // Saves are whole and in order: the first k records in Key1 order, 0 < k < records.
  double saved = count("sflag = 'Y'");
  EXPECT_TRUE(saved > 0 && saved < records) << saved;
  EXPECT_EQ(fixture->scalar("SELECT max(seq) FROM kvwork").number(), saved);
  EXPECT_EQ(count("sflag = 'Y' AND mscode >= '" + std::to_string(10000 + static_cast<int>(saved)) + "'"), 0);
  EXPECT_NO_THROW(open(OpenMode::Exclusive));
}

// A save waits for another program's write, also when the store had read.
TEST_P(StoreTest, ASaveWaitsForAnotherProgramsWriteWithTheHook) {
  if (!onSqlite()) GTEST_SKIP() << "the engine's own busy handling";
  addWork(2);
  openWork();
  rs->field("mscode");  // a read: this store holds the engine's shared lock
  int hooks = 0;
  std::set<WaitReason> reasons;
  db->setWaitHook([&](auto, WaitReason why) { return reasons.insert(why), ++hooks > 0; });
  pid_t writer = spawn([&] {  // the sqlite3 shell, as another program
    ::execlp("sqlite3", "sqlite3", "-bail", fixture->path().c_str(), ".timeout 5000",
             "BEGIN IMMEDIATE; UPDATE kvwork SET rscode = 'x';", ".shell sleep 0.7", "COMMIT;", nullptr);
  });
  std::this_thread::sleep_for(200ms);
  save(*rs, {{"sflag", "Y"}});
  EXPECT_EQ(WEXITSTATUS(reap(writer)), 0);
  EXPECT_GT(hooks, 10);
  EXPECT_EQ(reasons, std::set<WaitReason>{WaitReason::OtherProgram});
  db->flush();
  EXPECT_EQ(count("sflag = 'Y' AND rscode = 'x'"), 1);
}

// A table locked for good: a save fails as busy after the wait, then at once
// (the wait is spent); the hook is told why, and a wait it stops ends at once.
TEST_P(StoreTest, ALockHeldForGoodCostsOneWaitAndAStoppedWaitEndsAtOnce) {
  addWork(2);
  openWork();
  int hooks = 0;
  bool goOn = false;
  WaitReason told = WaitReason::Unknown;
  db->setWaitHook([&](std::chrono::milliseconds, WaitReason why) {
    ++hooks;
    told = why;
    db->idle();
    return goOn || why == WaitReason::Unknown;  // stopped once told why
  });
  const auto budget = 600ms;
  auto saveTook = [&](Fault expected) {  // flushed: on PostgreSQL the save goes down a pipeline
    const auto start = Clock::now();
    EXPECT_EQ(faultOf([&] { save(*rs, {{"sflag", "Y"}}), db->flush(); }), expected);
    return Clock::now() - start;
  };
  save(*rs, {{"sflag", "N"}}), db->flush();
  fixture->exec(onSqlite() ? "BEGIN IMMEDIATE" : "BEGIN; LOCK TABLE kvwork IN EXCLUSIVE MODE");
  goOn = true;
  db->setBusyWait(budget);
  const auto waited = saveTook(Fault::Busy);
  EXPECT_GT(waited, budget - 200ms);
  EXPECT_LT(waited, budget + 500ms);
  EXPECT_LT(saveTook(Fault::Busy), 200ms);  // the wait is spent
  EXPECT_GT(hooks, 5);
  // Given more, the connection waits again, and stops once told why.
  goOn = false;
  db->setBusyWait(budget + 5s);
  EXPECT_LT(saveTook(Fault::Interrupted), onSqlite() ? 1s : 2s);
  EXPECT_EQ(told, WaitReason::OtherProgram);
  fixture->exec("ROLLBACK");
  save(*rs, {{"sflag", "N"}}), db->flush();
  EXPECT_EQ(std::pair(count("sflag = 'N'"), count("sflag = 'Y'")), std::pair(1.0, 0.0));
}

// A stopped server fails the call when the hook asks (the cancel has two
// seconds) or past the silence limit (told to the hook); a session the server
// ends is said to be lost; every later use fails.
TEST_P(StoreTest, AServerThatStopsAnsweringOrEndsTheSessionFailsTheCallWithinItsLimits) {
  if (onSqlite()) GTEST_SKIP() << "a server's";
  addWork(2);
  const std::string newestGateHolder =
      "SELECT l.pid FROM pg_locks l JOIN pg_stat_activity a ON a.pid = l.pid WHERE l.locktype = 'advisory' "
      "AND l.mode = 'ShareLock' AND ((l.classid::bigint << 32) | l.objid::bigint) = hashtextextended("
      "'mailsort:' || current_database() || '.' || coalesce(current_schema(), ''), 0) "
      "ORDER BY a.backend_start DESC LIMIT 1";
  enum Server { StoppedAndCancelled, StoppedSilent, Ended };
  for (Server server : {StoppedAndCancelled, StoppedSilent, Ended}) {
    SCOPED_TRACE(server);
    db = open();
    db->setBusyWait(300ms);
    db->setSilenceLimit(1s);
    WaitReason told = WaitReason::Unknown;
    db->setWaitHook([&](auto, WaitReason why) { return told = why, server != StoppedAndCancelled; });
    rs = db->openTable("kvwork");
    const Value pid = fixture->scalar(newestGateHolder);
    ASSERT_TRUE(pid.isNumber());
    if (server == Ended) fixture->exec("SELECT pg_terminate_backend(" + pid.text() + ")");
    const auto start = Clock::now();
    // The backend; or also its postmaster (in its stat), so nothing answers.
    std::vector<pid_t> stopped{static_cast<pid_t>(pid.number())};
    std::string skip;
    if (server == StoppedSilent)
      std::ifstream("/proc/" + pid.text() + "/stat") >> skip >> skip >> skip >> stopped.emplace_back();
    if (server == Ended) stopped.clear();
    for (pid_t p : stopped) ::kill(p, SIGSTOP);
    const RunError e = failure([&] { db->openTable("region"); });
    for (pid_t p : stopped) ::kill(p, SIGCONT);
    const std::string what = e.what();
    EXPECT_EQ(e.fault(), server == StoppedAndCancelled ? Fault::Interrupted : Fault::Io) << what;
    const auto took = Clock::now() - start;
    EXPECT_TRUE(server != Ended || what.rfind("the connection to the PostgreSQL", 0) == 0) << what;
    // It gave up five seconds past its lock timeout, and says so.
    if (server == StoppedSilent) {
      EXPECT_NE(what.find("sent nothing for 5 s"), std::string::npos) << what;
      EXPECT_EQ(told, WaitReason::Server);
    }
    // The cancel's two seconds; or the silence limit, or the lock timeout and five seconds more.
    EXPECT_GT(took, server == StoppedAndCancelled ? 1900ms : server == StoppedSilent ? 1s : 0s);
    EXPECT_LT(took, server == StoppedAndCancelled ? 3s : server == StoppedSilent ? 7s : 1s);
    EXPECT_EQ(faultOf([&] { rs->moveNext(); }), Fault::Io);
    rs.reset(), db.reset();
  }
}

// A Latin-1 database giving 15-digit doubles, to a client asking for Latin-1:
// what was saved comes back exactly; a missing table names database and schema.
TEST_P(StoreTest, ALatin1DatabaseThatRoundsDoublesGivesBackExactlyWhatWasSaved) {
  if (onSqlite()) GTEST_SKIP() << "a server's";
  const std::string name = "mailsort_latin1_" + std::to_string(::getpid());
  fixture->exec("DROP DATABASE IF EXISTS " + name);
  fixture->exec("CREATE DATABASE " + name +
                " ENCODING 'LATIN1' TEMPLATE template0 LC_COLLATE 'C' LC_CTYPE 'C'");
  fixture->exec("ALTER DATABASE " + name + " SET extra_float_digits = 0");
  const std::string base = std::getenv("MAILSORT_TEST_POSTGRES");
  const std::pair<std::string, double> saved[] = {{"Zoë Brontë", 0.1},
                                                  {"Café Ångström", 1.0 / 3},
                                                  {"Müller-Lüdenscheidt", -2.5e-7},
                                                  {"Ça «va»", 1e300 / 3}};
  {
    ms::testing::FixtureDb latin(Engine::Postgres, "", true,
                                 base + (base.find('?') == std::string::npos ? "?" : "&") + "dbname=" + name);
    for (const auto& [text, number] : saved)
      latin.insert("kvwork", {{"Name", text}, {"mscode", "10000"}, {"seq", number}});
    ::setenv("PGCLIENTENCODING", "LATIN1", 1);
    auto job = Database::open(latin.path(), OpenMode::Shared);
    ::unsetenv("PGCLIENTENCODING");
    for (const bool again : {false, true}) {  // as inserted, then as saved
      auto work = job->openTable("kvwork");
      for (const auto& [text, number] : saved) {
        EXPECT_EQ((std::vector{work->field("Name"), work->field("seq")}),
                  (std::vector<Value>{again ? text + "½" : text, again ? number * 7 : number}));
        if (!again) save(*work, {{"Name", text + "½"}, {"seq", number * 7}});
        work->moveNext();
      }
      job->flush();
    }
    EXPECT_EQ(latin.scalar("SELECT count(*) FROM kvwork WHERE \"Name\" = 'Café Ångström½'"), Value(1.0));
    const std::string missing = failure([&] { job->openTable("nosuchtable"); }).what();
    EXPECT_NE(missing.find("database " + name + " on "), std::string::npos) << missing;
    EXPECT_NE(missing.find(", schema t_"), std::string::npos) << missing;
  }
  fixture->exec("DROP DATABASE " + name + " WITH (FORCE)");
}

INSTANTIATE_TEST_SUITE_P(Engines, StoreTest, ::testing::ValuesIn(ms::testing::kEngines),
                         ::testing::PrintToStringParamName());

}  // namespace
}  // namespace ms::store
