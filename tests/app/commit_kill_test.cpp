// Runs stopped where MAILSORT_STOP_AT says, on either engine: cancelled or
// killed halfway through either step of a Regional Sequencing job, or killed
// at each instant between the commit and the last rename of a Chain Mode
// job. A run that did not commit changed nothing; one more start leaves the
// job exactly as the undisturbed run leaves it, never the new tables with
// the old files and never allocated a second time. A journal that cannot be
// written is a fault before the commit: the run changes nothing and says so.
#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <map>

#include "app/run_fixture.h"

namespace ms {
namespace {

namespace fs = std::filesystem;
using testing::Engine;
const std::string kBin = MAILSORT_BINARY_DIR;
using testing::readFile;

const char* const kFiles[] = {"POFILE.DAT", "POLINE.CSV",    "POADDR.CSV",
                              "POPLAN.CSV", "UNMATCHED.CSV", "MAILSORT.PDF"};
const char* const kRows[] = {"SELECT * FROM bags ORDER BY 1",
                             "SELECT seq, mscode, sflag, rgcode FROM kvwork ORDER BY rowid",
                             "SELECT \"RunAlone\", \"RunReports\" FROM parmcode"};
const std::string kFlags = kRows[2];

// The runs compared byte for byte are dated by SOURCE_DATE_EPOCH, the one
// started again in a time zone 26 hours behind the others: by the clock
// they would print dates a day apart and date their PDFs differently.
const std::string kDatedAhead = "SOURCE_DATE_EPOCH=1000000000 TZ=LINT-14";
const std::string kDatedBehind = "SOURCE_DATE_EPOCH=1000000000 TZ=BIT+12";

struct Stop {
  Engine engine;
  std::string at;         // where the run stops; none: its journal cannot be written
  bool window = false;    // started again in the window
  bool regional = false;  // a 20,000-record Regional Sequencing job, not 5,000 records
  friend void PrintTo(const Stop& stop, std::ostream* os) { *os << stop.at; }
};

// A Chain Mode job that asks for the labels, with the files of an earlier
// run in its folder.
struct Job {
  explicit Job(const Stop& stop) : db(stop.engine, dir.path(), false) {
    EXPECT_EQ(run(kBin + "/mailsort-sample' --seed 11 --chain" +
                  (stop.regional ? " --geog --records 20000" : " --records 5000")),
              0);
    db.exec("UPDATE parmcode SET \"RunLabels\" = 'Y'");
    for (const char* name : kFiles) std::ofstream(dir.file(name)) << "earlier\n";
  }
  int run(const std::string& program, const std::string& environment = "") {
    return testing::shellIn(
        dir.path(), environment + " timeout 120 '" + program + " --database '" + db.path() + "' >>out 2>&1");
  }
  std::map<std::string, std::string> state() {
    std::map<std::string, std::string> held;
    for (const char* name : kFiles) held[name] = readFile(dir.file(name));
    for (const char* sql : kRows) {
      try {
        for (const auto& row : db.query(sql))
          for (const auto& [column, value] : row) held[sql] += value.isNull() ? "|" : value.text() + "|";
      } catch (const std::exception&) {
      }
    }
    return held;
  }
  testing::TempDir dir;
  testing::FixtureDb db;
};

// The job as its undisturbed run leaves it, once per engine and kind of job.
const std::map<std::string, std::string>& finished(const Stop& stop) {
  static std::map<std::pair<Engine, bool>, std::map<std::string, std::string>> made;
  auto& state = made[{stop.engine, stop.regional}];
  if (state.empty()) {
    Job job(stop);
    EXPECT_EQ(job.run(kBin + "/mailsort' --batch --no-print", kDatedAhead), 0)
        << readFile(job.dir.file("out"));
    state = job.state();
  }
  return state;
}

class StoppedRun : public ::testing::TestWithParam<Stop> {};

TEST_P(StoppedRun, ChangesNothingOrOneMoreStartLeavesTheFinishedRun) {
  const Stop& stop = GetParam();
  if (const std::string missing = testing::missingForSampleRun() + testing::engineMissing(stop.engine);
      !missing.empty())
    GTEST_SKIP() << missing;
  Job job(stop);
  auto before = job.state();
  const bool cancelled = stop.at.ends_with(":TERM"),
             committed = stop.at == "after-commit" || stop.at.starts_with("before-rename");
  const int status = stop.at.empty() ? 5 : cancelled ? 3 : 128 + SIGKILL;
  // A folder standing where the journal is made.
  if (stop.at.empty()) fs::create_directory(job.dir.file(".mailsort-publish.new"));
  EXPECT_EQ(job.run(kBin + "/mailsort' --batch --no-print", kDatedAhead + " MAILSORT_STOP_AT=" + stop.at),
            status);
  std::string said = readFile(job.dir.file("out"));
  EXPECT_EQ(said.find("The run is incomplete:") != std::string::npos, status == 5) << said;
  if (cancelled) {  // told once, however many signals asked for it
    EXPECT_NE(said.find("The run was cancelled: the work table, the bags table and the files in "),
              std::string::npos)
        << said;
    const auto told = said.find("the run is cancelled");
    EXPECT_TRUE(told != std::string::npos && said.find("the run is cancelled", told + 1) == std::string::npos)
        << said;
    before[kFlags] = "N|N|";  // the flags of a Chain Mode run that ended
  }
  if (!committed) {
    EXPECT_TRUE(job.state() == before);
  }
  if (stop.engine == Engine::Sqlite) {
    EXPECT_EQ(testing::sqlRows(job.db.path(), "PRAGMA integrity_check"), "ok");
  }
  EXPECT_FALSE(testing::labelProgramStartedIn(job.dir.path(), stop.at.empty() ? 0.5 : 0));
  if (stop.at.empty()) {
    EXPECT_NE(said.find("the run's journal could not be written"), std::string::npos) << said;
    return;
  }

  // Started again as the operator or the suite would: the window ends by
  // itself when it finds that a Chain Mode run had finished.
  fs::remove(job.dir.file("out"));
  if (stop.window && !committed) job.db.exec("UPDATE parmcode SET \"RunAlone\" = 'Y'");
  EXPECT_EQ(job.run(kBin + "/mailsort' --no-print" + (stop.window ? "" : " --batch"), kDatedBehind), 0);
  said = readFile(job.dir.file("out"));
  EXPECT_EQ(said.find("The last run in " + fs::canonical(job.dir.path()).string() +
                      " had finished; its files have now been put in place.") != std::string::npos,
            committed)
      << said;
  EXPECT_TRUE(job.state() == finished(stop)) << said;
  // A killed run left no line in the log; the start after it, one.
  const std::string log = readFile(job.dir.file("MAILSORT.LOG"));
  EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), cancelled ? 2 : 1) << log;
  EXPECT_NE(log.rfind(committed ? "\"outcome\":\"recovered\"" : "\"outcome\":\"finished\""),
            std::string::npos)
      << log;
  EXPECT_TRUE(testing::labelProgramStartedIn(job.dir.path(), 5));
  for (const auto& entry : fs::directory_iterator(job.dir.path()))
    EXPECT_NE(entry.path().filename().string()[0], '.') << entry.path();  // nothing left half made
}

