// A planning job: a fresh mailsort.mdb in a temporary folder, the run state
// with its counters, and a print job kept in memory.
#pragma once

#include <string>
#include <vector>

#include "reports/common/text_page_sink.h"
#include "run/run_state.h"
#include "support/fixture_db.h"

namespace ms::testing {

// A Letter job of 200 addresses: 180 suitable (120 direct in 3 selections,
// 60 residue in 2), 20 not matched; 150 full postcodes, 30 outward only.
class PlanningJob {
 public:
  PlanningJob();
  ~PlanningJob();
  FixtureDb& db() { return db_; }
  RunState& state() { return state_; }
  // A tariff row keyed `code`: 26.6 pence a letter, 3% direct, 1.5% residue,
  // volume bands from 100 items, Mailsort 120 bands, 10% franking.
  void tariff(const std::string& code, const Row& changes = {});
  // The standard price record: letters 30 (Fst) and 21 (Snd) pence.
  void standardPrices() { db_.insert("poprice", {{"LeW1Fst", 30.0}, {"LeW1Snd", 21.0}}); }
  // The usual job: tariff "M2" with `tariff` changes, standard prices, parameters.
  const std::vector<std::string>& runWith(const Row& tariff, const Row& parameters = {});
  // Runs planrep in the job's folder and returns the printed lines.
  const std::vector<std::string>& run();
  // The line that starts with `label`, or the `after`th after it ("" if none).
  std::string line(const std::string& label, int after = 0) const;
  // Its text from column `from`.
  std::string at(const std::string& label, std::size_t from, int after = 0) const;
  bool printed(const std::string& label) const { return !line(label).empty(); }
  // The fields of POPLAN.CSV without their quotes; one field naming the
  // fault when the record is not quoted fields ending in CR LF.
  std::vector<std::string> poplan() const;
  static Row with(Row row, const Row& changes);
  TextPageSink sink;

 private:
  TempDir dir_;
  FixtureDb db_;
  RunState state_;
  std::vector<std::string> lines_;
};

std::vector<std::string> csvFields(std::string record);

// A fixed field that was never filled.
inline std::string unfilled(std::size_t width) { return std::string(width, '\0'); }

}  // namespace ms::testing
