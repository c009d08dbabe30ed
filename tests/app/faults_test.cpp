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
#include <map>
#include <memory>
#include <random>
#include <set>
#include <thread>

#include "app/run_fixture.h"
#include "values/text_rules.h"

namespace ms {
namespace {

namespace fs = std::filesystem;
using testing::readFile;

const std::string kBin = MAILSORT_BINARY_DIR;
const std::string kProgram = "QT_QPA_PLATFORM=offscreen timeout 120 '" + kBin + "/mailsort' --no-print";

const auto sql = testing::sqlRows;

// The database of a generated Chain Mode job of `records` addresses, made once.
std::string sampleJob(int records, bool geog) {
  static std::map<std::pair<int, bool>, std::unique_ptr<testing::TempDir>> made;
  auto& dir = made[{records, geog}];
  if (!dir) {
    dir = std::make_unique<testing::TempDir>();
    if (testing::shellIn(dir->path(), "'" + kBin + "/mailsort-sample' --out . --records " +
                                          std::to_string(records) + " --seed 11 --chain" +
                                          (geog ? " --geog" : "") + " >/dev/null") != 0)
      ADD_FAILURE() << "mailsort-sample could not make a job of " << records << " records";
  }
  return dir->file("mailsort.mdb");
}

// A copy of a sample job with RunLabels "Y", in a folder of its own inside a
// temporary folder that also holds what the test keeps outside the job.
struct Job {
  Job(int count, bool regional) : records(count), geog(regional) {
    fs::create_directory(path);
    fs::copy_file(sampleJob(count, regional), mdb());
    sql(mdb(), "UPDATE parmcode SET RunLabels = 'Y'");
  }
  std::string file(const std::string& name) const { return path + "/" + name; }
  std::string mdb() const { return file("mailsort.mdb"); }

