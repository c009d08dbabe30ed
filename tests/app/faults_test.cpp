// The program itself, headless, on a generated Chain Mode job: undisturbed it
// runs to the end, prints what the Post Office files hold and hands the
// database over; meeting a fault of the machine or of the database it goes on
// as far as it can, lists each fault once, leaves the label program unstarted
// and ends with status 5; a run that is only disturbed ends as an undisturbed
// one; a job it cannot start is refused with a message.
#include <gtest/gtest.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <random>
#include <set>
#include <thread>

#include "app/run_fixture.h"

namespace ms {
namespace {

namespace fs = std::filesystem;
using testing::readFile;

const std::string kBin = MAILSORT_BINARY_DIR;
const std::string kProgram = "QT_QPA_PLATFORM=offscreen timeout 120 '" + kBin + "/mailsort' --no-print";

const auto sql = testing::sqlRows;

// The database of a generated 20,000-record Chain Mode job, made once.
std::string sampleJob() {
  static testing::TempDir dir;
  static const int made = testing::shellIn(
      dir.path(), "'" + kBin + "/mailsort-sample' --out . --records 20000 --seed 11 --chain >/dev/null");
  EXPECT_EQ(made, 0);
  return dir.file("mailsort.mdb");
}

// A copy of a sample job with RunLabels "Y", in a folder of its own inside a
// temporary folder that also holds what the test keeps outside the job.
struct Job {
  Job() {
    fs::create_directory(path);
    fs::copy_file(sampleJob(), mdb());
    sql(mdb(), "UPDATE parmcode SET RunLabels = 'Y'");
  }
  std::string file(const std::string& name) const { return path + "/" + name; }
  std::string mdb() const { return file("mailsort.mdb"); }

