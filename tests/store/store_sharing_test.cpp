// The file shared with the suite's other programs: the open locks, saves
// reaching the file without a close, a killed process, and a table that
// another program is reading.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sqlite3.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "store/database.h"
#include "store/recordset.h"
#include "store_test_support.h"
#include "support/fixture_db.h"

extern char** environ;

namespace ms::store {
namespace {

using namespace std::chrono_literals;
using ms::testing::FixtureDb;
using ms::testing::TempDir;
using Clock = std::chrono::steady_clock;

// Whether anyone holds a lock on the file that keeps out an exclusive one.
bool lockedElsewhere(const std::string& path) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  bool locked = ::flock(fd, LOCK_EX | LOCK_NB) != 0;
  ::close(fd);
  return locked;
}

// `flock -s <file> sleep 30`, as another program of the suite holds the file.
class SharedHolder {
 public:
  explicit SharedHolder(const std::string& path) : path_(path) {
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(&attributes, 0);
    std::string flock = "flock", shared = "-s", sleep = "sleep", seconds = "30";
    std::string file = path;
    char* argv[] = {flock.data(), shared.data(), file.data(), sleep.data(), seconds.data(), nullptr};
    int rc = posix_spawnp(&pid_, "flock", nullptr, &attributes, argv, environ);
    posix_spawnattr_destroy(&attributes);
    if (rc != 0) pid_ = -1;
    for (auto until = Clock::now() + 5s; pid_ > 0 && !lockedElsewhere(path) && Clock::now() < until;)
      std::this_thread::sleep_for(10ms);
  }
  ~SharedHolder() { release(); }
  void release() {
    if (pid_ <= 0) return;
    ::kill(-pid_, SIGKILL);  // flock and its sleep
    ::waitpid(pid_, nullptr, 0);
    pid_ = -1;
    // The sleep, no child of ours, lets go of the file when it has died.
    for (auto until = Clock::now() + 5s; lockedElsewhere(path_) && Clock::now() < until;)
      std::this_thread::sleep_for(10ms);
  }
  bool started() const { return pid_ > 0; }

 private:
  std::string path_;
  pid_t pid_ = -1;
};

// Another program reading the file, waiting while a commit is under way.
class Reader {
 public:
  explicit Reader(const std::string& path) {
    sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READONLY, nullptr);
    sqlite3_busy_timeout(db_, 2000);
  }
  ~Reader() { sqlite3_close(db_); }
  Reader(const Reader&) = delete;
  Reader& operator=(const Reader&) = delete;
  // The first column of the first row as a number; Null counts as 0.
  double number(const std::string& sql) {
    sqlite3_stmt* statement = nullptr;
    double result = -1;
    if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &statement, nullptr) == SQLITE_OK &&
        sqlite3_step(statement) == SQLITE_ROW)
      result = sqlite3_column_double(statement, 0);
    sqlite3_finalize(statement);
    return result;
  }

 private:
  sqlite3* db_ = nullptr;
};

class StoreSharing : public ::testing::Test {
 protected:
  void addWork(int count) {
    fixture.exec("BEGIN");
    for (int i = 0; i < count; ++i) fixture.insert("kvwork", {{"mscode", std::to_string(10000 + i)}});
    fixture.exec("COMMIT");
  }
  TempDir dir;
  FixtureDb fixture{dir.path()};
};

TEST_F(StoreSharing, ExclusiveOpenIsRefusedWhileAnotherProgramHoldsTheFile) {
  SharedHolder other(fixture.path());
  ASSERT_TRUE(other.started());
  ASSERT_TRUE(lockedElsewhere(fixture.path()));
  try {
    Database::open(fixture.path(), OpenMode::Exclusive);
    FAIL() << "exclusive open succeeded";
  } catch (const RunError& e) {
    EXPECT_EQ(e.fault(), Fault::InUse);
    EXPECT_STREQ(e.what(), "database in use");
  }
  EXPECT_NO_THROW(Database::open(fixture.path(), OpenMode::Shared));  // sharing is fine
  other.release();
  EXPECT_NO_THROW(Database::open(fixture.path(), OpenMode::Exclusive));
}

TEST_F(StoreSharing, OpensExcludeEachOtherUntilClosed) {
  auto exclusive = Database::open(fixture.path(), OpenMode::Exclusive);
  EXPECT_EQ(faultOf([&] { Database::open(fixture.path(), OpenMode::Shared); }), Fault::InUse);
  EXPECT_EQ(faultOf([&] { Database::open(fixture.path(), OpenMode::Exclusive); }), Fault::InUse);
  exclusive->close();

  auto shared = Database::open(fixture.path(), OpenMode::Shared);
  auto second = Database::open(fixture.path(), OpenMode::Shared);
  EXPECT_EQ(faultOf([&] { Database::open(fixture.path(), OpenMode::Exclusive); }), Fault::InUse);
  shared.reset();
  EXPECT_EQ(faultOf([&] { Database::open(fixture.path(), OpenMode::Exclusive); }), Fault::InUse);
  second.reset();
  EXPECT_FALSE(lockedElsewhere(fixture.path()));
  EXPECT_NO_THROW(Database::open(fixture.path(), OpenMode::Exclusive));
}

