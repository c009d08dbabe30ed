// getprc: the standard price steps of each format, and where a failure stops.
#include "reports/planning/price_lookup.h"

#include <gtest/gtest.h>

#include <iomanip>
#include <sstream>

#include "run/run_state.h"
#include "store/database.h"
#include "store/recordset.h"
#include "support/fixture_db.h"

namespace ms::testing {
namespace {

// Limits ascend by 100 g a step; prices name their step: large letters 10n
// (Fst) and 10n + 1 (Snd), packets 100 + 10n and 101 + 10n, letters 5, 6.
Row standardSteps(const Row& changes) {
  Row row = {{"LeW1Fst", 5.0}, {"LeW1Snd", 6.0}};
  for (int n = 1; n <= 9; ++n) {
    const std::string s = std::to_string(n);
    if (n <= 3) row.emplace_back("LLWgt" + s, 100.0 * n);
    if (n <= 4)
      row.emplace_back("LLW" + s + "Fst", 10.0 * n), row.emplace_back("LLW" + s + "Snd", 10.0 * n + 1);
    row.emplace_back("PKWgt" + s, 100.0 * n);
    row.emplace_back("PKW" + s + "Fst", 100.0 + 10 * n), row.emplace_back("PKW" + s + "Snd", 101.0 + 10 * n);
  }
  for (const auto& [name, value] : changes)
    for (auto& [n, v] : row)
      if (n == name) v = value;
  return row;
}

// "ok" or "fails", then the two prices (-1: left as they were).
std::string lookup(const Value& format, double weight, const Row& changes, bool priceRecord = true) {
  TempDir dir;
  FixtureDb db(dir.path());
  db.insertParameters({{"Format", format}});
  if (priceRecord) db.insert("poprice", standardSteps(changes));
  RunState run;
  run.mdb = store::Database::open(db.path(), store::OpenMode::Shared);
  run.parmrs = run.mdb->openTable("parmcode");
  run.itemweight = weight;
  run.fstprice = run.sndprice = -1;
  std::string result = "ok";
  try {
    getprc(run);
  } catch (const std::exception&) {
    result = "fails";
  }
  std::ostringstream out;
  out << std::setprecision(17) << result << " " << run.fstprice << " " << run.sndprice;
  return out.str();
}

TEST(PriceLookup, StepsByFormatAndWeight) {
  const struct {
    Value format;
    double weight;
    Row changes;
    const char* result;
  } cases[] = {
      {"LE", 5000, {}, "ok 5 6"},   // letters: one step, whatever the weight
      {"LL", 100, {}, "ok 10 11"},  // at a limit that step; above the third the fourth
      {"LL", 200, {}, "ok 20 21"},
      {"LL", 201, {}, "ok 30 31"},
      {"LL", 90000, {}, "ok 40 41"},
      {"PK", 100, {}, "ok 110 111"},  // packets, A3 packets, any other code, "le" and Null
      {"PK", 101, {}, "ok 120 121"},
      {"PK", 900, {}, "ok 190 191"},
      {"A3", 450, {}, "ok 150 151"},
      {"le", 0, {}, "ok 110 111"},
      {Value(), 250, {}, "ok 130 131"},
      {"PK", 901, {}, "ok -1 -1"},                         // above the last limit: no price
      {"PK", 500, {{"PKWgt1", 1000.0}}, "ok 110 111"},     // the first limit in walk order that holds
      {"LL", 150, {{"LLW2Snd", Value()}}, "fails 20 -1"},  // a Null price ends it after the first
      {"PK", 250, {{"PKWgt3", Value()}}, "fails -1 -1"},   // a Null limit when the walk reaches it
      {"PK", 150, {{"PKWgt3", Value()}}, "ok 120 121"},    // and not before
  };
  for (const auto& c : cases)
    EXPECT_EQ(lookup(c.format, c.weight, c.changes), c.result) << c.format.textOrEmpty() << " " << c.weight;
  EXPECT_EQ(lookup("LE", 0, {}, false), "fails -1 -1");  // no price record sets nothing
}

}  // namespace
}  // namespace ms::testing
