// The program itself, without a screen: on a generated sample job in Chain
// Mode it runs to the end by itself and hands the database over; on a job it
// cannot start it says why and ends with a non-zero status, never waiting.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>

#include "app/run_fixture.h"

namespace ms {
namespace {

using testing::labelProgramStartedIn;

const std::string kBin = MAILSORT_BINARY_DIR;

int shell(const std::string& command) {
  int status = std::system(command.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::pair<int, std::string> runMailsort(const std::string& folder, int seconds = 300) {
  int status = shell("cd '" + folder + "' && QT_QPA_PLATFORM=offscreen timeout " + std::to_string(seconds) +
                     " '" + kBin + "/mailsort' > run.out 2>&1");
  return {status, testing::readFile(folder + "/run.out")};
}

// One value of a database file as text ("" for Null or no row).
std::string ask(const std::string& file, const std::string& sql) {
  sqlite3* db = nullptr;
  sqlite3_stmt* st = nullptr;
  std::string result;
  if (sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK &&
      sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr) == SQLITE_OK && sqlite3_step(st) == SQLITE_ROW &&
      sqlite3_column_text(st, 0))
    result = reinterpret_cast<const char*>(sqlite3_column_text(st, 0));
  sqlite3_finalize(st);
  sqlite3_close(db);
  return result;
}

TEST(EndToEnd, ChainModeRunOfTheProgramOnASampleJob) {
  if (!std::filesystem::exists(kBin + "/mailsort-sample") || !std::filesystem::exists(kBin + "/mailsort"))
    GTEST_SKIP() << "build/mailsort and build/mailsort-sample are needed; build them first";
  testing::TempDir job;
  const std::string mdb = job.file("mailsort.mdb");
  ASSERT_EQ(shell("'" + kBin + "/mailsort-sample' --out '" + job.path() + "' --records 400 --seed 7 --chain"),
            0);
  ASSERT_EQ(ask(mdb, "SELECT RunAlone FROM parmcode"), "Y");
  const bool labels = ask(mdb, "SELECT RunLabels FROM parmcode") == "Y";
  const std::string records = ask(mdb, "SELECT COUNT(*) FROM kvwork");

  auto [status, out] = runMailsort(job.path());
  ASSERT_EQ(status, 0) << out;
  EXPECT_EQ(ask(mdb, "SELECT RunAlone || RunReports || RunCodes FROM parmcode"), "NNN");
  EXPECT_EQ(ask(mdb, "SELECT COUNT(*) FROM kvwork"), records);
  EXPECT_NE(ask(mdb, "SELECT COUNT(*) FROM kvwork WHERE seq IS NOT NULL AND seq <> 0"), "0");
  EXPECT_NE(ask(mdb, "SELECT COUNT(*) FROM bags"), "");
  EXPECT_NE(ask(mdb, "SELECT COUNT(*) FROM bags"), "0");
  for (const char* file : {"POFILE.DAT", "POLINE.CSV", "POADDR.CSV", "POPLAN.CSV", "MAILSORT.PDF"})
    EXPECT_TRUE(std::filesystem::exists(job.file(file))) << file;
  EXPECT_EQ(labelProgramStartedIn(job.path(), labels ? 5 : 0.5), labels);
  EXPECT_EQ(shell("flock -n -x '" + mdb + "' true"), 0);  // free for the suite's next option
}

TEST(EndToEnd, TheProgramEndsWithAMessageWhenItCannotRun) {
  if (!std::filesystem::exists(kBin + "/mailsort"))
    GTEST_SKIP() << "build/mailsort is needed; build it first";
  {
    testing::JobFolder job;  // another option holds the database
    job.db().insertParameters({{"RunAlone", "Y"}, {"RunCodes", "Y"}});
    testing::FileHolder other(job.path() + "/mailsort.mdb");
    ASSERT_TRUE(other.holding);
    auto [status, out] = runMailsort(job.path(), 60);
    EXPECT_TRUE(status != 0 && status != 124) << status;  // 124: it waited
    EXPECT_NE(out.find("Another option is currently running, wait until it has finished then try again."),
              std::string::npos)
        << out;
    EXPECT_EQ(job.flag("RunCodes"), "Y");
  }
  testing::JobFolder job;  // a Chain Mode job without its work table
  job.db().insertParameters({{"RunAlone", "Y"}});
  job.db().exec("DROP TABLE kvwork");
  auto [status, out] = runMailsort(job.path(), 60);
  EXPECT_TRUE(status != 0 && status != 124) << status;
  EXPECT_NE(out.find("kvwork"), std::string::npos) << out;
  EXPECT_EQ(job.flag("RunAlone"), "Y");  // the run never got as far as the flags
}

}  // namespace
}  // namespace ms