TEST_F(StoreSharing, SavesReachTheFileWithinHalfASecondWithoutAClose) {
  addWork(3);
  Reader other(fixture.path());
  auto db = Database::open(fixture.path(), OpenMode::Shared);
  auto rs = db->openTable("kvwork");
  rs->edit();
  rs->set("sflag", "Y");
  rs->update();
  auto saved = Clock::now();
  // The store stays idle, as after a cancelled pass.
  while (other.number("SELECT count(*) FROM kvwork WHERE sflag = 'Y'") != 1 && Clock::now() - saved < 3s)
    std::this_thread::sleep_for(10ms);
  EXPECT_LT(Clock::now() - saved, 600ms);
  EXPECT_EQ(other.number("SELECT count(*) FROM kvwork WHERE sflag = 'Y'"), 1.0);

  // A long run of saves is committed as it goes, not only at its end: each
  // save writes the time it was made, and the file is never far behind.
  auto start = Clock::now();
  auto elapsed = [&] { return std::chrono::duration<double>(Clock::now() - start).count(); };
  double worstLag = 0;
  rs->setIndex("Key1");
  for (rs->moveFirst(); elapsed() < 1.5; rs->moveFirst()) {
    rs->edit();
    rs->set("seq", elapsed());
    rs->update();
    if (elapsed() > 0.7)
      worstLag = std::max(worstLag, elapsed() - other.number("SELECT max(seq) FROM kvwork"));
  }
  EXPECT_LT(worstLag, 0.6);
}

TEST_F(StoreSharing, AKilledProcessLeavesASoundFileWithEverySaveUpToItsLastCommit) {
  const int records = 4000;
  addWork(records);
  pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    // A pass that saves record by record, slowly, until it is killed.
    try {
      auto db = Database::open(fixture.path(), OpenMode::Shared);
      auto rs = db->openTable("kvwork");
      rs->setIndex("Key1");
      int n = 0;
      for (rs->moveFirst(); !rs->eof(); rs->moveNext()) {
        rs->edit();
        rs->set("seq", ++n);
        rs->set("sflag", "Y");
        rs->update();
        std::this_thread::sleep_for(1ms);
      }
    } catch (...) {
    }
    ::_exit(0);
  }
  std::this_thread::sleep_for(1200ms);
  ::kill(child, SIGKILL);
  int status = 0;
  ::waitpid(child, &status, 0);
  ASSERT_TRUE(WIFSIGNALED(status)) << "the pass ended before it was killed";

  auto integrity = fixture.query("PRAGMA integrity_check");
  ASSERT_EQ(integrity.size(), 1u);
  EXPECT_EQ(integrity[0]["integrity_check"].text(), "ok");
  // Saves are whole and in order: the first k records in Key1 order, k > 0.
  double saved = fixture.scalar("SELECT count(*) FROM kvwork WHERE sflag = 'Y'").number();
  EXPECT_GT(saved, 0);
  EXPECT_LT(saved, records);
  EXPECT_EQ(fixture.scalar("SELECT max(seq) FROM kvwork").number(), saved);
  EXPECT_EQ(fixture
                .scalar("SELECT count(*) FROM kvwork WHERE sflag = 'Y' AND mscode >= '" +
                        std::to_string(10000 + static_cast<int>(saved)) + "'")
                .number(),
            0.0);

  // The file opens again for the next run, exclusively.
  EXPECT_NO_THROW(Database::open(fixture.path(), OpenMode::Exclusive));
}

TEST_F(StoreSharing, SavesPendingWhenTheProgramEndsReachTheFile) {
  addWork(2);
  std::fflush(nullptr);
  pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    auto db = Database::open(fixture.path(), OpenMode::Shared);
    auto rs = db->openTable("kvwork");
    rs->edit();
    rs->set("sflag", "Y");
    rs->update();
    std::exit(0);  // ends at once: nothing is closed or destroyed
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(fixture.scalar("SELECT count(*) FROM kvwork WHERE sflag = 'Y'").number(), 1.0);
}

TEST_F(StoreSharing, DroppingATableAnotherProgramReadsFailsAndKeepsIt) {
  auto db = Database::open(fixture.path(), OpenMode::Shared);
  db->appendTableDef({"bags", {"Bag Number", "Seq"}, {{"PrimaryKey", {"Bag Number"}, true, true}}});
  {
    auto bags = db->openTable("bags");
    for (int i = 1; i <= 3; ++i) {
      bags->addNew();
      bags->set("Bag Number", i);
      bags->update();
    }
  }
  std::this_thread::sleep_for(600ms);  // the saves reach the file
  // Another program, in the middle of reading the table.
  sqlite3* reader = nullptr;
  ASSERT_EQ(sqlite3_open_v2(fixture.path().c_str(), &reader, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
  sqlite3_stmt* reading = nullptr;
  ASSERT_EQ(sqlite3_prepare_v2(reader, "SELECT * FROM bags", -1, &reading, nullptr), SQLITE_OK);
  ASSERT_EQ(sqlite3_step(reading), SQLITE_ROW);

  EXPECT_EQ(faultOf([&] { db->execute("DROP TABLE[bags]"); }), Fault::Engine);
  EXPECT_EQ(faultOf([&] { db->appendTableDef({"bags", {"Bag Number"}, {}}); }), Fault::Engine);
  sqlite3_finalize(reading);
  sqlite3_close(reader);

  EXPECT_EQ(db->openTable("bags")->recordCount(), 3);
  db->close();
  EXPECT_EQ(fixture.scalar("SELECT count(*) FROM bags").number(), 3.0);
}

}  // namespace
}  // namespace ms::store
