// The Start Dialog's gate and Chain Mode test, without the dialog.
#include "app/start_gate.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "app/file_holder.h"
#include "app/run_fixture.h"

namespace ms {
namespace {

using testing::JobFolder;

TEST(StartGate, RefusesWhileAnotherProgramHoldsTheDatabase) {
  JobFolder folder;
  folder.db().insertParameters({{"RunAlone", "Y"}, {"RunCodes", "Y"}});
  {
    testing::FileHolder other("mailsort.mdb");
    ASSERT_TRUE(other.holding());
    EXPECT_EQ(startGate(), GateResult::Refused);
    // Refused before anything was read or written.
    EXPECT_EQ(folder.flag("RunCodes"), "Y");
  }
  // Free again once the other program has let go.
  EXPECT_EQ(startGate(), GateResult::ChainMode);
}

TEST(StartGate, ChainModeSetsRunCodesAndLetsGoOfTheFile) {
  JobFolder folder;
  folder.db().insertParameters({{"RunAlone", "Y"}, {"RunCodes", "Y"}, {"RunReports", "Y"}});
  EXPECT_EQ(startGate(), GateResult::ChainMode);
  EXPECT_EQ(folder.flag("RunCodes"), "N");
  EXPECT_EQ(folder.flag("RunAlone"), "Y");
  EXPECT_EQ(folder.flag("RunReports"), "Y");
  // The exclusive hold ended with the gate: a second gate gets in.
  EXPECT_EQ(startGate(), GateResult::ChainMode);
}

TEST(StartGate, OnlyAnExactYIsChainMode) {
  for (Value runAlone : {Value("N"), Value("y"), Value("Y "), Value(""), Value()}) {
    JobFolder folder;
    folder.db().insertParameters({{"RunAlone", runAlone}, {"RunCodes", "Y"}});
    EXPECT_EQ(startGate(), GateResult::Wait) << runAlone.textOrEmpty();
    EXPECT_EQ(folder.flag("RunCodes"), "Y");
  }
}

TEST(StartGate, OtherFailuresLeaveTheDialogWaitingWithoutAMessage) {
  {
    JobFolder folder;
    std::filesystem::remove("mailsort.mdb");
    EXPECT_EQ(startGate(), GateResult::Wait);
    EXPECT_FALSE(std::filesystem::exists("mailsort.mdb"));  // never created
  }
  {
    JobFolder folder;  // parmcode without a record
    EXPECT_EQ(startGate(), GateResult::Wait);
  }
  {
    JobFolder folder;
    folder.db().exec("DROP TABLE parmcode");
    EXPECT_EQ(startGate(), GateResult::Wait);
  }
  {
    JobFolder folder;
    folder.db().insertParameters({{"RunAlone", "Y"}});
    folder.db().exec("ALTER TABLE parmcode DROP COLUMN RunCodes");
    EXPECT_EQ(startGate(), GateResult::Wait);
  }
}

}  // namespace
}  // namespace ms