INSTANTIATE_TEST_SUITE_P(
    StopPoints, StoppedRun,
    ::testing::Values(Stop{Engine::Sqlite, ""}, Stop{Engine::Sqlite, "allocation@6000:TERM", true, true},
                      Stop{Engine::Sqlite, "printing@10000:TERM:TERM", true, true},
                      Stop{Engine::Sqlite, "allocation@10000", true, true},
                      Stop{Engine::Sqlite, "printing@10000", true, true},
                      Stop{Engine::Sqlite, "before-commit"}, Stop{Engine::Sqlite, "after-commit"},
                      Stop{Engine::Sqlite, "after-commit", true}, Stop{Engine::Sqlite, "before-rename-1"},
                      Stop{Engine::Sqlite, "before-rename-3"}, Stop{Engine::Sqlite, "before-rename-5", true},
                      Stop{Engine::Postgres, "before-commit"}, Stop{Engine::Postgres, "after-commit"},
                      Stop{Engine::Postgres, "before-rename-1"}, Stop{Engine::Postgres, "before-rename-5"}),
    [](const auto& test) {
      std::string name = (test.param.engine == Engine::Sqlite ? "Sqlite_" : "Postgres_") +
                         (test.param.at.empty() ? "JournalUnwritable" : test.param.at) +
                         (test.param.window ? "_Window" : "");
      std::replace_if(
          name.begin(), name.end(), [](char c) { return !std::isalnum(c); }, '_');
      return name;
    });

}  // namespace
}  // namespace ms
