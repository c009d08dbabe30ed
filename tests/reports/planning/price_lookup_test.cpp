// getprc: the standard price steps walked for each format, and where a
// failure stops the walk.
#include "reports/planning/price_lookup.h"

#include <gtest/gtest.h>

#include "run/run_state.h"
#include "store/database.h"
#include "store/recordset.h"
#include "support/fixture_db.h"

namespace ms::testing {
namespace {

// Limits ascend by 100 g a step; prices name their step: large letters
// 10n (Fst) and 10n + 1 (Snd), packets 100 + 10n and 101 + 10n, letters 5, 6.
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

TEST(PriceLookup, StepsByFormatAndWeight) {
  const struct {
    Value format;
    double weight;
    Row changes;
    bool completes;
    double fst, snd;  // -1: left as it was
  } cases[] = {
      // Letters have one step, whatever the weight.
      {"LE", 0, {}, true, 5, 6},
      {"LE", 5000, {}, true, 5, 6},
      // Large letters: at a limit that step; above the third the fourth.
      {"LL", 100, {}, true, 10, 11},
      {"LL", 200, {}, true, 20, 21},
      {"LL", 201, {}, true, 30, 31},
      {"LL", 90000, {}, true, 40, 41},
      // Packets, A3 packets and any other code, "le" and Null too.
      {"PK", 100, {}, true, 110, 111},
      {"PK", 101, {}, true, 120, 121},
      {"PK", 900, {}, true, 190, 191},
      {"A3", 450, {}, true, 150, 151},
      {"le", 0, {}, true, 110, 111},
      {Value(), 250, {}, true, 130, 131},
      // Above the last packet limit no price is set.
      {"PK", 901, {}, true, -1, -1},
      // Limits out of order: the first in walk order that holds wins.
      {"PK", 500, {{"PKWgt1", 1000.0}}, true, 110, 111},
      // A Null price ends the lookup after the first; a Null limit ends it
      // when the walk reaches it, and not before.
      {"LL", 150, {{"LLW2Snd", Value()}}, false, 20, -1},
      {"PK", 250, {{"PKWgt3", Value()}}, false, -1, -1},
      {"PK", 150, {{"PKWgt3", Value()}}, true, 120, 121},
  };
  for (const auto& c : cases) {
    TempDir dir;
    FixtureDb db(dir.path());
    db.insertParameters({{"Format", c.format}});
    db.insert("poprice", standardSteps(c.changes));
    RunState run;
    run.mdb = store::Database::open(db.path(), store::OpenMode::Shared);
    run.parmrs = run.mdb->openTable("parmcode");
    run.itemweight = c.weight;
    run.fstprice = run.sndprice = -1;
    bool completed = true;
    try {
      getprc(run);
    } catch (const std::exception&) {
      completed = false;
    }
    const std::string what = c.format.textOrEmpty() + " " + std::to_string(c.weight);
    EXPECT_EQ(completed, c.completes) << what;
    EXPECT_EQ(run.fstprice, c.fst) << what;
    EXPECT_EQ(run.sndprice, c.snd) << what;
  }
}

TEST(PriceLookup, NoPriceRecordSetsNothing) {
  TempDir dir;
  FixtureDb db(dir.path());
  db.insertParameters();
  RunState run;
  run.mdb = store::Database::open(db.path(), store::OpenMode::Shared);
  run.parmrs = run.mdb->openTable("parmcode");
  run.fstprice = run.sndprice = 7;
  EXPECT_ANY_THROW(getprc(run));
  EXPECT_EQ(run.fstprice + run.sndprice, 14);
}

}  // namespace
}  // namespace ms::testing
