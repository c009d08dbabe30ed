// The rounding interface of the run state and the Regional Sequencing test
// on the Job Parameters.
#include "run/run_state.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "reports/common/text_rules.h"
#include "store/database.h"
#include "store/fault.h"
#include "store/recordset.h"
#include "support/fixture_db.h"

namespace ms {
namespace {

TEST(RunStateRound, RoundsRoundinIntoRoundout) {
  RunState run;
  run.roundin = 105.0 / 25;  // items per bag over BundleMax
  run.roundplaces = 0;
  run.round();
  EXPECT_EQ(run.roundout, "5");
  EXPECT_EQ(Val(run.roundout), 5);

  run.roundin = 2.675;
  run.roundplaces = 2;
  run.round();
  EXPECT_EQ(run.roundout, "2.68");

  run.roundin = 7;
  run.round();
  EXPECT_EQ(run.roundout, "7 ");
}

TEST(RunStateRound, AFailedCallLeavesRoundoutClearedAndIsSkippable) {
  RunState run;
  run.roundout = "12.5";
  run.roundin = INFINITY;
  run.roundplaces = 2;
  EXPECT_FALSE(attempt([&] { run.round(); }));
  EXPECT_EQ(run.roundout, "");
  EXPECT_EQ(Val(run.roundout), 0);
}

class RegionalSequencingTest : public ::testing::Test {
 protected:
  bool inForce(const testing::Row& overrides) {
    {
      testing::FixtureDb db(dir.path());
      db.insertParameters(overrides);
    }
    run.parmrs.reset();
    run.mdb = store::Database::open(dir.file("mailsort.mdb"), store::OpenMode::Shared);
    run.parmrs = run.mdb->openTable("parmcode");
    bool result = run.regionalSequencing();
    run.parmrs.reset();
    run.mdb.reset();
    return result;
  }
  testing::TempDir dir;
  RunState run;
};

TEST_F(RegionalSequencingTest, SecondServiceCharacterOneAndGeogY) {
  EXPECT_TRUE(inForce({{"service", "M1"}, {"Geog", "Y"}}));
  EXPECT_TRUE(inForce({{"service", "P1"}, {"Geog", "Y"}}));
  EXPECT_TRUE(inForce({{"service", "M12"}, {"Geog", "Y"}}));
  EXPECT_FALSE(inForce({{"service", "M1"}, {"Geog", "N"}}));
  EXPECT_FALSE(inForce({{"service", "M1"}, {"Geog", "y"}}));
  EXPECT_FALSE(inForce({{"service", "M1"}, {"Geog", Value()}}));
  EXPECT_FALSE(inForce({{"service", "M2"}, {"Geog", "Y"}}));
  EXPECT_FALSE(inForce({{"service", "1M"}, {"Geog", "Y"}}));
}

TEST_F(RegionalSequencingTest, ShortOrNullServiceIsNotInForce) {
  EXPECT_FALSE(inForce({{"service", "1"}, {"Geog", "Y"}}));
  EXPECT_FALSE(inForce({{"service", ""}, {"Geog", "Y"}}));
  EXPECT_FALSE(inForce({{"service", Value()}, {"Geog", "Y"}}));
}

TEST_F(RegionalSequencingTest, NoJobParametersFails) {
  EXPECT_THROW(run.regionalSequencing(), RunError);
  EXPECT_TRUE(test([&] { return run.regionalSequencing(); }));
}

}  // namespace
}  // namespace ms
