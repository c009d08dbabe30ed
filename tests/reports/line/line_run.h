// A line report run on a fixture database: the job's tables filled with
// plain SQL, linerep run in the fixture's folder, its output read back.
#pragma once

#include <string>
#include <vector>

#include "reports/common/text_page_sink.h"
#include "run/progress.h"
#include "run/run_state.h"
#include "support/fixture_db.h"

namespace ms::testing {

inline const std::string kEnd = std::string(44, ' ') + "<<< End of Report >>>";

// Counts yields and sets the cancel flag after `cancelAfter` of them.
class ScriptedProgress : public Progress {
 public:
  explicit ScriptedProgress(RunState& run) : run_(run) {}
  void setCellVisible(int cell, bool visible) override {
    if (cell >= 1 && cell <= 20) cells[cell - 1] = visible;
  }
  void setVisible(Control, bool) override {}
  void setCaption(Control label, const std::string& text) override {
    if (label == Control::lblPerc2) figures.push_back(text);
  }
  void setBusyPointer(bool) override {}
  void yield() override {
    if (++yields == cancelAfter) run_.cancelflag = "Y";
  }
  Answer confirmCancel() override { return Answer::Yes; }
  void message(const std::string& text) override { messages.push_back(text); }
  int yields = 0, cancelAfter = -1;
  bool cells[20] = {};
  std::vector<std::string> figures, messages;

 private:
  RunState& run_;
};

struct WorkRecord {
  std::string mscode;
  double seq = 0;
  Value rscode = "", sflag = "N", pcflag = "F", rgcode = "07", name = "A Person", address3 = "";
};

class LineRun {
 public:
  LineRun();
  ~LineRun();
  FixtureDb& db() { return db_; }
  void addRecords(const WorkRecord& record, int count = 1);
  // A label and `count` records of its code.
  void add(const std::string& code, const Value& label, int count, WorkRecord record) {
    addLabel(code, label);
    record.mscode = code;
    addRecords(record, count);
  }
  void addLabel(const std::string& code, const Value& text) {
    db_.insert("label", {{"code", code}, {"mdlab", text}});
  }
  void setParameters(const Row& overrides) { overrides_ = overrides; }
  // Opens the database as a run does, adds an empty bags table, runs linerep.
  void run(int bagitems = 50, double bundlesperbag = 2);

  RunState state;
  TextPageSink sink;
  ScriptedProgress progress{state};

  std::vector<std::string> page(int n) const { return sink.textOf(n); }
  double sizeOf(int page, int line) const { return sink.linesOf(page).at(line).fontSize; }
  // Pages up to the one holding the end line.
  int reportPages() const;
  // Report lines below the page headers, blank lines left out, to the end line.
  std::vector<std::string> bodyLines() const;
  // Bags rows as "bag/start/label/bundle/seq", a Null as "-".
  std::vector<std::string> bags();
  std::string file(const std::string& name) const { return readFile(dir_.file(name)); }
  std::vector<std::string> fileLines(const std::string& name) const { return splitLines(file(name)); }
  const std::string& folder() const { return dir_.path(); }

 private:
  TempDir dir_;
  FixtureDb db_{dir_.path()};
  Row overrides_;
};

}  // namespace ms::testing
