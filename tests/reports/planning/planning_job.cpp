#include "planning_job.h"

#include <filesystem>

#include "reports/planning/planning_report.h"
#include "store/database.h"
#include "store/recordset.h"

namespace ms::testing {

PlanningJob::PlanningJob() : db_(dir_.path()) {
  RunState& s = state_;
  s.rundate = "06/12/2026";
  s.processed = 200, s.pcmatched = 150, s.townmatched = 30, s.notmatched = 20;
  s.fullpc = 150, s.outwardonly = 30;
  s.dirsels = 3, s.ressels = 2, s.diritems = 120, s.resitems = 60;
  s.dirbags = 3, s.resbags = 2, s.dirbundles = 5, s.resbundles = 3;
  s.printer = &sink;
}

PlanningJob::~PlanningJob() {
  state_.parmrs.reset();
  state_.mdb.reset();
}

Row PlanningJob::with(Row row, const Row& changes) {
  for (const auto& [name, value] : changes) {
    bool replaced = false;
    for (auto& [n, v] : row)
      if (n == name) v = value, replaced = true;
    if (!replaced) row.emplace_back(name, value);
  }
  return row;
}

void PlanningJob::tariff(const std::string& code, const Row& changes) {
  const Row row = {{"code", code},      {"LeBase1", 26.6},  {"LeDPtg1", 3.0},   {"LeRPtg1", 1.5},
                   {"LeQty1", 100.0},   {"LeQty2", 1000.0}, {"LeQty3", 5000.0}, {"LeQty4", 10000.0},
                   {"LeQty5", 50000.0}, {"LeQ1VRD1", 0.5},  {"LeQ2VRD1", 1.0},  {"LeQ3VRD1", 1.5},
                   {"LeQ4VRD1", 2.0},   {"LeQ5VRD1", 2.5},  {"Qty1", 5000.0},   {"Qty2", 20000.0},
                   {"LeQ1DPtg1", 2.0},  {"LeQ2DPtg1", 3.0}, {"LeQ3DPtg1", 4.0}, {"Franking Surcharge", 10.0}};
  db_.insert("price", with(row, changes));
}

const std::vector<std::string>& PlanningJob::run() {
  state_.mdb = store::Database::open(db_.path(), store::OpenMode::Shared);
  state_.parmrs = state_.mdb->openTable("parmcode");
  const auto previous = std::filesystem::current_path();
  std::filesystem::current_path(dir_.path());
  planrep(state_);
  std::filesystem::current_path(previous);
  lines_ = sink.allText();
  return lines_;
}

const std::vector<std::string>& PlanningJob::runWith(const Row& changes, const Row& parameters) {
  tariff("M2", changes);
  standardPrices();
  db_.insertParameters(parameters);
  return run();
}

std::string PlanningJob::at(const std::string& label, std::size_t from, int after) const {
  const std::string text = line(label, after);
  return text.size() < from ? "(no line " + label + ")" : text.substr(from);
}

std::string PlanningJob::line(const std::string& label, int after) const {
  for (std::size_t i = 0; i + after < lines_.size(); ++i)
    if (lines_[i].rfind(label, 0) == 0) return lines_[i + after];
  return {};
}

std::vector<std::string> PlanningJob::poplan() const { return csvFields(readFile(dir_.file("POPLAN.CSV"))); }

std::vector<std::string> csvFields(std::string record) {
  if (record.size() < 4 || record.substr(record.size() - 3) != "\"\r\n" || record[0] != '"')
    return {"not quoted fields ending in CR LF: " + record};
  std::vector<std::string> fields;
  for (std::size_t end; (end = record.find("\",\"")) != std::string::npos; record.erase(0, end + 2))
    fields.push_back(record.substr(1, end - 1));
  fields.push_back(record.substr(1, record.size() - 4));
  return fields;
}

}  // namespace ms::testing
