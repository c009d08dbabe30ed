// The run from opening the database to the hand-over to the label program,
// driven without a window, and the run's print job.
#include "job/run_driver.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <tuple>

#include "app/run_fixture.h"
#include "job/run_print_job.h"
#include "reports/common/text_page_sink.h"
#include "support/fake_progress.h"

namespace ms {
namespace {

// The label program as the run starts it: each path it was started at.
struct LabelStarter : ProgramStarter {
  std::vector<std::string> started;
  bool startDetached(const std::string& path) override {
    started.push_back(path);
    return true;
  }
};

// A job folder with Job Parameters and, unless told not to, five work
// records in three selections, and a run wired to a fake screen and paper.
struct Job {
  testing::JobFolder folder;
  RunState run;
  testing::FakeProgress screen{run};
  TextPageSink paper;
  LabelStarter labels;
  explicit Job(const testing::Row& parameters, bool work = true) {
    folder.db().insertParameters(parameters);
    if (work) folder.addJob({"12345", "12345", "12345", "12399", "13000"});
    run.progress = &screen;
    run.printer = &paper;
  }
  RunEnd all() {
    performRun(run);
    return endRun(run, labels);
  }
};

// A whole run derives its limits and runs both steps, on an empty work table
// too. Chain Mode ends by clearing RunAlone and RunReports and closing the
// database; the label program starts only after a whole run with RunLabels
// "Y". Outside Chain Mode the flags and the database are left as they are.
// Cancel is pressed at the first record and answered No but in one case.
TEST(RunDriver, ChainModeEndsAndStartsTheLabelProgramOnlyAfterAWholeRun) {
  // Name, RunLabels, Job Parameters and the parts of the one message of a refused job.
  const std::tuple<const char*, const char*, testing::Row, std::vector<std::string>> cases[] = {
      {"whole", "Y", {}, {}},
      {"whole", "N", {}, {}},
      {"whole", "y", {}, {}},
      {"whole", "Y ", {}, {}},
      {"outside Chain Mode", "Y", {{"RunAlone", "y"}}, {}},
      {"outside Chain Mode, no work", "Y", {{"RunAlone", "y"}}, {}},
      {"whole, Regional Sequencing", "Y", {{"service", "M1"}, {"Geog", "Y"}}, {}},
      {"whole, no ranks needed", "Y", {{"service", "M2"}, {"Geog", "Y"}, {"postcode", "ZZ9 9ZZ"}}, {}},
      {"cancel Yes", "Y", {}, {}},
      {"whole, one item a bag", "Y", {{"BagMax", 15.0}, {"Weight", 10.0}}, {}},
      {"bag holds no item", "Y", {{"BagMax", 50.0}, {"Weight", 95.0}}, {"50", "95"}},
      {"no bag limit", "Y", {{"BagMax", Value()}}, {"BagMax in parmcode is Null: it must be a number"}},
      {"bag limit not a number", "Y", {{"BagMax", "abc"}}, {"BagMax in parmcode is \"abc\": it must be"}},
      {"weight not a number", "Y", {{"Weight", "heavy"}}, {"Weight in parmcode is \"heavy\": it must be"}},
      {"too many items", "Y", {{"BagMax", 1e12}, {"Weight", 1.0}}, {"BagMax 1000000000000", "Weight of 1"}},
      {"no weight", "Y", {{"Weight", 0.0}}, {"Weight in parmcode is 0"}},
      {"negative bundle", "Y", {{"BundleMax", -5.0}}, {"BundleMax in parmcode is -5"}},
      {"cannot rank", "Y", {{"service", "M1"}, {"Geog", "Y"}, {"postcode", "ZZ9 9ZZ"}}, {"ZZ9 9ZZ"}},
  };
  for (const auto& [name, labels, changes, message] : cases) {
    SCOPED_TRACE(std::string(name) + ", RunLabels '" + labels + "'");
    testing::Row parameters = {
        {"RunAlone", "Y"}, {"RunReports", "Y"}, {"RunCodes", "N"}, {"RunLabels", labels}};
    parameters.insert(parameters.end(), changes.begin(), changes.end());
    const bool work = !std::string(name).ends_with("no work");
    Job r(parameters, work);
    r.folder.db().exec(
        "INSERT INTO pcode VALUES ('AB12 3', '123'); INSERT INTO sequence VALUES ('123', '0705')");
    const bool cancel = std::string(name) == "cancel Yes", whole = message.empty() && !cancel;
    const bool chain = !std::string(name).starts_with("outside");
    const bool started = chain && whole && std::string(labels) == "Y";
    const bool unranked = std::ranges::any_of(changes, [](auto& p) { return p.first == "postcode"; });
    r.screen.answer = cancel ? Answer::Yes : Answer::No;
    r.screen.cancelAtYield = 1;
    RunEnd end = r.all();

    EXPECT_EQ(std::tuple(end.chainMode, end.labelProgramStarted), std::tuple(chain, started));
    ASSERT_EQ(r.labels.started.size(), started ? 1u : 0u);
    EXPECT_TRUE(!started || r.labels.started[0].ends_with("/kvprint.exe"));
    EXPECT_EQ(std::tuple(r.run.mdb->isOpen(), r.folder.flag("RunAlone") + r.folder.flag("RunReports"),
                         r.folder.flag("RunLabels")),
              std::tuple(!chain, chain ? "NN" : "yY", labels));
    EXPECT_EQ(r.folder.tableExists("bags"), whole);
    EXPECT_EQ(r.run.cancelflag, whole ? "N" : "Y");
    EXPECT_EQ(r.screen.questions, message.empty() && work ? 1 : 0);
    EXPECT_EQ(whole ? 1 : r.screen.yields, cancel ? 1 : whole);  // cut short: at once, or before any record
    EXPECT_EQ(r.screen.busy, (std::vector<bool>{true, false}));
    if (whole && changes.size() < 2) {  // 10000 / 95 = 105.26 a bag, 105 / 25 = 4.2 bundles rounded up
      EXPECT_EQ(std::tuple(r.run.bagitems, r.run.bundlesperbag, r.run.minsel, r.run.totrecs),
                std::tuple(105, 5.0, 3.0, work ? 5.0 : 0.0));
    }
    EXPECT_EQ(r.run.sortcodes, unranked ? "" : "0705");  // the ranks of the posting postcode
    ASSERT_EQ(r.screen.messages.size(), message.empty() ? 0u : 1u);
    if (message.empty()) continue;
    for (const std::string& part : message)
      EXPECT_NE(r.screen.messages[0].find(part), std::string::npos) << r.screen.messages[0];
    // A refused job is left as it was and nothing is printed.
    EXPECT_EQ(r.folder.db()
                  .scalar("SELECT COUNT(*) FROM kvwork WHERE seq <> 0 OR sflag = 'Y' OR rgcode <> ''")
                  .number(),
              0);
    EXPECT_TRUE(r.paper.allText().empty());
  }
}

// Failures before the allocation leave the run for the caller to report,
// naming what failed, with nothing written.
TEST(RunDriver, FailuresBeforeTheAllocationLeaveTheRunNamingWhatFailed) {
  const std::tuple<testing::Row, std::string, std::string> cases[] = {
      {{}, "rm", "mailsort.mdb not found"},
      {{}, "empty", "mailsort.mdb is empty: not a Mailsort Database"},
      {{}, "DROP TABLE kvwork", "Table 'kvwork' not found in "},
      {{}, "DROP TABLE parmcode", "Table 'parmcode' not found in "},
      {{}, "DELETE FROM parmcode", "parmcode holds no record"},
      {{{"selection", Value()}}, "", "selection in parmcode is Null"},
  };
  for (const auto& [parameters, sql, named] : cases) {
    SCOPED_TRACE(named);
    Job r(parameters);
    if (sql == "rm" || sql == "empty") std::filesystem::remove("mailsort.mdb");
    if (sql == "empty") std::ofstream("mailsort.mdb").flush();
    if (sql.starts_with("D")) r.folder.db().exec(sql);
    try {
      performRun(r.run);
      ADD_FAILURE() << "the run went on";
    } catch (const std::exception& e) {
      EXPECT_EQ(describeFailure(e).find(named), 0u) << describeFailure(e);
    }
    EXPECT_FALSE((sql.starts_with("D") && r.folder.tableExists("bags")) || r.screen.yields != 0);
  }
}

// Another program holds the database for good: the operator is told once
// the run has waited a second, and Cancel then ends the wait and the run at
// once, as a cancelled run with no fault to report.
TEST(RunDriver, AWaitForAnotherProgramIsToldOnceAndEndsOnCancel) {
  Job r({});
  r.folder.db().exec("BEGIN IMMEDIATE");
  r.screen.cancelWhenWaiting = true;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(performRun(r.run), RunStop::Cancelled);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
  EXPECT_EQ(r.screen.reasons, std::vector<store::WaitReason>{store::WaitReason::OtherProgram});
  EXPECT_TRUE(r.run.faults.empty()) << r.run.faults.report();
  r.folder.db().exec("ROLLBACK");
}

// The label program is looked up in the absolute entries of PATH only; one
// asked for and not found is told, naming it and the PATH searched, and the
// run's work stays published.
TEST(RunDriver, TheLabelProgramIsLookedUpInAbsolutePathEntriesAndOneNotFoundIsTold) {
  Job r({{"RunAlone", "Y"}, {"RunLabels", "Y"}});
  testing::TempDir bin;
  for (const std::string& folder : {r.folder.path(), bin.path()}) {
    std::ofstream(folder + "/kvprint.exe") << "#!/bin/sh\n";
    std::filesystem::permissions(folder + "/kvprint.exe", std::filesystem::perms::owner_all);
  }
  const std::string saved = std::getenv("PATH");
  setenv("PATH", ".::bin", 1);
  EXPECT_EQ(findInPath("kvprint.exe"), "");
  setenv("PATH", (".:" + bin.path()).c_str(), 1);
  EXPECT_EQ(findInPath("kvprint.exe"), bin.path() + "/kvprint.exe");
  setenv("PATH", saved.c_str(), 1);

  performRun(r.run);
  const RunEnd end = endRun(r.run, r.labels, "no-such-label-program.exe");
  EXPECT_FALSE(end.labelProgramStarted);
  EXPECT_NE(end.labelProblem.find("no-such-label-program.exe was not found in PATH (" + saved + ")"),
            std::string::npos)
      << end.labelProblem;
  EXPECT_TRUE(r.run.published && r.folder.tableExists("bags"));
}

TEST(RunPrintJob, EndsAJobLeftOpenOnceAndLeavesAnUnstartedOneAlone) {
  TextPageSink unstarted, open, ended;
  RunPrintJob a(&unstarted), b(&open), c(&ended);
  a.finish();  // cancelled before anything was printed
  EXPECT_FALSE(unstarted.ended());
  b.printLine("Mailsort Line Report");
  b.finish();  // cancelled during the line report
  b.finish();
  EXPECT_EQ(open.endDocCount(), 1);
  EXPECT_EQ(open.allText(), std::vector<std::string>{"Mailsort Line Report"});
  c.printLine("x");
  c.newPage();
  c.endDoc();  // the planning report ends it
  c.finish();
  EXPECT_EQ(std::tuple(ended.endDocCount(), c.page()), std::tuple(1, ended.page()));
  RunPrintJob nowhere(nullptr);  // a run without a printer
  nowhere.printLine("x");
  nowhere.finish();
  EXPECT_TRUE(nowhere.ended());
  ended.printLine("late");  // an ended job keeps later lines apart, for the reports' tests to find
  EXPECT_EQ(ended.afterEnd(), std::vector<std::string>{"late"});
}

}  // namespace
}  // namespace ms
