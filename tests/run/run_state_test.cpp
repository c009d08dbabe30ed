// The rounding interface of the run state and the Regional Sequencing test
// on the Job Parameters.
#include "run/run_state.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "store/database.h"
#include "store/recordset.h"
#include "support/fixture_db.h"
#include "values/fault.h"
#include "values/text_rules.h"

namespace ms {
namespace {

TEST(RunStateRound, RoundsRoundinIntoRoundoutAndAFailedCallLeavesItCleared) {
  RunState run;
  for (auto [in, places, out] : {std::tuple{105.0 / 25, 0u, "5"}, {2.675, 2u, "2.68"}}) {
    run.roundin = in;  // 105 / 25: items per bag over BundleMax
    run.roundplaces = places;
    run.round();
    EXPECT_EQ(run.roundout, out);
  }
  run.roundin = INFINITY;
  EXPECT_FALSE(attempt([&] { run.round(); }));
  EXPECT_EQ(run.roundout, "");
}

TEST(RegionalSequencing, SecondServiceCharacterOneAndGeogYAndNoJobParametersFails) {
  const struct {
    Value service, geog;
    bool inForce;
  } cases[] = {{"M1", "Y", true},  {"P1", "Y", true},      {"M12", "Y", true},   {"M1", "N", false},
               {"M1", "y", false}, {"M1", Value(), false}, {"M2", "Y", false},   {"1M", "Y", false},
               {"1", "Y", false},  {"", "Y", false},       {Value(), "Y", false}};
  for (const auto& c : cases) {
    testing::TempDir dir;
    testing::FixtureDb(dir.path()).insertParameters({{"service", c.service}, {"Geog", c.geog}});
    RunState run;
    run.mdb = store::Database::open(dir.file("mailsort.mdb"), store::OpenMode::Shared);
    run.parmrs = run.mdb->openTable("parmcode");
    EXPECT_EQ(run.regionalSequencing(), c.inForce) << c.service.textOrEmpty() << " " << c.geog.textOrEmpty();
  }
  RunState run;
  EXPECT_THROW(run.regionalSequencing(), RunError);
}

}  // namespace
}  // namespace ms
