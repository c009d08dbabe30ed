// The run from opening the database to the hand-over to the label program,
// driven without a window, and the run's print job.
#include "app/run_driver.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>

#include "app/run_fixture.h"
#include "app/run_print_job.h"
#include "reports/common/text_page_sink.h"
#include "run/progress.h"
#include "run/run_state.h"

namespace ms {
namespace {

using testing::labelProgramStartedIn;

// A screen-less Progress: keeps what the run showed, counts yields and
// questions, presses Cancel inside the `cancelAtYield`-th yield.
class FakeProgress : public Progress {
 public:
  explicit FakeProgress(RunState& run) : run_(run) {}
  void setCellVisible(int, bool) override {}
  void setVisible(Control control, bool visible) override { shown[control] = visible; }
  void setCaption(Control label, const std::string& text) override { captions[label] = text; }
  void setBusyPointer(bool on) override { busy.push_back(on); }
  void yield() override {
    if (++yields == cancelAtYield) cancelPressed(run_);
  }
  Answer confirmCancel() override { return ++questions, answer; }
  void message(const std::string& text) override { messages.push_back(text); }

  Answer answer = Answer::No;
  int cancelAtYield = 0, yields = 0, questions = 0;
  std::map<Control, bool> shown;
  std::map<Control, std::string> captions;
  std::vector<bool> busy;
  std::vector<std::string> messages;

