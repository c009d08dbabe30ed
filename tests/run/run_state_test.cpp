// The rounding interface of the run state and the Regional Sequencing test
// on the Job Parameters.
#include "run/run_state.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <utility>
#include <vector>

#include "reports/common/text_rules.h"
#include "store/database.h"
#include "store/fault.h"
#include "store/recordset.h"
#include "support/fixture_db.h"

namespace ms {
namespace {

TEST(RunStateRound, RoundsRoundinIntoRoundoutAndAFailedCallLeavesItCleared) {
  RunState run;
  run.roundin = 105.0 / 25;  // items per bag over BundleMax
  run.roundplaces = 0;
  run.round();
  EXPECT_EQ(run.roundout, "5");
  run.roundin = 2.675;
  run.roundplaces = 2;
  run.round();
  EXPECT_EQ(run.roundout, "2.68");

  run.roundin = INFINITY;
  EXPECT_FALSE(attempt([&] { run.round(); }));
  EXPECT_EQ(run.roundout, "");
}

TEST(RegionalSequencing, SecondServiceCharacterOneAndGeogY) {
  const std::vector<std::pair<testing::Row, bool>> cases = {
      {{{"service", "M1"}, {"Geog", "Y"}}, true},    {{{"service", "P1"}, {"Geog", "Y"}}, true},
      {{{"service", "M12"}, {"Geog", "Y"}}, true},   {{{"service", "M1"}, {"Geog", "N"}}, false},
      {{{"service", "M1"}, {"Geog", "y"}}, false},   {{{"service", "M1"}, {"Geog", Value()}}, false},
      {{{"service", "M2"}, {"Geog", "Y"}}, false},   {{{"service", "1M"}, {"Geog", "Y"}}, false},
      {{{"service", "1"}, {"Geog", "Y"}}, false},    {{{"service", ""}, {"Geog", "Y"}}, false},
      {{{"service", Value()}, {"Geog", "Y"}}, false}};
  for (const auto& [parameters, inForce] : cases) {
    testing::TempDir dir;
    testing::FixtureDb(dir.path()).insertParameters(parameters);
    RunState run;
    run.mdb = store::Database::open(dir.file("mailsort.mdb"), store::OpenMode::Shared);
    run.parmrs = run.mdb->openTable("parmcode");
    EXPECT_EQ(run.regionalSequencing(), inForce)
        << parameters[0].second.textOrEmpty() << " " << parameters[1].second.textOrEmpty();
  }
}

TEST(RegionalSequencing, NoJobParametersFails) {
  RunState run;
  EXPECT_THROW(run.regionalSequencing(), RunError);
}

}  // namespace
}  // namespace ms
