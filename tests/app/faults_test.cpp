// The program on a Chain Mode job that meets a fault of the machine or of the
// database goes on as far as it can, lists each fault once, leaves the label
// program unstarted and ends with status 5; a run that is only disturbed ends
// as an undisturbed one.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <random>
#include <set>
#include <thread>

#include "app/run_fixture.h"
#include "support/sample_run.h"

namespace ms {
namespace {

namespace fs = std::filesystem;
using testing::readFile;

const std::string kBin = MAILSORT_BINARY_DIR;
const std::string kProgram = "QT_QPA_PLATFORM=offscreen timeout 120 '" + kBin + "/mailsort'";

// Every row of a statement on a database file, "|" between columns and "\n"
// between rows ("" when it fails).
std::string sql(const std::string& file, const std::string& statement) {
  sqlite3* db = nullptr;
  std::string rows;
  auto add = [](void* to, int n, char** values, char**) {
    auto& text = *static_cast<std::string*>(to);
    for (int i = 0; i < n; ++i)
      text += (i ? "|" : text.empty() ? "" : "\n") + std::string(values[i] ? values[i] : "");
    return 0;
  };
  if (sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK ||
      sqlite3_exec(db, statement.c_str(), add, &rows, nullptr) != SQLITE_OK)
    rows.clear();
  sqlite3_close(db);
  return rows;
}

// The database of a generated Chain Mode job of `records` addresses, made once.
std::string sampleJob(int records) {
  static std::map<int, std::unique_ptr<testing::TempDir>> made;
  auto& dir = made[records];
  if (!dir) {
    dir = std::make_unique<testing::TempDir>();
    if (testing::shellIn(dir->path(), "'" + kBin + "/mailsort-sample' --out . --records " +
                                          std::to_string(records) + " --seed 11 --chain >/dev/null") != 0)
      ADD_FAILURE() << "mailsort-sample could not make a job of " << records << " records";
  }
  return dir->file("mailsort.mdb");
}

// A copy of a sample job with RunLabels "Y", in a folder of its own inside a
// temporary folder that also holds what the test keeps outside the job.
struct Job {
  explicit Job(int records) {
    fs::create_directory(path);
    fs::copy_file(sampleJob(records), mdb());
    sql(mdb(), "UPDATE parmcode SET RunLabels = 'Y'");
  }
  std::string file(const std::string& name) const { return path + "/" + name; }
  std::string mdb() const { return file("mailsort.mdb"); }

