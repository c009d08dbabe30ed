#include "run/progress.h"

#include <cmath>

#include "run/run_state.h"
#include "values/fault.h"
#include "values/text_rules.h"

namespace ms {

namespace {

constexpr int kCells = 20;

}  // namespace

void cancelPressed(RunState& run) {
  if (run.progress && run.progress->confirmCancel() == Answer::Yes) run.cancelflag = std::string(1, 'Y');
}

void percbar(RunState& run) {
  if (!run.progress) return;
  const double p = run.percent;
  if (!(p >= 5)) return;  // below 5 (or not a number): the bar is left as it is
  // k with 5k <= p < 5k + 5, judged on p itself rather than on p / 5.
  int lit = kCells;
  if (p < 5.0 * kCells) {
    lit = static_cast<int>(std::floor(p / 5));
    if (5.0 * lit > p) --lit;
    if (5.0 * (lit + 1) <= p) ++lit;
  }
  for (int cell = 1; cell <= lit; ++cell) run.progress->setCellVisible(cell, true);
}

void clearperc(RunState& run) {
  if (!run.progress) return;
  for (int cell = 1; cell <= kCells; ++cell) run.progress->setCellVisible(cell, false);
}

const std::string& FigureText::of(double percent) {
  // The texts that round to the value v cover [v - 0.005, v + 0.005); the
  // margin stays far beyond the error of the fifteen-digit decimal text.
  constexpr double kHalfStep = 0.005, kMargin = 1e-9;
  if (shown_ >= 0 && percent > shown_ - kHalfStep + kMargin && percent < shown_ + kHalfStep - kMargin)
    return text_;
  text_ = format(percent, "0.00");
  shown_ = Val(text_);
  return text_;
}

void showProgress(RunState& run, double done) {
  attempt([&] { run.percent = divide(done, run.totrecs) * 100; });
  attempt([&] { percbar(run); });
  if (run.percent > 100) run.percent = 100;
  if (!run.progress) return;
  attempt([&] { run.progress->setCaption(Control::lblPerc2, run.figure.of(run.percent)); });
  attempt([&] { run.progress->yield(); });
}

}  // namespace ms
