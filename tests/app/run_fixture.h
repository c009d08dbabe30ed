// Helpers for the run's tests: a job folder that is the current directory
// while it lives, a Progress that records what the run showed and answers
// Cancel as told, and a stand-in label program on PATH.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "reports/common/text_page_sink.h"
#include "run/progress.h"
#include "run/run_state.h"
#include "support/fixture_db.h"

namespace ms::testing {

// A fresh job: mailsort.mdb with the suite schema in a temporary folder,
// which is the current directory until the object goes.
class JobFolder {
 public:
  JobFolder();
  ~JobFolder();
  JobFolder(const JobFolder&) = delete;
  JobFolder& operator=(const JobFolder&) = delete;

  const std::string& path() const { return dir_.path(); }
  FixtureDb& db() { return *db_; }
  // Work records with the given Mailsort codes, matched at postcode level.
  void addWork(const std::vector<std::string>& codes);
  // Reference rows for the codes (region 1, a description).
  void addReference(const std::vector<std::string>& codes);
  // The Job Parameters' text flag as the table holds it now.
  std::string flag(const std::string& name);
  bool tableExists(const std::string& name);

 private:
  TempDir dir_;
  std::string previous_;
  std::unique_ptr<FixtureDb> db_;
};

// A Progress without a screen: keeps the cells, visibility and captions,
// counts yields and answers the Cancel question; `cancelAtYield` presses
// Cancel inside the n-th yield (1 = the first).
class FakeProgress : public Progress {
 public:
  explicit FakeProgress(RunState& run) : run_(run) {}

  void setCellVisible(int cell, bool visible) override { cells[cell] = visible; }
  void setVisible(Control control, bool visible) override { shown[control] = visible; }
  void setCaption(Control label, const std::string& text) override { captions[label] = text; }
  void setBusyPointer(bool on) override { busyHistory.push_back(on); }
  void yield() override;
  Answer confirmCancel() override {
    ++questions;
    return answer;
  }
  void message(const std::string& text) override { messages.push_back(text); }

  Answer answer = Answer::No;
  int cancelAtYield = 0;
  int yields = 0;
  int questions = 0;
  std::map<int, bool> cells;
  std::map<Control, bool> shown;
  std::map<Control, std::string> captions;
  std::vector<bool> busyHistory;
  std::vector<std::string> messages;

 private:
  RunState& run_;
};

// A run state wired to a fake screen and an in-memory print job.
struct TestRun {
  RunState run;
  FakeProgress screen{run};
  TextPageSink paper;
  TestRun() {
    run.progress = &screen;
    run.printer = &paper;
  }
};

// A stand-in `kvprint.exe` in its own folder, put first on PATH while the
// object lives. When started it writes "kvprint.started" into its current
// directory.
class LabelProgramStandIn {
 public:
  LabelProgramStandIn();
  ~LabelProgramStandIn();
  LabelProgramStandIn(const LabelProgramStandIn&) = delete;
  LabelProgramStandIn& operator=(const LabelProgramStandIn&) = delete;

  // Waits up to `seconds` for the marker in `folder`.
  static bool startedIn(const std::string& folder, double seconds = 5);

 private:
  TempDir bin_;
  std::string previousPath_;
};

}  // namespace ms::testing