  testing::TempDir dir;
  std::string path = dir.file("job");
  std::shared_ptr<void> keep;  // what the fault needs until the checks are done
};

struct Outcome {
  int status = -1;
  std::string out;
  double seconds = 0;
};

// The program run in `folder`, its output in `out`; `env` names variables
// for it ("NAME=value ").
Outcome runProgram(const std::string& folder, const std::string& out, const std::string& options = "",
                   const std::string& env = "") {
  const auto start = std::chrono::steady_clock::now();
  const int status = testing::shellIn(folder, env + kProgram + options + " >'" + out + "' 2>&1");
  return {status, readFile(out),
          std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count()};
}

// Two programs on the job, the second `gapMs` after the first: the one that
// ran, once it is clear that the other was turned away.
Outcome twins(const Job& job, int gapMs) {
  Outcome ran;
  std::thread first([&] { ran = runProgram(job.path, job.dir.file("first.out")); });
  std::this_thread::sleep_for(std::chrono::milliseconds(gapMs));
  Outcome turnedAway = runProgram(job.path, job.dir.file("second.out"));
  first.join();
  if (turnedAway.status == 0) std::swap(ran, turnedAway);
  EXPECT_EQ(turnedAway.status, 1) << turnedAway.out;
  EXPECT_NE(
      turnedAway.out.find("Another option is currently running, wait until it has finished then try again."),
      std::string::npos)
      << turnedAway.out;
  return ran;
}

// Another process takes a write lock on the database, as a program that does
// not take the suite's file lock would, and keeps it for `seconds`. Its exit
// status is 0 when it held it.
pid_t holdWriteLock(const std::string& mdb, unsigned seconds) {
  const pid_t child = fork();
  if (child != 0) return usleep(300000), child;
  sqlite3* db = nullptr;
  sqlite3_open(mdb.c_str(), &db);
  sqlite3_busy_timeout(db, 60000);
  const bool held = sqlite3_exec(db, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr) == SQLITE_OK;
  if (held) sleep(seconds);
  _exit(held && sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr) == SQLITE_OK ? 0 : 1);
}

struct Fault {
  std::string name;
  std::function<void(Job&)> inject = {};  // may skip the case where the fault cannot be made
  std::vector<std::string> named = {};    // what the message names; none where the run must end normally
  std::function<void(Job&, const Outcome&)> check = {};
  bool damaged = false;  // no integrity check
  bool locked = false;   // the flags cannot be written
  std::function<Outcome(Job&)> run = {};
  int status = -1;  // when not the one `named` implies
  friend void PrintTo(const Fault& fault, std::ostream* os) { *os << fault.name; }
};

std::vector<Fault> faults() {
  std::vector<Fault> all = {
      {.name = "DiskFull",
       .inject =
           [](Job& job) {
             // Room for the database, but not for the saves of the allocation
             // as well: the first save that cannot be written ends the run.
             const std::string size = "size=" + std::to_string(fs::file_size(job.mdb()) / 1024 + 1024) + "k";
             fs::copy_file(job.mdb(), job.dir.file("full.mdb"));
             if (mount("tmpfs", job.path.c_str(), "tmpfs", 0, size.c_str()) != 0)
               GTEST_SKIP() << "cannot mount a small tmpfs for the job: " << std::strerror(errno);
             job.keep =
                 std::shared_ptr<void>(nullptr, [at = job.path](void*) { umount2(at.c_str(), MNT_DETACH); });
             fs::copy_file(job.dir.file("full.mdb"), job.mdb());
           },
       // Refused before anything changes, in window mode with status 0.
       .named = {"not room enough for this run", "Make room"},
       .status = 0},
      {.name = "DamagedWorkPage",
       .inject =
           [](Job& job) {
             const long size = std::stol(sql(job.mdb(), "PRAGMA page_size"));
             const std::string leaf = sql(
                 job.mdb(),
                 "SELECT pageno FROM dbstat WHERE name = 'kvwork' AND pagetype = 'leaf' LIMIT 1 OFFSET 100");
             const long page =
                 leaf.empty() ? static_cast<long>(fs::file_size(job.mdb())) / size / 2 : std::stol(leaf);
             std::string garbage(size, '\0');
             std::generate(garbage.begin(), garbage.end(), std::mt19937(7));
             std::fstream(job.mdb(), std::ios::in | std::ios::out | std::ios::binary)
                 .seekp((page - 1) * size)
                 .write(garbage.data(), size);
           },
       .named = {"kvwork"},
       .damaged = true},
      {.name = "RegionTableMissing",
       .inject = [](Job& job) { sql(job.mdb(), "DROP TABLE region"); },
       .named = {"region"}},
  };
  // A lock that is never let go: the Start Dialog's check finds another
  // program running, and nothing is changed.
  all.push_back({.name = "WriteLockHeldForGood",
                 .inject =
                     [](Job& job) {
                       job.keep =
                           std::shared_ptr<void>(nullptr, [pid = holdWriteLock(job.mdb(), 300)](void*) {
                             kill(pid, SIGKILL);
                             waitpid(pid, nullptr, 0);
                           });
                     },
                 .named = {"Another option is currently running"},
                 .check =
                     [](Job& job, const Outcome& run) {
                       EXPECT_LT(run.seconds, 30);
                       job.keep.reset();
                       EXPECT_EQ(sql(job.mdb(), "SELECT count(*) FROM kvwork WHERE sflag = 'Y'"), "0");
                       EXPECT_FALSE(fs::exists(job.file("POADDR.CSV")));
                     },
                 .locked = true,
                 .status = 1});
  for (int pair = 1; pair <= 20; ++pair)
    all.push_back({.name = "TwinStarted" + std::to_string(pair % 11) + "msLater" + std::to_string(pair),
                   .run = [pair](Job& job) { return twins(job, pair % 11); }});
  return all;
}

class InjectedFault : public ::testing::TestWithParam<Fault> {};

TEST_P(InjectedFault, RunEndsAsTheFaultRequires) {
  const Fault& fault = GetParam();
  if (const std::string missing = testing::missingForSampleRun(); !missing.empty()) GTEST_SKIP() << missing;
  Job job;
  if (fault.inject) fault.inject(job);
  if (IsSkipped()) return;
  const Outcome run = fault.run ? fault.run(job) : runProgram(job.path, job.dir.file("run.out"));

  const int status = fault.status >= 0 ? fault.status : fault.named.empty() ? 0 : 5;
  EXPECT_NE(run.status, 124) << "the run did not end within 120 s";
  EXPECT_EQ(run.status, status) << run.out;
  const size_t message = run.out.find("The run is incomplete:");
  EXPECT_EQ(message != std::string::npos, status == 5) << run.out;
  for (const std::string& text : fault.named)
    EXPECT_NE(run.out.find(text, status == 5 ? message : 0), std::string::npos) << run.out;
  std::set<std::string> listed;  // each fault once, whatever its count
  for (const std::string& line : testing::splitLines(run.out.substr(std::min(message, run.out.size()))))
    EXPECT_TRUE(!line.starts_with("- ") || listed.insert(line.substr(0, line.rfind(" ("))).second) << run.out;
  const bool handsOn = status == 0 && fault.named.empty();
  EXPECT_EQ(testing::labelProgramStartedIn(job.path, handsOn ? 5 : 0.5), handsOn);
  if (fault.check) fault.check(job, run);
  if (!fault.damaged) {
    EXPECT_EQ(sql(job.mdb(), "PRAGMA integrity_check"), "ok");
  }
  // The flags of a locked job cannot be written.
  if (!fault.locked) {
    EXPECT_EQ(sql(job.mdb(), "SELECT RunAlone || RunReports FROM parmcode"), "NN");
  }
}

INSTANTIATE_TEST_SUITE_P(Faults, InjectedFault, ::testing::ValuesIn(faults()),
                         [](const auto& test) { return test.param.name; });

TEST(Refused, AChainModeJobWithoutItsWorkTableEndsWithAMessageAndItsFlagsAsTheyWere) {
  if (const std::string missing = testing::missingForSampleRun(); !missing.empty()) GTEST_SKIP() << missing;
  testing::JobFolder job;
  job.db().insertParameters({{"RunAlone", "Y"}});
  job.db().exec("DROP TABLE kvwork");
  const Outcome run = runProgram(job.path(), job.path() + "/run.out");
  EXPECT_TRUE(run.status != 0 && run.status != 124) << run.status;  // 124: it waited
  EXPECT_NE(run.out.find("kvwork"), std::string::npos) << run.out;
  EXPECT_EQ(job.flag("RunAlone"), "Y");
}

}  // namespace
}  // namespace ms
