// getprc: the standard price steps walked for each format.
#include "reports/planning/price_lookup.h"

#include <gtest/gtest.h>

#include "run/run_state.h"
#include "store/database.h"
#include "store/recordset.h"
#include "support/fixture_db.h"

namespace ms::testing {
namespace {

// Limits ascend by 100 g per step; each price names its step: Fst 10 * n,
// Snd 10 * n + 1 (letters 5 and 6).
Row standardSteps() {
  Row row = {{"LeW1Fst", 5.0}, {"LeW1Snd", 6.0}};
  for (int n = 1; n <= 4; ++n) {
    if (n <= 3) row.emplace_back("LLWgt" + std::to_string(n), 100.0 * n);
    row.emplace_back("LLW" + std::to_string(n) + "Fst", 10.0 * n);
    row.emplace_back("LLW" + std::to_string(n) + "Snd", 10.0 * n + 1);
  }
  for (int n = 1; n <= 9; ++n) {
    row.emplace_back("PKWgt" + std::to_string(n), 100.0 * n);
    row.emplace_back("PKW" + std::to_string(n) + "Fst", 100.0 + 10.0 * n);
    row.emplace_back("PKW" + std::to_string(n) + "Snd", 100.0 + 10.0 * n + 1);
  }
  return row;
}

class PriceLookup : public ::testing::Test {
 protected:
  // Runs getprc on a job of `format` and `weight`; the prices start at
  // -1 so that an unset one shows. Returns whether it ran to its end.
  bool lookUp(const Value& format, double weight, const Row& prices = standardSteps()) {
    FixtureDb db(dir.path());
    db.insertParameters({{"Format", format}});
    if (!prices.empty()) db.insert("poprice", prices);
    RunState run;
    run.mdb = store::Database::open(db.path(), store::OpenMode::Shared);
    run.parmrs = run.mdb->openTable("parmcode");
    run.itemweight = weight;
    run.fstprice = run.sndprice = -1;
    bool completed = true;
    try {
      getprc(run);
    } catch (const std::exception&) {
      completed = false;
    }
    fst = run.fstprice;
    snd = run.sndprice;
    return completed;
  }
  TempDir dir;
  double fst = 0, snd = 0;
};

struct StepCase {
  const char* format;
  double weight;
  double fst, snd;
};

TEST_F(PriceLookup, StepsByFormatAndWeight) {
  const StepCase cases[] = {
      // Letters have one step, whatever the weight.
      {"LE", 0, 5, 6},
      {"LE", 5000, 5, 6},
      // Large letters: a weight at a limit takes that step; above the third
      // the fourth, whatever the weight.
      {"LL", 1, 10, 11},
      {"LL", 100, 10, 11},
      {"LL", 200, 20, 21},
      {"LL", 201, 30, 31},
      {"LL", 301, 40, 41},
      {"LL", 90000, 40, 41},
      // Packets, A3 packets and any other code (a lower-case "le" too)
      // walk the packet steps.
      {"PK", 100, 110, 111},
      {"PK", 101, 120, 121},
      {"PK", 900, 190, 191},
      {"A3", 450, 150, 151},
      {"le", 0, 110, 111},
      {"XX", 250, 130, 131},
  };
  for (const auto& c : cases) {
    EXPECT_TRUE(lookUp(c.format, c.weight)) << c.format << " " << c.weight;
    EXPECT_EQ(fst, c.fst) << c.format << " " << c.weight;
    EXPECT_EQ(snd, c.snd) << c.format << " " << c.weight;
  }
}

TEST_F(PriceLookup, NoPacketStepAboveTheLastLimit) {
  EXPECT_TRUE(lookUp("PK", 901));
  EXPECT_EQ(fst, -1);
  EXPECT_EQ(snd, -1);
  // A Null format is no known code either.
  EXPECT_TRUE(lookUp(Value(), 901));
  EXPECT_EQ(fst, -1);
}

TEST_F(PriceLookup, StepsOutOfOrderTakeTheFirstThatHolds) {
  Row prices = standardSteps();
  for (auto& [name, value] : prices)
    if (name == "PKWgt1") value = 1000.0;
  EXPECT_TRUE(lookUp("PK", 500, prices));
  EXPECT_EQ(fst, 110);
}

TEST_F(PriceLookup, FailuresEndTheLookupWhereTheyHappen) {
  // No price record: nothing is set.
  EXPECT_FALSE(lookUp("LE", 10, {}));
  EXPECT_EQ(fst, -1);
  EXPECT_EQ(snd, -1);

  // A Null second price: the first is already set.
  Row nullSnd = standardSteps();
  for (auto& [name, value] : nullSnd)
    if (name == "LLW2Snd") value = Value();
  EXPECT_FALSE(lookUp("LL", 150, nullSnd));
  EXPECT_EQ(fst, 20);
  EXPECT_EQ(snd, -1);

  // A Null limit on the way stops the walk; one beyond the chosen step is
  // never read.
  Row nullLimit = standardSteps();
  for (auto& [name, value] : nullLimit)
    if (name == "PKWgt3") value = Value();
  EXPECT_FALSE(lookUp("PK", 250, nullLimit));
  EXPECT_EQ(fst, -1);
  EXPECT_TRUE(lookUp("PK", 150, nullLimit));
  EXPECT_EQ(fst, 120);
}

}  // namespace
}  // namespace ms::testing
