// A Chain Mode run killed at each instant between its commit and its last
// rename, on either engine: one more start leaves the job exactly as the
// finished run leaves it (or, killed before the commit, as before the run,
// which that start then runs), never the new tables with the old files and
// never allocated a second time.
#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <tuple>

#include "app/run_fixture.h"

namespace ms {
namespace {

namespace fs = std::filesystem;
using testing::Engine;
using testing::readFile;

const std::string kBin = MAILSORT_BINARY_DIR;
const char* const kPoFiles[] = {"POFILE.DAT", "POLINE.CSV", "POADDR.CSV", "POPLAN.CSV", "UNMATCHED.CSV"};
const char* const kRows[] = {
    "SELECT * FROM bags ORDER BY 1",
    "SELECT seq, mscode, sflag, rgcode, \"RunAlone\", \"RunReports\" FROM kvwork, parmcode "
    "ORDER BY kvwork.rowid"};

// A 5,000-record Chain Mode job that asks for the labels, with the files of
// an earlier run in its folder.
struct Job {
  explicit Job(Engine engine) : db(engine, dir.path(), false) {
    EXPECT_EQ(run(kBin + "/mailsort-sample' --records 5000 --seed 11 --chain"), 0);
    db.exec("UPDATE parmcode SET \"RunLabels\" = 'Y'");
    for (const char* name : kPoFiles) std::ofstream(dir.file(name)) << "earlier\n";
  }
  int run(const std::string& program, const std::string& environment = "") {
    return testing::shellIn(dir.path(),
                            environment + " '" + program + " --database '" + db.path() + "' >>out 2>&1");
  }
  std::map<std::string, std::string> state() {
    std::map<std::string, std::string> held;
    for (const char* name : kPoFiles) held[name] = readFile(dir.file(name));
    for (const char* sql : kRows) {
      std::string rows = "(no table)";
      try {
        rows = "";
        for (const auto& row : db.query(sql))
          for (const auto& [column, value] : row) rows += value.isNull() ? "|" : value.text() + "|";
      } catch (const std::exception&) {
      }
      held[sql] = rows;
    }
    return held;
  }
  testing::TempDir dir;
  testing::FixtureDb db;
};

// The job as its undisturbed run leaves it, once per engine.
const std::map<std::string, std::string>& finished(Engine engine) {
  static std::map<Engine, std::map<std::string, std::string>> made;
  auto& state = made[engine];
  if (state.empty()) {
    Job job(engine);
    EXPECT_EQ(job.run(kBin + "/mailsort' --batch --no-print"), 0) << readFile(job.dir.file("out"));
    state = job.state();
  }
  return state;
}

class KilledAtTheCommit : public ::testing::TestWithParam<std::tuple<Engine, std::string, bool>> {};

TEST_P(KilledAtTheCommit, OneMoreStartLeavesTheFinishedRunOrRunsItWhole) {
  const auto& [engine, point, window] = GetParam();
  if (const std::string missing = testing::missingForSampleRun() + testing::engineMissing(engine);
      !missing.empty())
    GTEST_SKIP() << missing;
  Job job(engine);
  const auto before = job.state();
  EXPECT_EQ(job.run(kBin + "/mailsort' --batch --no-print", "MAILSORT_STOP_AT=" + point), 128 + SIGKILL);
  const bool committed = point != "before-commit";
  if (!committed) {
    EXPECT_TRUE(job.state() == before);
  }
  EXPECT_FALSE(testing::labelProgramStartedIn(job.dir.path(), 0));

  // Started again as the operator or the suite would: the window ends by
  // itself when it finds that a Chain Mode run had finished.
  fs::remove(job.dir.file("out"));
  EXPECT_EQ(job.run(kBin + "/mailsort' --no-print" + (window ? "" : " --batch"), "timeout 60"), 0);
  const std::string said = readFile(job.dir.file("out"));
  EXPECT_EQ(said.find("The last run in " + fs::canonical(job.dir.path()).string() +
                      " had finished; its files have now been put in place.") != std::string::npos,
            committed)
      << said;
  EXPECT_TRUE(job.state() == finished(engine)) << said;
  // The killed run left no line in the log; the start that ended it, one.
  const std::string log = readFile(job.dir.file("MAILSORT.LOG"));
  EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 1) << log;
  EXPECT_NE(log.find(committed ? "\"outcome\":\"recovered\"" : "\"outcome\":\"finished\""), std::string::npos)
      << log;
  EXPECT_TRUE(testing::labelProgramStartedIn(job.dir.path(), 5));
  for (const auto& entry : fs::directory_iterator(job.dir.path()))
    EXPECT_NE(entry.path().filename().string()[0], '.') << entry.path();
}

// A journal that cannot be written (here a folder stands where it is
// made) is a fault before the commit: the run changes nothing and says so.
TEST(KilledAtTheCommitOrNot, AJournalThatCannotBeWrittenLeavesTheJobAsItWas) {
  if (const std::string missing = testing::missingForSampleRun(); !missing.empty()) GTEST_SKIP() << missing;
  Job job(Engine::Sqlite);
  const auto before = job.state();
  fs::create_directory(job.dir.file(".mailsort-publish.new"));
  EXPECT_EQ(job.run(kBin + "/mailsort' --batch --no-print"), 5);
  const std::string said = readFile(job.dir.file("out"));
  EXPECT_NE(said.find("the run's journal could not be written"), std::string::npos) << said;
  EXPECT_TRUE(job.state() == before);
  EXPECT_FALSE(testing::labelProgramStartedIn(job.dir.path(), 0.5));
}

INSTANTIATE_TEST_SUITE_P(Hinge, KilledAtTheCommit,
                         ::testing::Values(std::make_tuple(Engine::Sqlite, "before-commit", false),
                                           std::make_tuple(Engine::Sqlite, "after-commit", false),
                                           std::make_tuple(Engine::Sqlite, "after-commit", true),
                                           std::make_tuple(Engine::Sqlite, "before-rename-1", false),
                                           std::make_tuple(Engine::Sqlite, "before-rename-3", false),
                                           std::make_tuple(Engine::Sqlite, "before-rename-5", true),
                                           std::make_tuple(Engine::Postgres, "before-commit", false),
                                           std::make_tuple(Engine::Postgres, "after-commit", false),
                                           std::make_tuple(Engine::Postgres, "before-rename-1", false),
                                           std::make_tuple(Engine::Postgres, "before-rename-5", false)),
                         [](const auto& test) {
                           std::string name =
                               std::string(std::get<0>(test.param) == Engine::Sqlite ? "Sqlite"
                                                                                     : "Postgres") +
                               "_" + std::get<1>(test.param) + (std::get<2>(test.param) ? "_Window" : "");
                           for (char& c : name)
                             if (c == '-') c = '_';
                           return name;
                         });

}  // namespace
}  // namespace ms
