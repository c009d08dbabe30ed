// A line report run on a fixture database: the job's tables filled with
// plain SQL, the report run in the fixture's folder, and what it printed,
// wrote and stored read back.
#pragma once

#include <string>
#include <vector>

#include "reports/common/text_page_sink.h"
#include "run/progress.h"
#include "run/run_state.h"
#include "support/fixture_db.h"

namespace ms::testing {

inline const std::string kEndLineText = std::string(44, ' ') + "<<< End of Report >>>";

// Counts yields and, like an operator confirming Cancel, sets the cancel
// flag after a given number of them.
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

  int yields = 0;
  int cancelAfter = -1;
  bool cells[20] = {};
  std::vector<std::string> figures;
  std::vector<std::string> messages;

 private:
  RunState& run_;
};

// One work record: its code and sort number, the rest of a plain address.
struct WorkRecord {
  std::string mscode;
  double seq = 0;
  Value rscode = "";
  Value sflag = "N";
  Value pcflag = "F";
  Value rgcode = "07";
  Value name = "A Person";
  Value address3 = "";
};

class LineRun {
 public:
  LineRun();
  ~LineRun();

  FixtureDb& db() { return db_; }
  // `count` records of one code, each a plain address.
  void addRecords(const WorkRecord& record, int count = 1);
  void addLabel(const std::string& code, const Value& text);
  void setParameters(const Row& overrides) { overrides_ = overrides; }

  // Opens the database as a run does, creates an empty bags table and runs
  // linerep in the fixture's folder.
  void run(int bagitems = 50, double bundlesperbag = 2);

  RunState state;
  TextPageSink sink;
  ScriptedProgress progress{state};

  // Printed lines of a page, from 1.
  std::vector<std::string> page(int n) const { return sink.textOf(n); }
  // The font size a line was printed in.
  double sizeOf(int page, int line) const { return sink.linesOf(page).at(line).fontSize; }
  // Pages of the line report: up to the one that holds its end line.
  int reportPages() const;
  // The lines of the line report below its page headers, up to its end line.
  std::vector<std::string> bodyLines() const;
  std::vector<RowMap> bags();
  std::string file(const std::string& name) const { return readFile(dir_.file(name)); }
  std::vector<std::string> fileLines(const std::string& name) const;
  const std::string& folder() const { return dir_.path(); }

 private:
  TempDir dir_;
  FixtureDb db_{dir_.path()};
  Row overrides_;
  int records_ = 0;
};

}  // namespace ms::testing
