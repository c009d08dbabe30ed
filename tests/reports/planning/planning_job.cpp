#include "planning_job.h"

#include <filesystem>

#include "reports/planning/planning_report.h"
#include "store/database.h"
#include "store/recordset.h"

namespace ms::testing {

PlanningJob::PlanningJob() : db_(std::make_unique<FixtureDb>(dir_.path())) {
  state_.rundate = "06/12/2026";
  state_.processed = 200;
  state_.pcmatched = 150;
  state_.townmatched = 30;
  state_.notmatched = 20;
  state_.fullpc = 150;
  state_.outwardonly = 30;
  state_.dirsels = 3;
  state_.ressels = 2;
  state_.diritems = 120;
  state_.resitems = 60;
  state_.dirbags = 3;
  state_.resbags = 2;
  state_.dirbundles = 5;
  state_.resbundles = 3;
  state_.printer = &sink;
}

PlanningJob::~PlanningJob() {
  state_.parmrs.reset();
  state_.mdb.reset();
}

void PlanningJob::tariff(const std::string& code, const Row& fields) {
  Row row = {{"code", code}};
  row.insert(row.end(), fields.begin(), fields.end());
  db_->insert("price", row);
}

namespace {

Row withChanges(Row row, const Row& changes) {
  for (const auto& [name, value] : changes) {
    bool replaced = false;
    for (auto& [n, v] : row)
      if (n == name) v = value, replaced = true;
    if (!replaced) row.emplace_back(name, value);
  }
  return row;
}

}  // namespace

void PlanningJob::standardTariff(const std::string& code, const Row& changes) {
  Row row = {{"LeBase1", 26.6},           {"LeDPtg1", 3.0},    {"LeRPtg1", 1.5},
             {"LeQty1", 100.0},           {"LeQty2", 1000.0},  {"LeQty3", 5000.0},
             {"LeQty4", 10000.0},         {"LeQty5", 50000.0}, {"LeQ1VRD1", 0.5},
             {"LeQ2VRD1", 1.0},           {"LeQ3VRD1", 1.5},   {"LeQ4VRD1", 2.0},
             {"LeQ5VRD1", 2.5},           {"Qty1", 5000.0},    {"Qty2", 20000.0},
             {"LeQ1DPtg1", 2.0},          {"LeQ2DPtg1", 3.0},  {"LeQ3DPtg1", 4.0},
             {"Franking Surcharge", 10.0}};
  tariff(code, withChanges(row, changes));
}

void PlanningJob::standardPrices(const Row& changes) {
  Row row = {{"LeW1Fst", 30.0}, {"LeW1Snd", 21.0}};
  db_->insert("poprice", withChanges(row, changes));
}

std::vector<std::string> PlanningJob::run() {
  state_.mdb = store::Database::open(db_->path(), store::OpenMode::Shared);
  state_.parmrs = state_.mdb->openTable("parmcode");
  const auto previous = std::filesystem::current_path();
  std::filesystem::current_path(dir_.path());
  planrep(state_);
  std::filesystem::current_path(previous);
  lines_.clear();
  for (const auto& line : sink.lines) lines_.push_back(line.text);
  return lines_;
}

std::string PlanningJob::lineStarting(const std::string& label) const {
  for (const auto& line : lines_)
    if (line.rfind(label, 0) == 0) return line;
  return {};
}

std::string PlanningJob::lineAfter(const std::string& label) const {
  for (std::size_t i = 0; i + 1 < lines_.size(); ++i)
    if (lines_[i].rfind(label, 0) == 0) return lines_[i + 1];
  return {};
}

std::string PlanningJob::poplan() const { return readFile(dir_.file("POPLAN.CSV")); }

std::vector<std::string> csvFields(const std::string& record) {
  std::vector<std::string> fields;
  std::string body = record;
  if (body.size() >= 2 && body.substr(body.size() - 2) == "\r\n") body.resize(body.size() - 2);
  std::size_t i = 0;
  while (i < body.size()) {
    if (body[i] != '"') return {"unquoted field at " + std::to_string(i)};
    const std::size_t end = body.find('"', i + 1);
    if (end == std::string::npos) return {"unterminated field"};
    fields.push_back(body.substr(i + 1, end - i - 1));
    i = end + 1;
    if (i < body.size() && body[i] != ',') return {"no comma after field"};
    ++i;
  }
  return fields;
}

}  // namespace ms::testing
