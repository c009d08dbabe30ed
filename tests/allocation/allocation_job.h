// A job for the allocation tests: a fixture mailsort.mdb, a run opened on it
// as the run driver opens one, and a fake Progress Window that records the
// figures shown and confirms Cancel at a chosen yield.
#pragma once

#include <algorithm>
#include <array>
#include <ostream>
#include <string>
#include <vector>

#include "run/progress.h"
#include "run/run_state.h"
#include "store/database.h"
#include "store/recordset.h"
#include "support/fixture_db.h"
#include "values/text_rules.h"

namespace ms::testing {

class FakeProgress : public Progress {
 public:
  explicit FakeProgress(RunState& run) : run_(run) {}
  void setCellVisible(int cell, bool visible) override { cells.at(cell) = visible; }
  void setVisible(Control, bool) override {}
  void setCaption(Control label, const std::string& text) override {
    if (label == Control::lblPerc2) figures.push_back(text);
  }
  void setBusyPointer(bool) override {}
  void yield() override {
    if (++yields == cancelAtYield) cancelPressed(run_);
  }
  Answer confirmCancel() override { return ++confirmations, Answer::Yes; }
  void message(const std::string&) override {}
  long litCells() const { return std::count(cells.begin(), cells.end(), true); }

  std::array<bool, 21> cells{};  // 1 to 20
  std::vector<std::string> figures;
  int yields = 0, confirmations = 0, cancelAtYield = 0;  // 0: never

 private:
  RunState& run_;
};

class AllocationJob {
 public:
  explicit AllocationJob(const Row& parameters = {}) : db(dir.path()), progress(run) {
    db.exec("PRAGMA synchronous=OFF");
    db.insertParameters(parameters);
  }
  // `seq` starts at kUntouched so that a `seq` the pass did not write shows.
  void work(const Value& mscode, const Value& rscode = Value("")) {
    db.insert("kvwork", {{"mscode", mscode}, {"rscode", rscode}, {"seq", kUntouched}, {"Name", ""}});
  }
  void region(const std::string& code, const Value& mdreg) {
    db.insert("region", {{"code", code}, {"mdreg", mdreg}});
  }
  RunState& open() {
    run.mdb = store::Database::open(db.path(), store::OpenMode::Shared);
    run.workrs = run.mdb->openTable("kvwork");
    run.workrs->setIndex("Key1");
    run.parmrs = run.mdb->openTable("parmcode");
    run.parmrs->moveFirst();
    run.minsel = Val(run.parmrs->field("selection").textOrEmpty());
    run.totrecs = static_cast<double>(run.workrs->recordCount());
    run.progress = &progress;
    return run;
  }
  // Closes the run (saving what is pending); the work table in insertion order.
  std::vector<RowMap> close() {
    run.workrs.reset();
    run.parmrs.reset();
    if (run.mdb) run.mdb->close();
    return db.query("SELECT * FROM kvwork ORDER BY rowid");
  }

  static constexpr double kUntouched = -1;
  TempDir dir;
  FixtureDb db;
  RunState run;
  FakeProgress progress;
};

}  // namespace ms::testing

namespace ms {
inline void PrintTo(const Value& value, std::ostream* out) {
  *out << (value.isNull() ? "Null" : value.isNumber() ? value.text() : '"' + value.text() + '"');
}
}  // namespace ms
