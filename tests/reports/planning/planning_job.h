// A planning job: a fresh mailsort.mdb in a temporary folder, the run state
// with its counters, and a print job kept in memory.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "reports/common/text_page_sink.h"
#include "reports/planning/planning_report.h"
#include "run/run_state.h"
#include "store/database.h"
#include "store/recordset.h"
#include "support/fixture_db.h"

namespace ms::testing {

// POPLAN.CSV's record split into its fields.
inline std::vector<std::string> csvFields(std::string record) {
  if (record.size() < 4 || record.substr(record.size() - 3) != "\"\r\n" || record[0] != '"')
    return {"not quoted fields ending in CR LF: " + record};
  std::vector<std::string> fields;
  for (std::size_t end; (end = record.find("\",\"")) != std::string::npos; record.erase(0, end + 2))
    fields.push_back(record.substr(1, end - 1));
  fields.push_back(record.substr(1, record.size() - 4));
  return fields;
}

// A Letter job of 200 addresses: 180 suitable (120 direct in 3 selections,
// 60 residue in 2), 20 not matched; 150 full postcodes, 30 outward only.
class PlanningJob {
 public:
  PlanningJob() : db_(dir_.path()) {
    RunState& s = state_;
    s.rundate = "06/12/2026";
    s.processed = 200, s.pcmatched = 150, s.townmatched = 30, s.notmatched = 20;
    s.fullpc = 150, s.outwardonly = 30;
    s.dirsels = 3, s.ressels = 2, s.diritems = 120, s.resitems = 60;
    s.dirbags = 3, s.resbags = 2, s.dirbundles = 5, s.resbundles = 3;
    s.printer = &sink;
  }
  ~PlanningJob() {
    state_.parmrs.reset();
    state_.mdb.reset();
  }
  FixtureDb& db() { return db_; }
  RunState& state() { return state_; }
  // A tariff row keyed `code`: 26.6 pence a letter, 3% direct, 1.5% residue,
  // volume bands from 100 items, Mailsort 120 bands, 10% franking.
  void tariff(const std::string& code, const Row& changes = {}) {
    const Row row = {
        {"code", code},      {"LeBase1", 26.6},  {"LeDPtg1", 3.0},   {"LeRPtg1", 1.5},
        {"LeQty1", 100.0},   {"LeQty2", 1000.0}, {"LeQty3", 5000.0}, {"LeQty4", 10000.0},
        {"LeQty5", 50000.0}, {"LeQ1VRD1", 0.5},  {"LeQ2VRD1", 1.0},  {"LeQ3VRD1", 1.5},
        {"LeQ4VRD1", 2.0},   {"LeQ5VRD1", 2.5},  {"Qty1", 5000.0},   {"Qty2", 20000.0},
        {"LeQ1DPtg1", 2.0},  {"LeQ2DPtg1", 3.0}, {"LeQ3DPtg1", 4.0}, {"Franking Surcharge", 10.0}};
    db_.insert("price", with(row, changes));
  }
  // The standard price record: letters 30 (Fst) and 21 (Snd) pence.
  void standardPrices() { db_.insert("poprice", {{"LeW1Fst", 30.0}, {"LeW1Snd", 21.0}}); }
  // The usual job: tariff "M2" with `tariff` changes, standard prices, parameters.
  const std::vector<std::string>& runWith(const Row& changes, const Row& parameters = {}) {
    tariff("M2", changes);
    standardPrices();
    db_.insertParameters(parameters);
    return run();
  }
  // Runs planrep in the job's folder and returns the printed lines.
  const std::vector<std::string>& run() {
    state_.mdb = store::Database::open(db_.path(), store::OpenMode::Shared);
    state_.parmrs = state_.mdb->openTable("parmcode");
    const auto previous = std::filesystem::current_path();
    std::filesystem::current_path(dir_.path());
    planrep(state_);
    std::filesystem::current_path(previous);
    lines_ = sink.allText();
    return lines_;
  }
  // The line that starts with `label`, or the `after`th after it ("" if none).
  std::string line(const std::string& label, int after = 0) const {
    for (std::size_t i = 0; i + after < lines_.size(); ++i)
      if (lines_[i].rfind(label, 0) == 0) return lines_[i + after];
    return {};
  }
  // Its text from column `from`.
  std::string at(const std::string& label, std::size_t from, int after = 0) const {
    const std::string text = line(label, after);
    return text.size() < from ? "(no line " + label + ")" : text.substr(from);
  }
  bool printed(const std::string& label) const { return !line(label).empty(); }
  // The fields of POPLAN.CSV without their quotes; one field naming the
  // fault when the record is not quoted fields ending in CR LF.
  std::vector<std::string> poplan() const { return csvFields(readFile(dir_.file("POPLAN.CSV"))); }
  static Row with(Row row, const Row& changes) {
    for (const auto& [name, value] : changes) {
      bool replaced = false;
      for (auto& [n, v] : row)
        if (n == name) v = value, replaced = true;
      if (!replaced) row.emplace_back(name, value);
    }
    return row;
  }
  TextPageSink sink;

 private:
  TempDir dir_;
  FixtureDb db_;
  RunState state_;
  std::vector<std::string> lines_;
};

// A fixed field that was never filled.
inline std::string unfilled(std::size_t width) { return std::string(width, '\0'); }

}  // namespace ms::testing
