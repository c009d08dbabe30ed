// The progress of a run without a window, on a stream (standard error): the
// step name, the figure and the step caption as the Progress Window shows
// them, e.g. "Allocation  39.39 percent complete (step 1 of 2)". On a
// terminal one line is rewritten in place, at most ten times a second;
// otherwise a line is written each time the figure passes another 10
// percent, and one at the end of each step. Message box texts go to the
// stream too, each answered with its default button.
//
// SIGINT, SIGTERM and SIGHUP, once watched, are a confirmed Cancel: the
// next yield of a pass sets `cancelflag`. Later signals change nothing, so
// the end of the run is never cut short.
#pragma once

#include <chrono>
#include <cstdio>
#include <string>

#include "run/progress.h"

namespace ms {

struct RunState;

// Catches SIGINT, SIGTERM and SIGHUP from now on, for the whole process.
void watchCancelSignals();
// The first of those signals caught so far; 0 when none was.
int cancelSignal();

class StreamProgress : public Progress {
 public:
  StreamProgress(std::FILE* out, bool terminal) : out_(out), terminal_(terminal) {}

  // The run whose `cancelflag` a signal sets.
  void attach(RunState& run) { run_ = &run; }

  void setCellVisible(int, bool) override {}
  void setVisible(Control, bool) override {}
  void setCaption(Control label, const std::string& text) override;
  // The end of the run: the step's last figure is written.
  void setBusyPointer(bool busy) override;
  void yield() override;
  Answer confirmCancel() override;
  void message(const std::string& text) override;
  void waitingForDatabase(store::WaitReason why) override;

 private:
  std::string line() const;
  void endStep();
  void closeLine();
  void write(const std::string& text, bool inPlace);

  std::FILE* out_;
  bool terminal_;
  RunState* run_ = nullptr;
  bool signalSeen_ = false;
  std::string name_ = "Allocation", figure_, caption_ = "percent complete (step 1 of 2)";
  std::string written_;    // the step's line written last
  bool lineOpen_ = false;  // a terminal line not yet ended
  int tenths_ = 0;         // tens of percent passed in this step
  std::chrono::steady_clock::time_point lastWrite_{};
};

}  // namespace ms
