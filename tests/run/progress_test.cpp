// The progress bar's twenty cells and the Cancel button's confirmation.
#include "run/progress.h"

#include <gtest/gtest.h>

#include <array>
#include <string>
#include <utility>
#include <vector>

#include "run/run_state.h"

namespace ms {
namespace {

class FakeProgress : public Progress {
 public:
  void setCellVisible(int cell, bool visible) override {
    calls.emplace_back(cell, visible), cells.at(cell) = visible;
  }
  void setVisible(Control, bool) override {}
  void setCaption(Control, const std::string&) override {}
  void setBusyPointer(bool) override {}
  void yield() override {}
  Answer confirmCancel() override { return ++questions, answer; }
  void message(const std::string&) override {}
  bool litUpTo(int n) const {  // exactly Perc1 to Perc<n> lit
    for (int cell = 1; cell <= 20; ++cell)
      if (cells.at(cell) != (cell <= n)) return false;
    return true;
  }

  std::array<bool, 21> cells{};  // cells[0] unused
  std::vector<std::pair<int, bool>> calls;
  Answer answer = Answer::No;
  int questions = 0;
};

class ProgressTest : public ::testing::Test {
 protected:
  ProgressTest() { run.progress = &screen; }
  void bar(double p) {
    run.percent = p;
    percbar(run);
  }
  FakeProgress screen;
  RunState run;
};

TEST_F(ProgressTest, PercbarLightsOneCellPerFivePercentOnTheRawFigure) {
  const std::vector<std::pair<double, int>> cases = {
      {0, 0},  {4.99, 0},           {-20, 0}, {5, 1},      {9.5, 1},  {10, 2},  {14.999999999999998, 2},
      {15, 3}, {3.0 / 20 * 100, 3}, {95, 19}, {99.99, 19}, {100, 20}, {200, 20}};
  for (const auto& [p, lit] : cases) {
    clearperc(run);
    bar(p);
    EXPECT_TRUE(screen.litUpTo(lit)) << p;
  }
}

// A lower figure puts no cell out, one below 5 touches none; clearperc puts
// all out in order, then the bar grows again.
TEST_F(ProgressTest, PercbarNeverPutsACellOutAndClearpercStartsItAgain) {
  bar(80);
  screen.calls.clear();
  bar(50);
  EXPECT_TRUE(screen.litUpTo(16));
  for (const auto& [cell, visible] : screen.calls) EXPECT_TRUE(cell <= 10 && visible) << cell;
  screen.calls.clear();
  bar(3);
  EXPECT_TRUE(screen.calls.empty());
  clearperc(run);
  ASSERT_EQ(screen.calls.size(), 20u);
  for (int cell = 1; cell <= 20; ++cell) EXPECT_EQ(screen.calls.at(cell - 1), std::make_pair(cell, false));
  bar(12);
  EXPECT_TRUE(screen.litUpTo(2));
}

TEST_F(ProgressTest, CancelSetsTheFlagOnlyWhenConfirmed) {
  for (auto [answer, flag] : {std::pair{Answer::No, "N"}, {Answer::Yes, "Y"}, {Answer::No, "Y"}}) {
    screen.answer = answer;
    cancelPressed(run);
    EXPECT_EQ(run.cancelflag, flag);
  }
  EXPECT_EQ(screen.questions, 3);
}

}  // namespace
}  // namespace ms
