// The run from opening the database to the hand-over to the label program,
// driven without a window.
#include "app/run_driver.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "app/run_fixture.h"

namespace ms {
namespace {

using testing::FakeProgress;
using testing::JobFolder;
using testing::LabelProgramStandIn;
using testing::TestRun;

const std::vector<std::string> kCodes = {"12345", "12345", "12345", "12399", "13000"};

class RunDriverTest : public ::testing::Test {
 protected:
  void job(const testing::Row& parameters = {}) {
    folder.db().insertParameters(parameters);
    folder.addWork(kCodes);
    folder.addReference(kCodes);
  }
  // The whole run, as the Progress Window performs it.
  RunEnd runAll() {
    performRun(t.run);
    return endRun(t.run);
  }
  double workSum(const std::string& field) {
    return folder.db().scalar("SELECT TOTAL(" + field + ") FROM kvwork").number();
  }

  JobFolder folder;
  TestRun t;
};

TEST_F(RunDriverTest, DerivesTheLimitsAndRunsBothSteps) {
  job();
  RunEnd end = runAll();

  EXPECT_EQ(t.run.bagitems, 105);     // 10000 / 95 = 105.26
  EXPECT_EQ(t.run.bundlesperbag, 5);  // 105 / 25 = 4.2, rounded up to a whole bundle
  EXPECT_EQ(t.run.minsel, 3);
  EXPECT_EQ(t.run.totrecs, 5);
  EXPECT_EQ(t.run.cancelflag, "N");

  // Shown at the start; captions of step 2; the pointer busy, then back.
  for (Control c : {Control::cmdCancel, Control::lblPerc1, Control::lblPerc2, Control::lblPerc3,
                    Control::Line1, Control::Line2, Control::Line3, Control::Line4})
    EXPECT_TRUE(t.screen.shown[c]) << static_cast<int>(c);
  EXPECT_EQ(t.screen.captions[Control::lblPerc1], "  Printing ");
  EXPECT_EQ(t.screen.captions[Control::lblPerc3], "percent complete (step 2 of 2)");
  EXPECT_EQ(t.screen.busyHistory, (std::vector<bool>{true, false}));
  EXPECT_TRUE(folder.tableExists("bags"));
  EXPECT_TRUE(t.screen.messages.empty());

  // Not Chain Mode: the Job Parameters stay as they were and the database
  // stays open for the next run.
  EXPECT_FALSE(end.chainMode);
  EXPECT_FALSE(end.labelProgramStarted);
  EXPECT_EQ(folder.flag("RunReports"), "N");
  EXPECT_EQ(folder.flag("RunAlone"), "N");
  ASSERT_TRUE(t.run.mdb);
  EXPECT_TRUE(t.run.mdb->isOpen());
  // The caller's printer is given back after the run.
  EXPECT_EQ(t.run.printer, &t.paper);
}

TEST_F(RunDriverTest, AnEmptyWorkTableStillRunsStepTwo) {
  folder.db().insertParameters();
  runAll();
  EXPECT_EQ(t.run.totrecs, 0);
  EXPECT_EQ(t.screen.captions[Control::lblPerc1], "  Printing ");
  EXPECT_TRUE(folder.tableExists("bags"));
}

TEST_F(RunDriverTest, ChainModeClearsTheFlagsClosesTheDatabaseAndStartsTheLabelProgram) {
  LabelProgramStandIn kvprint;
  job({{"RunAlone", "Y"}, {"RunReports", "Y"}, {"RunLabels", "Y"}, {"RunCodes", "N"}});
  RunEnd end = runAll();

  EXPECT_TRUE(end.chainMode);
  EXPECT_TRUE(end.labelProgramStarted);
  EXPECT_FALSE(t.run.mdb->isOpen());
  EXPECT_EQ(folder.flag("RunAlone"), "N");
  EXPECT_EQ(folder.flag("RunReports"), "N");
  EXPECT_EQ(folder.flag("RunLabels"), "Y");
  EXPECT_TRUE(LabelProgramStandIn::startedIn(folder.path()));
}

TEST_F(RunDriverTest, ChainModeStartsNoLabelProgramUnlessRunLabelsIsExactlyY) {
  for (const char* labels : {"N", "y", "Y "}) {
    SCOPED_TRACE(labels);
    JobFolder own;
    own.db().insertParameters({{"RunAlone", "Y"}, {"RunReports", "Y"}, {"RunLabels", labels}});
    LabelProgramStandIn kvprint;
    TestRun run;
    performRun(run.run);
    RunEnd end = endRun(run.run);
    EXPECT_TRUE(end.chainMode);
    EXPECT_FALSE(end.labelProgramStarted);
    EXPECT_EQ(own.flag("RunAlone"), "N");
    EXPECT_EQ(own.flag("RunReports"), "N");
    EXPECT_FALSE(LabelProgramStandIn::startedIn(own.path(), 0.5));
  }
}

TEST_F(RunDriverTest, RunAloneOtherThanYIsNotChainMode) {
  job({{"RunAlone", "y"}, {"RunReports", "Y"}, {"RunLabels", "Y"}});
  LabelProgramStandIn kvprint;
  RunEnd end = runAll();
  EXPECT_FALSE(end.chainMode);
  EXPECT_EQ(folder.flag("RunAlone"), "y");
  EXPECT_EQ(folder.flag("RunReports"), "Y");
  EXPECT_FALSE(LabelProgramStandIn::startedIn(folder.path(), 0.5));
}

TEST_F(RunDriverTest, CancelAnsweredYesDuringAllocationSkipsStepTwoAndTheLabelProgram) {
  LabelProgramStandIn kvprint;
  job({{"RunAlone", "Y"}, {"RunReports", "Y"}, {"RunLabels", "Y"}});
  t.screen.answer = Answer::Yes;
  t.screen.cancelAtYield = 1;
  RunEnd end = runAll();

  EXPECT_EQ(t.screen.questions, 1);
  EXPECT_EQ(t.run.cancelflag, "Y");
  EXPECT_EQ(t.screen.yields, 1);  // the pass stops before its next record
  EXPECT_EQ(t.screen.captions[Control::lblPerc1], "");
  EXPECT_FALSE(folder.tableExists("bags"));
  EXPECT_EQ(t.screen.busyHistory.back(), false);

  EXPECT_TRUE(end.chainMode);
  EXPECT_FALSE(end.labelProgramStarted);
  EXPECT_EQ(folder.flag("RunAlone"), "N");
  EXPECT_EQ(folder.flag("RunReports"), "N");
  EXPECT_FALSE(LabelProgramStandIn::startedIn(folder.path(), 0.5));
}

TEST_F(RunDriverTest, CancelAnsweredNoLetsTheRunGoOn) {
  job();
  t.screen.answer = Answer::No;
  t.screen.cancelAtYield = 1;
  runAll();
  EXPECT_EQ(t.screen.questions, 1);
  EXPECT_EQ(t.run.cancelflag, "N");
  EXPECT_EQ(t.screen.captions[Control::lblPerc1], "  Printing ");
  EXPECT_TRUE(folder.tableExists("bags"));
}

TEST_F(RunDriverTest, ABagThatHoldsNoItemEndsTheRunBeforeAnyRecordIsTouched) {
  LabelProgramStandIn kvprint;
  job({{"BagMax", 50.0}, {"Weight", 95.0}, {"RunAlone", "Y"}, {"RunReports", "Y"}, {"RunLabels", "Y"}});
  RunEnd end = runAll();

  EXPECT_EQ(t.run.bagitems, 0);
  ASSERT_EQ(t.screen.messages.size(), 1u);
  EXPECT_NE(t.screen.messages[0].find("50"), std::string::npos) << t.screen.messages[0];
  EXPECT_NE(t.screen.messages[0].find("95"), std::string::npos) << t.screen.messages[0];
  EXPECT_EQ(t.screen.yields, 0);
  EXPECT_EQ(workSum("seq"), 0);
  EXPECT_EQ(folder.db().scalar("SELECT COUNT(*) FROM kvwork WHERE sflag = 'Y'").number(), 0);
  EXPECT_FALSE(folder.tableExists("bags"));
  EXPECT_TRUE(t.paper.allText().empty());

  // Ends as a cancelled run ends.
  EXPECT_TRUE(end.chainMode);
  EXPECT_FALSE(end.labelProgramStarted);
  EXPECT_EQ(folder.flag("RunAlone"), "N");
  EXPECT_FALSE(LabelProgramStandIn::startedIn(folder.path(), 0.5));
}

TEST_F(RunDriverTest, AJobThatCannotBeRankedEndsTheRunWhenRegionalSequencingIsInForce) {
  LabelProgramStandIn kvprint;
  // Regional Sequencing, and the posting postcode is in no selection.
  job({{"service", "M1"}, {"Geog", "Y"}, {"postcode", "ZZ9 9ZZ"}, {"RunAlone", "Y"}, {"RunLabels", "Y"}});
  RunEnd end = runAll();

  ASSERT_EQ(t.screen.messages.size(), 1u);
  EXPECT_NE(t.screen.messages[0].find("ZZ9 9ZZ"), std::string::npos) << t.screen.messages[0];
  EXPECT_EQ(t.run.cancelflag, "Y");
  EXPECT_EQ(t.screen.yields, 0);
  EXPECT_EQ(workSum("seq"), 0);
  EXPECT_EQ(folder.db().scalar("SELECT COUNT(*) FROM kvwork WHERE rgcode <> ''").number(), 0);
  EXPECT_FALSE(folder.tableExists("bags"));
  EXPECT_TRUE(end.chainMode);
  EXPECT_FALSE(end.labelProgramStarted);
  EXPECT_EQ(folder.flag("RunAlone"), "N");
}

TEST_F(RunDriverTest, RanksAreNeededOnlyUnderRegionalSequencing) {
  {
    // Geog "Y" but a service whose second character is not "1".
    JobFolder own;
    own.db().insertParameters({{"service", "M2"}, {"Geog", "Y"}, {"postcode", "ZZ9 9ZZ"}});
    TestRun run;
    performRun(run.run);
    EXPECT_TRUE(run.screen.messages.empty());
    EXPECT_EQ(run.screen.captions[Control::lblPerc1], "  Printing ");
  }
  {
    JobFolder own;
    own.db().insertParameters({{"service", "M1"}, {"Geog", "Y"}, {"postcode", "AB12 3CD"}});
    own.db().exec("INSERT INTO pcode (code, mdsel) VALUES ('AB12 3', '123')");
    own.db().exec("INSERT INTO sequence (code, mdsorts) VALUES ('123', '0705')");
    TestRun run;
    performRun(run.run);
    EXPECT_TRUE(run.screen.messages.empty());
    EXPECT_EQ(run.run.sortcodes, "0705");
    EXPECT_EQ(run.screen.captions[Control::lblPerc1], "  Printing ");
  }
}

// Failures before the allocation are not guarded: they leave the run for
// the caller to report, and the run has written nothing.
TEST_F(RunDriverTest, FailuresBeforeTheAllocationLeaveTheRun) {
  struct Case {
    const char* name;
    testing::Row parameters;
    const char* sql;
  };
  const Case cases[] = {
      {"missing database file", {}, nullptr},
      {"missing work table", {}, "DROP TABLE kvwork"},
      {"missing parameters table", {}, "DROP TABLE parmcode"},
      {"no parameters record", {}, "DELETE FROM parmcode"},
      {"weight zero", {{"Weight", 0.0}}, nullptr},
      {"bundle maximum zero", {{"BundleMax", 0.0}}, nullptr},
      {"null bag maximum", {{"BagMax", Value()}}, nullptr},
      {"text weight", {{"Weight", "heavy"}}, nullptr},
      {"null selection", {{"selection", Value()}}, nullptr},
      {"bag count beyond 32 bits", {{"BagMax", 1e12}, {"Weight", 1.0}}, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    JobFolder own;
    own.db().insertParameters(c.parameters);
    own.addWork(kCodes);
    if (c.sql) own.db().exec(c.sql);
    if (std::string(c.name) == "missing database file") std::filesystem::remove("mailsort.mdb");
    TestRun run;
    EXPECT_THROW(performRun(run.run), std::exception);
    if (std::filesystem::exists("mailsort.mdb")) {
      EXPECT_FALSE(own.tableExists("bags"));
    }
    EXPECT_EQ(run.run.printer, &run.paper);
    EXPECT_EQ(run.screen.yields, 0);
  }
}

}  // namespace
}  // namespace ms
