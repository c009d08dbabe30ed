// The progress bar and the Cancel button, and the Regional Sequencing test
// on the Job Parameters.
#include <gtest/gtest.h>

#include <tuple>

#include "run/progress.h"
#include "support/run_job.h"
#include "values/fault.h"

namespace ms {
namespace {

// One cell per five percent, judged on the raw figure; a lower figure puts
// no cell out and one below 5 touches none; clearperc puts all out.
TEST(Progress, PercbarLightsOneCellPerFivePercentAndOnlyClearpercPutsThemOut) {
  RunState run;
  testing::FakeProgress screen(run);
  run.progress = &screen;
  const std::vector<std::pair<double, int>> cases = {
      {0, 0},  {4.99, 0},           {-20, 0}, {5, 1},      {9.5, 1},  {10, 2},  {14.999999999999998, 2},
      {15, 3}, {3.0 / 20 * 100, 3}, {95, 19}, {99.99, 19}, {100, 20}, {200, 20}};
  for (const auto &[p, lit] : cases) {
    clearperc(run);
    run.percent = p;
    percbar(run);
    EXPECT_TRUE(screen.litUpTo(lit)) << p;
  }
  for (double p : {80.0, 50.0, 3.0}) run.percent = p, percbar(run);
  EXPECT_TRUE(screen.litUpTo(20));
  clearperc(run);
  EXPECT_TRUE(screen.litUpTo(0));

  for (auto [answer, flag] : {std::pair{Answer::No, "N"}, {Answer::Yes, "Y"}, {Answer::No, "Y"}}) {
    screen.answer = answer;
    cancelPressed(run);
    EXPECT_EQ(run.cancelflag, flag);
  }
  EXPECT_EQ(screen.questions, 3);
}

TEST(RegionalSequencing, SecondServiceCharacterOneAndGeogYAndNoJobParametersFails) {
  const std::tuple<Value, Value, bool> cases[] = {
      {"M1", "Y", true},  {"P1", "Y", true},      {"M12", "Y", true},   {"M1", "N", false},
      {"M1", "y", false}, {"M1", Value(), false}, {"M2", "Y", false},   {"1M", "Y", false},
      {"1", "Y", false},  {"", "Y", false},       {Value(), "Y", false}};
  for (const auto &[service, geog, inForce] : cases) {
    testing::RunJob job;
    job.db.insertParameters({{"service", service}, {"Geog", geog}});
    EXPECT_EQ(job.open().regionalSequencing(), inForce) << service.textOrEmpty() << " " << geog.textOrEmpty();
  }
  RunState run;
  EXPECT_THROW(run.regionalSequencing(), RunError);
}

}  // namespace
}  // namespace ms