  int records;
  bool geog;
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

const char* const kOutputs[] = {"POFILE.DAT", "POLINE.CSV", "POADDR.CSV", "POPLAN.CSV", "MAILSORT.PDF"};
const char* const kRows[] = {"SELECT * FROM bags ORDER BY 1",
                             "SELECT seq, mscode, sflag, rgcode FROM kvwork ORDER BY rowid"};

// The runs compared byte for byte are dated by SOURCE_DATE_EPOCH, one in a
// time zone 14 hours ahead of UTC and one 12 hours behind: by the clock
// they would print dates a day apart and date their PDFs differently.
const std::string kDatedAhead = "SOURCE_DATE_EPOCH=1000000000 TZ=LINT-14 ";
const std::string kDatedBehind = "SOURCE_DATE_EPOCH=1000000000 TZ=BIT+12 ";

// The folder of the job's undisturbed run, made once per kind of job.
std::string undisturbed(const Job& job) {
  static std::map<std::pair<int, bool>, std::unique_ptr<testing::TempDir>> made;
  auto& dir = made[{job.records, job.geog}];
  if (!dir) {
    dir = std::make_unique<testing::TempDir>();
    fs::copy_file(job.mdb(), dir->file("mailsort.mdb"));
    EXPECT_EQ(runProgram(dir->path(), dir->file("run.out"), "", kDatedAhead).status, 0);
  }
  return dir->path() + "/";
}

// The files and rows a run leaves are those of the undisturbed run.
void sameAsUndisturbed(const Job& job) {
  const std::string done = undisturbed(job);
  for (const char* name : kOutputs) EXPECT_TRUE(readFile(job.file(name)) == readFile(done + name)) << name;
  for (const char* rows : kRows)
    EXPECT_TRUE(sql(job.mdb(), rows) == sql(done + "mailsort.mdb", rows)) << rows;
}

// A batch run that stops itself where `stopAt` says (MAILSORT_STOP_AT).
Outcome disturbed(Job& job, const std::string& stopAt) {
  undisturbed(job);  // from the job as it is now
  for (const char* name : kOutputs) std::ofstream(job.file(name)) << "earlier\n";
  job.keep = std::make_shared<std::vector<std::string>>();
  auto* before = static_cast<std::vector<std::string>*>(job.keep.get());
  for (const char* rows : kRows) before->push_back(sql(job.mdb(), rows));
  return runProgram(job.path, job.dir.file("run.out"), " --batch", "MAILSORT_STOP_AT=" + stopAt + " ");
}

// A run that did not finish changed nothing; the next one cleans up after it
// and gives what an undisturbed run gives. A cancel is told once, however
// many signals asked for it.
void changedNothing(Job& job, const Outcome& run) {
  if (run.status == 3) {
    EXPECT_NE(run.out.find("The run was cancelled: the work table, the bags table and the files in "),
              std::string::npos)
        << run.out;
    const auto told = run.out.find("the run is cancelled");
    EXPECT_TRUE(told != std::string::npos &&
                run.out.find("the run is cancelled", told + 1) == std::string::npos)
        << run.out;
  }
  const auto* before = static_cast<std::vector<std::string>*>(job.keep.get());
  for (std::size_t i = 0; i < std::size(kRows); ++i)
    EXPECT_TRUE(sql(job.mdb(), kRows[i]) == (*before)[i]) << kRows[i];
  for (const char* name : kOutputs) EXPECT_EQ(readFile(job.file(name)), "earlier\n") << name;
  sql(job.mdb(), "UPDATE parmcode SET RunAlone = 'Y'");
  EXPECT_EQ(runProgram(job.path, job.dir.file("again.out"), "", kDatedBehind).status, 0);
  sameAsUndisturbed(job);
  for (const auto& entry : fs::directory_iterator(job.path))
    EXPECT_NE(entry.path().filename().string()[0], '.') << entry.path();  // nothing left half made
}

// MAILSORT.PDF in `folder` as text on a grid of `pitch` points (a character of
// the print), each line from the column where `anchor` first stands, without
// trailing blanks.
std::vector<std::string> pdfLines(const std::string& folder, const std::string& pitch,
                                  const std::string& anchor) {
  EXPECT_EQ(testing::shellIn(folder, "pdftotext -layout -fixed " + pitch + " MAILSORT.PDF pdf.txt"), 0);
  const auto all = testing::splitLines(readFile(folder + "/pdf.txt"));
  const auto at = std::find_if(all.begin(), all.end(), [&](auto& l) { return l.find(anchor) != l.npos; });
  std::vector<std::string> lines;
  for (std::string line : all)
    if (at != all.end() && line.size() > at->find(anchor))
      lines.push_back(line.erase(0, at->find(anchor)).erase(line.find_last_not_of(' ') + 1));
  return lines;
}

// The line report printed in `folder`, column for column, as POLINE.CSV lists
// it, and the planning page as POPLAN.CSV has it.
void printedCheck(const std::string& folder) {
  if (std::system("command -v pdftotext >/dev/null") != 0) GTEST_SKIP() << "needs pdftotext";
  const auto body = pdfLines(folder, "5.4", "Code  ");
  ASSERT_FALSE(body.empty());
  const auto records = testing::splitLines(readFile(folder + "/POLINE.CSV"));
  ASSERT_GT(records.size(), 70u);  // more than one page of selections
  auto at = body.begin();
  for (const std::string& record : records) {
    const auto f = testing::quotedFields(record);
    ASSERT_EQ(f.size(), 6u) << record;
    std::string line = lset(f[0], 11) + lset(f[1], 56) + rset(f[2], 6) + "    " + rset(f[3], 6) + "  " +
                       rset(f[4], 6) + "    " + rset(f[5], 6);
    at = std::find(at, body.end(), line.erase(line.find_last_not_of(' ') + 1));
    ASSERT_NE(at, body.end()) << "not printed, or out of order: " << record;
  }
  EXPECT_EQ(records.back().rfind("\"None\",\"Letter Post\",", 0), 0u);
  EXPECT_NE(std::find(at, body.end(), std::string(44, ' ') + "<<< End of Report >>>"), body.end());

  const auto f = testing::quotedFields(readFile(folder + "/POPLAN.CSV"));
  ASSERT_EQ(f.size(), 27u) << f[0];
  const auto page = pdfLines(folder, "6.6", "Address Records Processed");  // 11 point
  auto starting = [&](const std::string& label) {
    auto line = std::find_if(page.begin(), page.end(), [&](auto& l) { return l.starts_with(label); });
    return line == page.end() ? "(no line " + label + ")" : *line;
  };
  const std::pair<std::string, std::string> figures[] = {
      {"Address Records Processed", f[6]}, {"Postcodes Matched", f[7]},     {"Addresses not matched", f[9]},
      {"Suitable for Mailsort", f[10]},    {"Total Mailsort Items", f[10]}, {"Full Postcode", f[12] + "%"},
      {"No Postcode", f[18] + "%"}};
  for (const auto& [label, value] : figures) EXPECT_EQ(starting(label), lset(label, 49) + value);
  EXPECT_EQ(starting("Residue Selections").substr(0, 63),
            "Residue Selections      " + f[23] + "     " + f[24] + "       " + f[25] + "   " + f[26]);
}

enum class Db { kSound, kFull, kDamaged, kLocked };

struct Fault {
  std::string name;
  std::function<void(Job&)> inject = {};  // may skip the case where the fault cannot be made
  std::vector<std::string> named = {};    // what the message names; none where the run must end normally
  std::function<void(Job&, const Outcome&)> check = {};
  Db db = Db::kSound;
  int records = 20000;
  std::function<Outcome(Job&)> run = {};
  int status = -1;  // when not the one `named` implies
  bool geog = false;
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
       .db = Db::kFull,
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
       .db = Db::kDamaged},
      {.name = "RegionTableMissing",
       .inject = [](Job& job) { sql(job.mdb(), "DROP TABLE region"); },
       .named = {"region"}},
  };
  // A lock that is never let go: the Start Dialog's check finds another
  // program running, and nothing is changed.
  all.push_back({.name = "WriteLockHeldForGood",
                 .inject =
                     [](Job& job) {
                       job.other = holdWriteLock(job.mdb(), 300);
                       job.keep = std::shared_ptr<void>(nullptr, [pid = job.other](void*) {
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
                 .db = Db::kLocked,
                 .status = 1});
  // Cancelled or killed halfway through either step of a Regional
  // Sequencing job; the second signal of a cancel does not cut it short.
  const std::tuple<const char*, const char*, int> stops[] = {
      {"CancelledInAllocation", "allocation@6000:TERM", 3},
      {"CancelledTwiceInPrinting", "printing@10000:TERM:TERM", 3},
      {"KilledInAllocation", "allocation@10000", 128 + SIGKILL},
      {"KilledInPrinting", "printing@10000", 128 + SIGKILL}};
  for (const auto& [name, stopAt, status] : stops)
    all.push_back({.name = name,
                   .check = changedNothing,
                   .run = [stopAt](Job& job) { return disturbed(job, stopAt); },
                   .status = status,
                   .geog = true});
  for (int pair = 1; pair <= 20; ++pair)
    all.push_back({.name = "TwinStarted" + std::to_string(pair % 11) + "msLater" + std::to_string(pair),
                   .run = [pair](Job& job) { return twins(job, pair % 11); }});
  return all;
}

class InjectedFault : public ::testing::TestWithParam<Fault> {};

TEST_P(InjectedFault, RunEndsAsTheFaultRequires) {
  const Fault& fault = GetParam();
  if (const std::string missing = testing::missingForSampleRun(); !missing.empty()) GTEST_SKIP() << missing;
  Job job(fault.records, fault.geog);
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
  if (fault.db != Db::kDamaged) {
    EXPECT_EQ(sql(job.mdb(), "PRAGMA integrity_check"), "ok");
  }
  // A killed run ends nothing; the flags of a locked job cannot be written.
  if (status != 128 + SIGKILL && fault.db != Db::kLocked) {
    EXPECT_EQ(sql(job.mdb(), "SELECT RunAlone || RunReports FROM parmcode"), "NN");
  }
}

INSTANTIATE_TEST_SUITE_P(Faults, InjectedFault, ::testing::ValuesIn(faults()),
                         [](const auto& test) { return test.param.name; });

// A generated job run undisturbed on either engine, as a script runs it: the
// run ends with status 0, the work table allocated and the bags filled, the
// database handed over to the label program, and the Post Office files
// printed.
class SampleRun : public ::testing::TestWithParam<testing::Engine> {};

TEST_P(SampleRun, RunsToItsEndAndPrintsWhatThePostOfficeFilesHold) {
  const std::string missing = testing::missingForSampleRun() + testing::engineMissing(GetParam());
  if (!missing.empty()) GTEST_SKIP() << missing;
  testing::TempDir job;
  testing::FixtureDb db(GetParam(), job.path(), false);
  const std::string database = " --database '" + db.path() + "'";
  ASSERT_EQ(testing::shellIn(job.path(), "'" + kBin + "/mailsort-sample'" + database +
                                             " --records 20000 --seed 11 --chain >/dev/null"),
            0);
  db.exec("UPDATE parmcode SET \"RunLabels\" = 'Y'");
  const Outcome run = runProgram(job.path(), job.file("run.out"), " --batch" + database);
  EXPECT_EQ(run.status, 0) << run.out;
  EXPECT_TRUE(testing::labelProgramStartedIn(job.path(), 5));
  EXPECT_EQ(db.scalar("SELECT \"RunAlone\" || \"RunReports\" || \"RunCodes\" FROM parmcode"), Value("NNN"));
  EXPECT_EQ(db.scalar("SELECT count(*) FROM kvwork"), Value(20000));
  EXPECT_GT(db.scalar("SELECT count(*) FROM kvwork WHERE seq <> 0").number(), 0);
  EXPECT_GT(db.scalar("SELECT count(*) FROM bags").number(), 0);
  if (GetParam() == testing::Engine::Sqlite) {
    EXPECT_EQ(sql(db.path(), "PRAGMA integrity_check"), "ok");
    EXPECT_EQ(testing::shellIn(job.path(), "flock -n -x mailsort.mdb true"), 0);  // free for the next option
  }
  printedCheck(job.path());
}

INSTANTIATE_TEST_SUITE_P(Engines, SampleRun, ::testing::ValuesIn(testing::kEngines),
                         ::testing::PrintToStringParamName());

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