 private:
  RunState& run_;
};

// A job folder with Job Parameters and, unless told not to, five work
// records in three selections, and a run wired to a fake screen and paper.
struct Job {
  testing::JobFolder folder;
  RunState run;
  FakeProgress screen{run};
  TextPageSink paper;
  explicit Job(const testing::Row& parameters, bool work = true) {
    folder.db().insertParameters(parameters);
    if (work) folder.addJob({"12345", "12345", "12345", "12399", "13000"});
    run.progress = &screen;
    run.printer = &paper;
  }
  RunEnd all() {
    performRun(run);
    return endRun(run);
  }
};

TEST(RunDriver, ARunOutsideChainModeDerivesTheLimitsRunsBothStepsAndKeepsTheFlags) {
  Job r({{"RunAlone", "y"}, {"RunReports", "Y"}, {"RunLabels", "Y"}});
  RunEnd end = r.all();
  EXPECT_EQ(r.run.bagitems, 105);     // 10000 / 95 = 105.26
  EXPECT_EQ(r.run.bundlesperbag, 5);  // 105 / 25 = 4.2, rounded up
  EXPECT_EQ(r.run.minsel, 3);
  EXPECT_EQ(r.run.totrecs, 5);
  EXPECT_EQ(r.run.cancelflag, "N");
  for (Control c : {Control::cmdCancel, Control::lblPerc1, Control::lblPerc2, Control::lblPerc3,
                    Control::Line1, Control::Line2, Control::Line3, Control::Line4})
    EXPECT_TRUE(r.screen.shown[c]) << static_cast<int>(c);
  EXPECT_EQ(r.screen.captions[Control::lblPerc1], "  Printing ");
  EXPECT_EQ(r.screen.captions[Control::lblPerc3], "percent complete (step 2 of 2)");
  EXPECT_EQ(r.screen.busy, (std::vector<bool>{true, false}));
  EXPECT_TRUE(r.folder.tableExists("bags"));
  EXPECT_TRUE(r.screen.messages.empty());
  EXPECT_FALSE(end.chainMode || end.labelProgramStarted);
  EXPECT_EQ(r.folder.flag("RunAlone") + r.folder.flag("RunReports"), "yY");
  ASSERT_TRUE(r.run.mdb);
  EXPECT_TRUE(r.run.mdb->isOpen());
  EXPECT_EQ(r.run.printer, &r.paper);
  EXPECT_FALSE(labelProgramStartedIn(r.folder.path(), 0.5));

  Job empty({}, false);  // an empty work table still runs step 2
  empty.all();
  EXPECT_EQ(empty.run.totrecs, 0);
  EXPECT_EQ(empty.screen.captions[Control::lblPerc1], "  Printing ");
  EXPECT_TRUE(empty.folder.tableExists("bags"));
}

// Chain Mode ends by clearing RunAlone and RunReports and closing the
// database; the label program starts only after a whole run with RunLabels
// "Y". Cancel is pressed at the first record and answered No but in one case.
TEST(RunDriver, ChainModeEndsAndStartsTheLabelProgramOnlyAfterAWholeRun) {
  struct Case {
    const char* name;
    const char* labels;
    testing::Row parameters;
    std::vector<std::string> message;  // parts of the one message of a refused job
  };
  const Case cases[] = {
      {"whole", "Y", {}, {}},
      {"whole", "N", {}, {}},
      {"whole", "y", {}, {}},
      {"whole", "Y ", {}, {}},
      {"whole, ranks only under service x1",
       "Y",
       {{"service", "M2"}, {"Geog", "Y"}, {"postcode", "ZZ9 9ZZ"}},
       {}},
      {"cancel Yes", "Y", {}, {}},
      {"bag holds no item", "Y", {{"BagMax", 50.0}, {"Weight", 95.0}}, {"50", "95"}},
      {"no weight", "Y", {{"Weight", 0.0}}, {"Weight in parmcode is 0"}},
      {"negative bundle", "Y", {{"BundleMax", -5.0}}, {"BundleMax in parmcode is -5"}},
      {"cannot rank", "Y", {{"service", "M1"}, {"Geog", "Y"}, {"postcode", "ZZ9 9ZZ"}}, {"ZZ9 9ZZ"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.name) + ", RunLabels '" + c.labels + "'");
    testing::Row parameters = {
        {"RunAlone", "Y"}, {"RunReports", "Y"}, {"RunCodes", "N"}, {"RunLabels", c.labels}};
    parameters.insert(parameters.end(), c.parameters.begin(), c.parameters.end());
    Job r(parameters);
    const bool cancel = std::string(c.name) == "cancel Yes", whole = c.message.empty() && !cancel;
    const bool started = whole && std::string(c.labels) == "Y";
    r.screen.answer = cancel ? Answer::Yes : Answer::No;
    r.screen.cancelAtYield = 1;
    RunEnd end = r.all();

    EXPECT_TRUE(end.chainMode);
    EXPECT_EQ(end.labelProgramStarted, started);
    EXPECT_EQ(labelProgramStartedIn(r.folder.path(), started ? 5 : 0.5), started);
    EXPECT_FALSE(r.run.mdb->isOpen());
    EXPECT_EQ(r.folder.flag("RunAlone") + r.folder.flag("RunReports"), "NN");
    EXPECT_EQ(r.folder.flag("RunLabels"), c.labels);
    EXPECT_EQ(r.folder.tableExists("bags"), whole);
    EXPECT_EQ(r.run.cancelflag, whole ? "N" : "Y");
    EXPECT_EQ(r.screen.questions, c.message.empty() ? 1 : 0);
    EXPECT_EQ(whole ? 1 : r.screen.yields, cancel ? 1 : whole);  // cut short: at once, or before any record
    EXPECT_EQ(r.screen.captions[Control::lblPerc1], whole ? "  Printing " : "");
    EXPECT_EQ(r.screen.busy.back(), false);
    ASSERT_EQ(r.screen.messages.size(), c.message.empty() ? 0u : 1u);
    if (c.message.empty()) continue;
    for (const std::string& part : c.message)
      EXPECT_NE(r.screen.messages[0].find(part), std::string::npos) << r.screen.messages[0];
    // A refused job is left as it was and nothing is printed.
    EXPECT_EQ(r.folder.db()
                  .scalar("SELECT COUNT(*) FROM kvwork WHERE seq <> 0 OR sflag = 'Y' OR rgcode <> ''")
                  .number(),
              0);
    EXPECT_TRUE(r.paper.allText().empty());
  }
}

TEST(RunDriver, RanksAreLoadedForRegionalSequencing) {
  Job m1({{"service", "M1"}, {"Geog", "Y"}, {"postcode", "AB12 3CD"}}, false);
  m1.folder.db().exec("INSERT INTO pcode (code, mdsel) VALUES ('AB12 3', '123')");
  m1.folder.db().exec("INSERT INTO sequence (code, mdsorts) VALUES ('123', '0705')");
  performRun(m1.run);
  EXPECT_TRUE(m1.screen.messages.empty());
  EXPECT_EQ(m1.run.sortcodes, "0705");
  EXPECT_EQ(m1.screen.captions[Control::lblPerc1], "  Printing ");
}

// Failures before the allocation leave the run for the caller to report,
// naming what failed, with nothing written.
TEST(RunDriver, FailuresBeforeTheAllocationLeaveTheRunNamingWhatFailed) {
  struct Case {
    testing::Row parameters;
    std::string sql, named;
  };
  const Case cases[] = {
      {{}, "rm", "mailsort.mdb not found"},
      {{}, "empty", "mailsort.mdb is empty: not a Mailsort Database"},
      {{}, "DROP TABLE kvwork", "Table 'kvwork' not found."},
      {{}, "DROP TABLE parmcode", "Table 'parmcode' not found."},
      {{}, "DELETE FROM parmcode", "parmcode holds no record"},
      {{{"BagMax", Value()}}, "", "BagMax in parmcode is Null"},
      {{{"Weight", "heavy"}}, "", "Weight in parmcode is not a number: \"heavy\""},
      {{{"selection", Value()}}, "", "selection in parmcode is Null"},
      {{{"BagMax", 1e12}, {"Weight", 1.0}}, "", "BagMax 1000000000000 / Weight 1"},  // beyond 32 bits
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.named);
    Job r(c.parameters);
    if (c.sql == "rm" || c.sql == "empty") std::filesystem::remove("mailsort.mdb");
    if (c.sql == "empty") std::ofstream("mailsort.mdb").flush();
    if (c.sql.starts_with("D")) r.folder.db().exec(c.sql);
    try {
      performRun(r.run);
      ADD_FAILURE() << "the run went on";
    } catch (const std::exception& e) {
      EXPECT_EQ(describeFailure(e).find(c.named), 0u) << describeFailure(e);
    }
    EXPECT_FALSE(c.sql.starts_with("D") && r.folder.tableExists("bags"));
    EXPECT_EQ(r.run.printer, &r.paper);
    EXPECT_EQ(r.screen.yields, 0);
  }
}

// A label program planted in the job folder is never started through a
// relative PATH entry; an absolute one finds the real program.
TEST(RunDriver, TheLabelProgramIsLookedUpInAbsolutePathEntriesOnly) {
  testing::JobFolder job;
  testing::TempDir bin;
  for (const std::string& folder : {job.path(), bin.path()}) {
    std::ofstream(folder + "/kvprint.exe") << "#!/bin/sh\n";
    std::filesystem::permissions(folder + "/kvprint.exe", std::filesystem::perms::owner_all);
  }
  const std::string saved = std::getenv("PATH");
  setenv("PATH", ".::bin", 1);
  EXPECT_EQ(findInPath("kvprint.exe"), "");
  setenv("PATH", (".:" + bin.path()).c_str(), 1);
  EXPECT_EQ(findInPath("kvprint.exe"), bin.path() + "/kvprint.exe");
  setenv("PATH", saved.c_str(), 1);
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
  EXPECT_EQ(ended.endDocCount(), 1);
  EXPECT_EQ(c.page(), ended.page());
  RunPrintJob nowhere(nullptr);  // a run without a printer
  nowhere.printLine("x");
  nowhere.finish();
  EXPECT_TRUE(nowhere.ended());
}

}  // namespace
}  // namespace ms
