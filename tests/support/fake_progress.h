// A Progress Window without a screen: keeps what the run showed, counts
// yields and questions, and presses Cancel inside the `cancelAtYield`-th
// yield (or when told that the run waits for the database), answering
// `answer`.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "run/progress.h"
#include "run/run_state.h"

namespace ms::testing {

class FakeProgress : public Progress {
 public:
  explicit FakeProgress(RunState &run) : run_(run) {}
  void setCellVisible(int cell, bool visible) override { cells.at(cell) = visible; }
  void setVisible(Control, bool) override {}
  void setCaption(Control label, const std::string &text) override {
    if (label == Control::lblPerc2) figures.push_back(text);
  }
  void setBusyPointer(bool on) override { busy.push_back(on); }
  void yield() override {
    if (++yields == cancelAtYield) cancelPressed(run_);
  }
  Answer confirmCancel() override { return ++questions, answer; }
  void message(const std::string &text) override { messages.push_back(text); }
  void waitingForDatabase(store::WaitReason why) override {
    reasons.push_back(why);
    if (reasons.size() == 1 && cancelWhenWaiting) cancelPressed(run_);
  }
  // Cells 1 to `n` lit, the rest out.
  bool litUpTo(int n) const {
    for (int cell = 1; cell <= 20; ++cell)
      if (cells.at(cell) != (cell <= n)) return false;
    return true;
  }

  Answer answer = Answer::Yes;
  int yields = 0, questions = 0, cancelAtYield = 0;  // 0: never
  bool cancelWhenWaiting = false;
  std::vector<store::WaitReason> reasons;  // of each wait told
  std::array<bool, 21> cells{};            // 1 to 20
  std::vector<std::string> figures, messages;
  std::vector<bool> busy;

 private:
  RunState &run_;
};

}  // namespace ms::testing
