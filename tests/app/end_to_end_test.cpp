// The program itself on a generated sample job in Chain Mode, without a
// screen: it must run to the end by itself and leave the database handed
// over to the label program.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "app/file_holder.h"
#include "app/run_fixture.h"

namespace ms {
namespace {

using testing::LabelProgramStandIn;
using testing::TempDir;

int shell(const std::string& command) {
  int status = std::system(command.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// One value of an existing database file, as text ("" for Null or no row).
std::string ask(const std::string& file, const std::string& sql) {
  sqlite3* db = nullptr;
  std::string result;
  if (sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr) == SQLITE_OK &&
        sqlite3_step(st) == SQLITE_ROW && sqlite3_column_text(st, 0))
      result = reinterpret_cast<const char*>(sqlite3_column_text(st, 0));
    sqlite3_finalize(st);
  }
  sqlite3_close(db);
  return result;
}

TEST(EndToEnd, ChainModeRunOfTheProgramOnASampleJob) {
  const std::string bin = MAILSORT_BINARY_DIR;
  if (!std::filesystem::exists(bin + "/mailsort-sample") || !std::filesystem::exists(bin + "/mailsort"))
    GTEST_SKIP() << "build/mailsort and build/mailsort-sample are needed; build them first";

  TempDir job;
  const std::string mdb = job.file("mailsort.mdb");
  ASSERT_EQ(shell("'" + bin + "/mailsort-sample' --out '" + job.path() + "' --records 400 --seed 7 --chain"),
            0);
  ASSERT_EQ(ask(mdb, "SELECT RunAlone FROM parmcode"), "Y");
  const bool labels = ask(mdb, "SELECT RunLabels FROM parmcode") == "Y";
  const std::string records = ask(mdb, "SELECT COUNT(*) FROM kvwork");

  LabelProgramStandIn kvprint;
  int status = shell("cd '" + job.path() + "' && QT_QPA_PLATFORM=offscreen timeout 300 '" + bin +
                     "/mailsort' > run.out 2>&1");
  ASSERT_EQ(status, 0) << testing::readFile(job.file("run.out"));

  // The hand-over: flags cleared, the work table allocated, the bags table
  // re-created and filled, the PO files and the PDF beside the database.
  EXPECT_EQ(ask(mdb, "SELECT RunAlone FROM parmcode"), "N");
  EXPECT_EQ(ask(mdb, "SELECT RunReports FROM parmcode"), "N");
  EXPECT_EQ(ask(mdb, "SELECT RunCodes FROM parmcode"), "N");
  EXPECT_EQ(ask(mdb, "SELECT COUNT(*) FROM kvwork"), records);
  EXPECT_NE(ask(mdb, "SELECT COUNT(*) FROM kvwork WHERE seq IS NOT NULL AND seq <> 0"), "0");
  EXPECT_NE(ask(mdb, "SELECT COUNT(*) FROM bags"), "");
  EXPECT_NE(ask(mdb, "SELECT COUNT(*) FROM bags"), "0");
  for (const char* file : {"POFILE.DAT", "POLINE.CSV", "POADDR.CSV", "POPLAN.CSV", "MAILSORT.PDF"})
    EXPECT_TRUE(std::filesystem::exists(job.file(file))) << file;
  EXPECT_EQ(LabelProgramStandIn::startedIn(job.path(), labels ? 5 : 0.5), labels);

  // The database is free again for the next option of the suite.
  EXPECT_EQ(shell("flock -n -x '" + mdb + "' true"), 0);
}

// The program on a job it cannot start: it must say why on standard error
// and end by itself with a non-zero status, never waiting for a click.
TEST(EndToEnd, TheProgramEndsWithAMessageWhenItCannotRun) {
  const std::string bin = MAILSORT_BINARY_DIR;
  if (!std::filesystem::exists(bin + "/mailsort")) GTEST_SKIP() << "build/mailsort is needed; build it first";
  auto run = [&](const std::string& folder) {
    int status = shell("cd '" + folder + "' && QT_QPA_PLATFORM=offscreen timeout 60 '" + bin +
                       "/mailsort' > run.out 2>&1");
    return std::make_pair(status, testing::readFile(folder + "/run.out"));
  };
  {
    testing::JobFolder job;  // another option holds the database
    job.db().insertParameters({{"RunAlone", "Y"}, {"RunCodes", "Y"}});
    testing::FileHolder other(job.path() + "/mailsort.mdb");
    ASSERT_TRUE(other.holding());
    auto [status, out] = run(job.path());
    EXPECT_NE(status, 0);
    EXPECT_NE(status, 124) << "the program waited";
    EXPECT_NE(out.find("Another option is currently running, wait until it has finished then try again."),
              std::string::npos)
        << out;
    EXPECT_EQ(job.flag("RunCodes"), "Y");
  }
  {
    testing::JobFolder job;  // a Chain Mode job without its work table
    job.db().insertParameters({{"RunAlone", "Y"}});
    job.db().exec("DROP TABLE kvwork");
    auto [status, out] = run(job.path());
    EXPECT_NE(status, 0);
    EXPECT_NE(status, 124) << "the program waited";
    EXPECT_NE(out.find("kvwork"), std::string::npos) << out;
  }
}

}  // namespace
}  // namespace ms
