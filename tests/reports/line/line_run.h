// A line report run on a fixture database: the job's tables filled with
// plain SQL, linerep run in the fixture's folder, its output read back.
#pragma once

#include <cmath>
#include <filesystem>
#include <string>
#include <vector>

#include "reports/common/text_page_sink.h"
#include "reports/line/line_report.h"
#include "run/progress.h"
#include "run/run_state.h"
#include "store/database.h"
#include "store/table_def.h"
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
  std::string mscode = "";
  double seq = 0;
  Value rscode = "", sflag = "N", pcflag = "F", rgcode = "07", name = "A Person", address3 = "";
};

class LineRun {
 public:
  LineRun() {
    state.rundate = "06/12/2026";
    db_.exec("BEGIN");  // committed when the run starts
  }
  ~LineRun() {
    state.parmrs.reset();
    state.workrs.reset();
    state.mdb.reset();
  }
  FixtureDb& db() { return db_; }
  void addRecords(const WorkRecord& r, int count = 1) {
    for (int i = 0; i < count; ++i)
      db_.insert("kvwork", {{"mscode", r.mscode},
                            {"rscode", r.rscode},
                            {"seq", r.seq},
                            {"rgcode", r.rgcode},
                            {"sflag", r.sflag},
                            {"pcflag", r.pcflag},
                            {"Name", r.name},
                            {"Address1", "1 High Street"},
                            {"Address2", "Village"},
                            {"Address3", r.address3},
                            {"Address4", Value()},
                            {"town", "TOWN"},
                            {"county", "County"},
                            {"postcode", "AB1 2CD"}});
  }
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
  void run(int bagitems = 50, double bundlesperbag = 2) {
    db_.insertParameters(overrides_);
    db_.exec("COMMIT");
    InFolder inFolder(dir_.path());  // the PO files go to the current directory
    state.mdb = store::Database::open("mailsort.mdb", store::OpenMode::Shared);
    state.mdb->appendTableDef(
        {"bags",
         {"Bag Number", "Label Start", "Label Number", "Bundle Number", "Seq"},
         {{"PrimaryKey", {"Bag Number"}, true, true}, {"Key2", {"Label Number"}, false, false}}});
    state.workrs = state.mdb->openTable("kvwork");
    state.workrs->setIndex("Key1");
    state.parmrs = state.mdb->openTable("parmcode");
    state.bagitems = bagitems;
    state.bundlesperbag = bundlesperbag;
    state.totrecs = static_cast<double>(state.workrs->recordCount());
    state.cancelflag = "N";
    state.printer = &sink;
    state.progress = &progress;
    linerep(state);
    state.mdb->close();
  }

  RunState state;
  TextPageSink sink;
  ScriptedProgress progress{state};

  std::vector<std::string> page(int n) const { return sink.textOf(n); }
  double sizeOf(int page, int line) const { return sink.linesOf(page).at(line).fontSize; }
  // Pages up to the one holding the end line.
  int reportPages() const {
    for (int p = 1; p <= sink.pageCount(); ++p)
      for (const auto& line : sink.linesOf(p))
        if (line.text == kEnd) return p;
    return sink.pageCount();
  }
  // Report lines below the page headers, blank lines left out, to the end line.
  std::vector<std::string> bodyLines() const {
    std::vector<std::string> out;
    for (int p = 1; p <= reportPages(); ++p) {
      const auto& lines = sink.linesOf(p);
      for (std::size_t i = p == 1 ? 8 : 5; i < lines.size(); ++i) {
        if (lines[i].text != " ") out.push_back(lines[i].text);
        if (lines[i].text == kEnd) return out;
      }
    }
    return out;
  }
  // Bags rows as "bag/start/label/bundle/seq", a Null as "-".
  std::vector<std::string> bags() {
    std::vector<std::string> out;
    for (const auto& row : db_.query("SELECT * FROM bags ORDER BY rowid")) {
      std::string text;
      for (const char* field : {"Bag Number", "Label Start", "Label Number", "Bundle Number", "Seq"}) {
        const Value& v = row.at(field);
        text += (text.empty() ? "" : "/") + (v.isNull() ? "-" : std::to_string(std::llround(v.number())));
      }
      out.push_back(text);
    }
    return out;
  }
  std::string file(const std::string& name) const { return readFile(dir_.file(name)); }
  std::vector<std::string> fileLines(const std::string& name) const { return splitLines(file(name)); }
  const std::string& folder() const { return dir_.path(); }

 private:
  TempDir dir_;
  FixtureDb db_{dir_.path()};
  Row overrides_;
};

}  // namespace ms::testing