  testing::TempDir dir;
  std::string path = dir.file("job");
  pid_t other = -1;            // another process of the suite
  std::shared_ptr<void> keep;  // what the fault needs until the checks are done
};

struct Outcome {
  int status = -1;
  std::string out;
  double seconds = 0;
};

Outcome runProgram(const std::string& folder, const std::string& out) {
  const auto start = std::chrono::steady_clock::now();
  const int status = testing::shellIn(folder, kProgram + " >'" + out + "' 2>&1");
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

// Another process takes a write lock on the database and keeps it for 15 s;
// the run, started while it holds it, waits for it wherever it meets it
// (taken mid-run, the lock would often find the run's own saves in its way
// and only get in after the run). Its exit status is 0 when it held it.
pid_t holdWriteLock(const std::string& mdb) {
  const pid_t child = fork();
  if (child != 0) return usleep(300000), child;
  sqlite3* db = nullptr;
  sqlite3_open(mdb.c_str(), &db);
  sqlite3_busy_timeout(db, 60000);
  const bool held = sqlite3_exec(db, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr) == SQLITE_OK;
  if (held) sleep(15);
  _exit(held && sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr) == SQLITE_OK ? 0 : 1);
}

void writeLockCheck(Job& job, const Outcome& run) {
  int status = -1;
  waitpid(job.other, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the other process never held its lock";
  EXPECT_GE(run.seconds, 15) << "the run did not meet the lock";
  const std::string undisturbed = job.dir.file("undisturbed/");
  for (const char* po : {"POFILE.DAT", "POLINE.CSV", "POADDR.CSV", "POPLAN.CSV"})
    EXPECT_TRUE(readFile(job.file(po)) == readFile(undisturbed + po)) << po;
  for (const char* rows :
       {"SELECT * FROM bags ORDER BY 1", "SELECT seq, mscode, sflag, rgcode FROM kvwork ORDER BY rowid"})
    EXPECT_TRUE(sql(job.mdb(), rows) == sql(undisturbed + "mailsort.mdb", rows)) << rows;
}

enum class Db { kSound, kFull, kDamaged };

struct Fault {
  std::string name;
  std::function<void(Job&)> inject = {};  // may skip the case where the fault cannot be made
  std::vector<std::string> named = {};    // what the message names; none where the run must end normally
  std::function<void(Job&, const Outcome&)> check = {};
  Db db = Db::kSound;
  int records = 20000;
  std::function<Outcome(Job&)> run = {};
  friend void PrintTo(const Fault& fault, std::ostream* os) { *os << fault.name; }
};

std::vector<Fault> faults() {
  std::vector<Fault> all = {
      {.name = "DiskFull",
       .inject =
           [](Job& job) {
             // Room for the database, but not for POADDR.CSV as well.
             const std::string size = "size=" + std::to_string(fs::file_size(job.mdb()) / 1024 + 1024) + "k";
             fs::copy_file(job.mdb(), job.dir.file("full.mdb"));
             if (mount("tmpfs", job.path.c_str(), "tmpfs", 0, size.c_str()) != 0)
               GTEST_SKIP() << "cannot mount a small tmpfs for the job: " << std::strerror(errno);
             job.keep =
                 std::shared_ptr<void>(nullptr, [at = job.path](void*) { umount2(at.c_str(), MNT_DETACH); });
             fs::copy_file(job.dir.file("full.mdb"), job.mdb());
           },
       .named = {"POADDR.CSV", "No space left on device"},
       .db = Db::kFull},
      {.name = "ReadOnlyPoFile",
       .inject =
           [](Job& job) {
             std::ofstream(job.file("POFILE.DAT")) << "old POFILE.DAT\n";
             chmod(job.file("POFILE.DAT").c_str(), 0444);
           },
       .named = {"POFILE.DAT"},
       .check = [](Job& job,
                   const Outcome&) { EXPECT_EQ(readFile(job.file("POFILE.DAT")), "old POFILE.DAT\n"); }},
      {.name = "FolderInPoFilePlace",
       .inject = [](Job& job) { fs::create_directory(job.file("POLINE.CSV")); },
       .named = {"POLINE.CSV"},
       .check = [](Job& job, const Outcome&) { EXPECT_TRUE(fs::is_directory(job.file("POLINE.CSV"))); }},
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
       .db = Db::kDamaged},
      {.name = "RegionTableMissing",
       .inject = [](Job& job) { sql(job.mdb(), "DROP TABLE region"); },
       .named = {"region"}},
      {.name = "WriteLockHeldByAnother",
       .inject =
           [](Job& job) {
             const std::string undisturbed = job.dir.file("undisturbed");
             fs::create_directory(undisturbed);
             fs::copy_file(job.mdb(), undisturbed + "/mailsort.mdb");
             EXPECT_EQ(runProgram(undisturbed, undisturbed + ".out").status, 0);
             job.other = holdWriteLock(job.mdb());
           },
       .check = writeLockCheck,
       .records = 200000},
      {.name = "LinkInPoFilePlace",
       .inject =
           [](Job& job) {
             std::ofstream(job.dir.file("precious")) << "precious";
             fs::create_symlink(job.dir.file("precious"), job.file("POFILE.DAT"));
           },
       .check =
           [](Job& job, const Outcome&) {
             EXPECT_EQ(readFile(job.dir.file("precious")), "precious");
             EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(job.file("POFILE.DAT"))));
           }},
  };
  for (int pair = 1; pair <= 20; ++pair)
    all.push_back({.name = "TwinStarted" + std::to_string(pair % 11) + "msLater" + std::to_string(pair),
                   .run = [pair](Job& job) { return twins(job, pair % 11); }});
  return all;
}

class InjectedFault : public ::testing::TestWithParam<Fault> {};

TEST_P(InjectedFault, RunEndsAsTheFaultRequires) {
  const Fault& fault = GetParam();
  if (const std::string missing = testing::missingForSampleRun(false); !missing.empty())
    GTEST_SKIP() << missing;
  Job job(fault.records);
  if (fault.inject) fault.inject(job);
  if (IsSkipped()) return;
  const Outcome run = fault.run ? fault.run(job) : runProgram(job.path, job.dir.file("run.out"));

  const int status = fault.named.empty() ? 0 : 5;
  EXPECT_NE(run.status, 124) << "the run did not end within 120 s";
  EXPECT_EQ(run.status, status) << run.out;
  const size_t message = run.out.find("The run is incomplete:");
  EXPECT_EQ(message != std::string::npos, status == 5) << run.out;
  for (const std::string& text : fault.named)
    EXPECT_NE(run.out.find(text, message), std::string::npos) << run.out;
  std::set<std::string> listed;  // each fault once, whatever its count
  for (const std::string& line : testing::splitLines(run.out.substr(std::min(message, run.out.size()))))
    EXPECT_TRUE(!line.starts_with("- ") || listed.insert(line.substr(0, line.rfind(" ("))).second) << run.out;
  EXPECT_EQ(testing::labelProgramStartedIn(job.path, status == 0 ? 5 : 0.5), status == 0);
  if (fault.db != Db::kDamaged) {
    EXPECT_EQ(sql(job.mdb(), "PRAGMA integrity_check"), "ok");
  }
  if (fault.db != Db::kFull) {  // the flags cannot be cleared on a full disk
    EXPECT_EQ(sql(job.mdb(), "SELECT RunAlone || RunReports FROM parmcode"), "NN");
  }
  if (fault.check) fault.check(job, run);
}

INSTANTIATE_TEST_SUITE_P(Faults, InjectedFault, ::testing::ValuesIn(faults()),
                         [](const auto& test) { return test.param.name; });

}  // namespace
}  // namespace ms
