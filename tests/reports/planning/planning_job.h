// A planning job for the tests: a fresh mailsort.mdb in a temporary folder,
// the run state with its counters, and a printer that records every line.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "reports/common/page_sink.h"
#include "run/run_state.h"
#include "support/fixture_db.h"

namespace ms::testing {

// Records what the report prints, line by line.
class RecordingSink : public PageSink {
 public:
  struct Line {
    std::string text;
    bool emphasis;
    std::string font;
    double size;
  };

  void setFontName(const std::string& name) override { font_ = name; }
  void setFontSize(double points) override { size_ = points; }
  void setEmphasis(bool on) override { emphasis_ = on; }
  void printLine(const std::string& text) override {
    if (ended) throw std::runtime_error("printed after the end of the job");
    lines.push_back({text, emphasis_, font_, size_});
  }
  void newPage() override { ++pages; }
  int page() const override { return pages; }
  void endDoc() override { ++endDocs, ended = true; }

  std::vector<Line> lines;
  int pages = 1;
  int endDocs = 0;
  bool ended = false;

 private:
  bool emphasis_ = false;
  std::string font_;
  double size_ = 0;
};

// A Letter job of 200 addresses: 180 suitable (120 direct in 3 selections,
// 60 residue in 2), 20 not matched; 150 full postcodes, 30 outward only.
// The tariff row "M2" and the standard prices are filled; tests change
// what they look at before run().
class PlanningJob {
 public:
  PlanningJob();
  ~PlanningJob();

  FixtureDb& db() { return *db_; }
  RunState& state() { return state_; }
  void parameters(const Row& overrides) { db_->insertParameters(overrides); }
  // A tariff row: key `code`, the named fields, every other field Null.
  void tariff(const std::string& code, const Row& fields);
  // The standard tariff row for `code` with `changes` applied.
  void standardTariff(const std::string& code, const Row& changes = {});
  // The one standard price record with `changes` applied.
  void standardPrices(const Row& changes = {});

  // Opens the database and the Job Parameters as a run does, runs planrep
  // in the job's folder and returns the printed lines.
  std::vector<std::string> run();
  // The line that starts with `label` (empty when none does).
  std::string lineStarting(const std::string& label) const;
  bool printed(const std::string& label) const { return !lineStarting(label).empty(); }
  // The line printed after the one that starts with `label`.
  std::string lineAfter(const std::string& label) const;
  // POPLAN.CSV as written.
  std::string poplan() const;

  RecordingSink sink;

 private:
  TempDir dir_;
  std::unique_ptr<FixtureDb> db_;
  RunState state_;
  std::vector<std::string> lines_;
};

// The fields of a POPLAN.CSV record without their quotes.
std::vector<std::string> csvFields(const std::string& record);

// A fixed field that was never filled.
inline std::string unfilled(std::size_t width) { return std::string(width, '\0'); }

}  // namespace ms::testing
