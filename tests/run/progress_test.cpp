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
    calls.emplace_back(cell, visible);
    if (cell >= 1 && cell <= 20) cells[static_cast<std::size_t>(cell - 1)] = visible;
  }
  void setVisible(Control, bool) override {}
  void setCaption(Control, const std::string&) override {}
  void setBusyPointer(bool) override {}
  void yield() override {}
  Answer confirmCancel() override {
    ++questions;
    return answer;
  }
  void message(const std::string&) override {}

  int lit() const {
    int n = 0;
    for (bool on : cells) n += on;
    return n;
  }
  // Lit cells are exactly Perc1 to Perc<n>.
  bool litUpTo(int n) const {
    for (int cell = 1; cell <= 20; ++cell)
      if (cells[static_cast<std::size_t>(cell - 1)] != (cell <= n)) return false;
    return true;
  }

  std::array<bool, 20> cells{};
  std::vector<std::pair<int, bool>> calls;
  Answer answer = Answer::No;
  int questions = 0;
};

class ProgressTest : public ::testing::Test {
 protected:
  ProgressTest() { run.progress = &screen; }
  int cellsFor(double p) {
    clearperc(run);
    run.percent = p;
    percbar(run);
    return screen.lit();
  }
  FakeProgress screen;
  RunState run;
};

TEST_F(ProgressTest, PercbarLightsOneCellPerFivePercentOnTheRawFigure) {
  EXPECT_EQ(cellsFor(0), 0);
  EXPECT_EQ(cellsFor(4.99), 0);
  EXPECT_EQ(cellsFor(-20), 0);
  EXPECT_EQ(cellsFor(5), 1);
  EXPECT_EQ(cellsFor(9.5), 1);
  EXPECT_EQ(cellsFor(10), 2);
  EXPECT_EQ(cellsFor(14.999999999999998), 2);
  EXPECT_EQ(cellsFor(15), 3);
  EXPECT_EQ(cellsFor(3.0 / 20 * 100), 3);  // processed / totrecs * 100 just above 15
  EXPECT_EQ(cellsFor(95), 19);
  EXPECT_EQ(cellsFor(99.99), 19);
  EXPECT_EQ(cellsFor(100), 20);
  EXPECT_EQ(cellsFor(200), 20);
  EXPECT_TRUE(screen.litUpTo(20));
}

TEST_F(ProgressTest, PercbarNeverPutsACellOutNorTouchesCellsBeyondItsOwn) {
  run.percent = 80;
  percbar(run);
  screen.calls.clear();
  run.percent = 50;
  percbar(run);
  EXPECT_TRUE(screen.litUpTo(16));
  for (const auto& [cell, visible] : screen.calls) {
    EXPECT_LE(cell, 10);
    EXPECT_TRUE(visible);
  }
  screen.calls.clear();
  run.percent = 3;
  percbar(run);
  EXPECT_TRUE(screen.calls.empty());
  EXPECT_TRUE(screen.litUpTo(16));
}

TEST_F(ProgressTest, ClearpercPutsAllCellsOutInOrderThenTheBarGrowsAgain) {
  run.percent = 100;
  percbar(run);
  screen.calls.clear();
  clearperc(run);
  ASSERT_EQ(screen.calls.size(), 20u);
  for (int cell = 1; cell <= 20; ++cell)
    EXPECT_EQ(screen.calls[static_cast<std::size_t>(cell - 1)], std::make_pair(cell, false));
  run.percent = 12;
  percbar(run);
  EXPECT_TRUE(screen.litUpTo(2));
}

TEST_F(ProgressTest, CancelSetsTheFlagOnlyWhenConfirmed) {
  run.cancelflag = "N";
  screen.answer = Answer::No;
  cancelPressed(run);
  EXPECT_EQ(run.cancelflag, "N");
  screen.answer = Answer::Yes;
  cancelPressed(run);
  EXPECT_EQ(run.cancelflag, "Y");
  screen.answer = Answer::No;
  cancelPressed(run);
  EXPECT_EQ(run.cancelflag, "Y");
  EXPECT_EQ(screen.questions, 3);
}

TEST(ProgressWithoutScreen, DoesNothing) {
  RunState run;
  run.percent = 50;
  percbar(run);
  clearperc(run);
  cancelPressed(run);
  EXPECT_EQ(run.cancelflag, "N");
}

}  // namespace
}  // namespace ms
