// The file shared with the suite's other programs: the open locks, saves
// reaching the file without a close, a killed or ended process, and a table
// that another program is reading.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "store/connection.h"
#include "store_test_support.h"

namespace ms::store {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

template <class Condition>
void waitFor(Condition condition) {
  for (auto until = Clock::now() + 5s; !condition() && Clock::now() < until;)
    std::this_thread::sleep_for(10ms);
}

// Runs `child` in a forked process; returns its pid (the child never returns).
template <class Child>
pid_t spawn(Child child) {
  std::fflush(nullptr);
  pid_t pid = ::fork();
  if (pid == 0) {
    child();
    ::_exit(0);
  }
  return pid;
}

int reap(pid_t pid) {
  int status = 0;
  ::waitpid(pid, &status, 0);
  return status;
}

// Whether anyone holds a lock on the file that keeps out an exclusive flock,
// or (engine) SQLite's shared lock byte range, as seen from another process.
bool lockedElsewhere(const std::string& path, bool engine = false) {
  return WEXITSTATUS(reap(spawn([&] {
           int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
           struct flock probe {};
           probe.l_type = F_WRLCK;
           probe.l_start = 0x40000000 + 2;
           probe.l_len = 510;
           if (engine) ::fcntl(fd, F_GETLK, &probe);
           ::_exit(engine ? probe.l_type != F_UNLCK : ::flock(fd, LOCK_EX | LOCK_NB) != 0);
         }))) == 1;
}

class StoreSharing : public StoreTest {
 protected:
  void addWork(int count) {  // mscode "10000", "10001", ...
    fixture.exec("WITH RECURSIVE n(i) AS (SELECT 10000 UNION ALL SELECT i + 1 FROM n WHERE i < " +
                 std::to_string(9999 + count) + ") INSERT INTO kvwork(mscode) SELECT CAST(i AS TEXT) FROM n");
  }
  double count(const std::string& where) {
    return fixture.scalar("SELECT count(*) FROM kvwork WHERE " + where).number();
  }
};

TEST_F(StoreSharing, OpensExcludeEachOtherAndAnotherProgramsSharedLock) {
  // `flock -s <file> sleep 30`, as another program of the suite holds the file.
  pid_t holder = spawn([&] {
    ::setpgid(0, 0);
    ::execlp("flock", "flock", "-s", fixture.path().c_str(), "sleep", "30", nullptr);
  });
  waitFor([&] { return lockedElsewhere(fixture.path()); });
  ASSERT_TRUE(lockedElsewhere(fixture.path()));
  try {
    open(OpenMode::Exclusive);
    ADD_FAILURE() << "exclusive open succeeded";
  } catch (const RunError& e) {
    EXPECT_EQ(e.fault(), Fault::InUse);
    EXPECT_STREQ(e.what(), "database in use");
  }
  EXPECT_NO_THROW(open());
  ::kill(-holder, SIGKILL);  // flock and its sleep
  reap(holder);
  waitFor([&] { return !lockedElsewhere(fixture.path()); });

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

TEST_F(StoreSharing, ClosingOneOpenKeepsTheEngineLocksOfAnother) {
  addWork(1);
  openWork();
  auto start = Clock::now();
  rs->field("mscode");  // reading: the engine's shared lock is held until the next commit
  open()->close();
  bool locked = lockedElsewhere(fixture.path(), true);
  if (Clock::now() - start > 200ms) GTEST_SKIP() << "too slow to tell: the read may have been committed";
  EXPECT_TRUE(locked);
}

// Another program reads while the store has saves pending (write-ahead
// log); they reach the file when the program is idle past the interval.
TEST_F(StoreSharing, SavesReachTheFileWhenTheProgramIsIdle) {
  addWork(3);
  openWork();
  save(*rs, {{"sflag", "Y"}});
  db->idle();
  EXPECT_EQ(count("sflag = 'Y'"), 0);  // read beside the pending save, not blocked
  std::this_thread::sleep_for(Connection::kCommitInterval);
  db->idle();
  EXPECT_EQ(count("sflag = 'Y'"), 1);
}

TEST_F(StoreSharing, AKilledPassLeavesASoundFileWithItsSavesUpToTheLastCommit) {
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

  EXPECT_TRUE(std::filesystem::exists(fixture.path() + "-wal"));  // left by the killed program
  EXPECT_EQ(fixture.scalar("PRAGMA integrity_check"), Value("ok"));
  // Saves are whole and in order: the first k records in Key1 order, 0 < k < records.
  double saved = count("sflag = 'Y'");
  EXPECT_GT(saved, 0);
  EXPECT_LT(saved, records);
  EXPECT_EQ(fixture.scalar("SELECT max(seq) FROM kvwork").number(), saved);
  EXPECT_EQ(count("sflag = 'Y' AND mscode >= '" + std::to_string(10000 + static_cast<int>(saved)) + "'"), 0);
  EXPECT_NO_THROW(open(OpenMode::Exclusive));
}

TEST_F(StoreSharing, SavesPendingWhenTheProgramEndsReachTheFile) {
  addWork(2);
  int status = reap(spawn([&] {
    openWork();
    save(*rs, {{"sflag", "Y"}});
    std::exit(0);  // ends at once: nothing is closed or destroyed
  }));
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_EQ(count("sflag = 'Y'"), 1);
}

// Another program that writes: a save waits for it, letting the window run
// (also when the store had only read and the engine refuses at once), and
// fails as busy once the wait is over.
TEST_F(StoreSharing, ASaveWaitsForAnotherProgramsWriteWithTheHookThenFailsAsBusy) {
  addWork(2);
  openWork();
  rs->field("mscode");  // a read: this store holds the engine's shared lock
  int hooks = 0;
  db->setWaitHook([&] { ++hooks; });
  auto other = [&](const char* sql, const char* hold) {  // the sqlite3 shell, as another program
    return spawn([&, sql, hold] {
      ::execlp("sqlite3", "sqlite3", "-bail", fixture.path().c_str(), ".timeout 5000", sql,
               (std::string(".shell sleep ") + hold).c_str(), "COMMIT;", nullptr);
    });
  };
  pid_t writer = other("BEGIN IMMEDIATE; UPDATE kvwork SET rscode = 'x';", "0.7");
  std::this_thread::sleep_for(200ms);
  save(*rs, {{"sflag", "Y"}});
  EXPECT_EQ(WEXITSTATUS(reap(writer)), 0);
  EXPECT_GT(hooks, 10);
  db->flush();
  EXPECT_EQ(count("sflag = 'Y' AND rscode = 'x'"), 1);

  db->setBusyWait(100ms);
  writer = other("BEGIN EXCLUSIVE;", "1");
  std::this_thread::sleep_for(200ms);
  EXPECT_EQ(faultOf([&] { save(*rs, {{"sflag", "N"}}); }), Fault::Busy);
  reap(writer);
}

}  // namespace
}  // namespace ms::store
