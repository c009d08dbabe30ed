// The posting selection's ranks (getseq) and one record's rank (getreg),
// with their fallbacks.
#include "allocation/region_lookups.h"

#include <gtest/gtest.h>

#include "allocation/allocation_job.h"
#include "store/fault.h"

namespace ms::testing {
namespace {

TEST(Getseq, FindsThePostingSelectionsRanks) {
  struct Case {
    const char* what;
    Value postcode;
    std::vector<std::pair<std::string, std::string>> pcode;  // key -> mdsel
    std::string expected;                                    // "unchanged": left as it was
  };
  const Case cases[] = {
      {"sector before district", "AB12 3CD", {{"AB12 3", "S1"}, {"AB12", "D1"}}, "sector"},
      {"district when the sector is missing", "AB12 3CD", {{"AB12 4", "S1"}, {"AB12", "D1"}}, "district"},
      {"no space: the whole postcode", "AB123CD", {{"AB123CD", "D1"}}, "district"},
      {"neither sector nor district", "ZZ9 9ZZ", {{"AB12", "D1"}}, "unchanged"},
      {"empty postcode", "", {{"AB12", "D1"}}, "unchanged"},
      {"no postcode at all", Value(), {{"AB12", "D1"}}, "unchanged"},
      {"a selection without ranks", "AB12 3CD", {{"AB12 3", "XX"}}, "unchanged"},
      {"a selection without its code", "AB12 3CD", {{"AB12 3", ""}}, "unchanged"},
      {"a selection code cut to three", "AB12 3CD", {{"AB12 3", "LNGX"}}, "long"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    AllocationJob job;
    job.db.insertParameters({{"postcode", c.postcode}});
    for (const auto& [key, mdsel] : c.pcode) job.db.insert("pcode", {{"code", key}, {"mdsel", mdsel}});
    job.db.insert("sequence", {{"code", "S1"}, {"mdsorts", "sector"}});
    job.db.insert("sequence", {{"code", "D1"}, {"mdsorts", "district"}});
    job.db.insert("sequence", {{"code", "LNG"}, {"mdsorts", "long"}});
    RunState& run = job.open();
    run.sortcodes = "unchanged";
    getseq(run);
    EXPECT_EQ(run.sortcodes, c.expected);
  }
}

TEST(Getreg, RanksTheRegionOfTheResidueCode) {
  const std::string ranks = "0705031299";
  std::string longRanks(254, '-');
  longRanks += "42";
  struct Case {
    const char* what;
    std::string mscode, regionKey;
    Value mdreg;
    std::string sortcodes;
    Value expected;
  };
  const Case cases[] = {
      {"region 1", "12345", "123", 1, ranks, "07"},
      {"region 3", "12345", "123", 3, ranks, "03"},
      {"partly past the end", "12345", "123", 5, "070503129", "9"},
      {"wholly past the end", "12345", "123", 6, ranks, ""},
      {"last start position", "12345", "123", 128, longRanks, "42"},
      {"two-character code", "12", "12", 2, ranks, "05"},
      {"no region", "45678", "123", 1, ranks, "99"},
      {"region 0 fails", "12345", "123", 0, ranks, "old"},
      {"region 129 fails", "12345", "123", 129, ranks, "old"},
      {"region without number fails", "12345", "123", Value(), ranks, "old"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    AllocationJob job;
    job.db.insertParameters();
    job.region(c.regionKey, c.mdreg);
    job.db.insert("kvwork", {{"mscode", c.mscode}, {"rgcode", "old"}});
    RunState& run = job.open();
    run.sortcodes = c.sortcodes;
    run.workrs->moveFirst();
    run.workrs->edit();
    attempt([&] { getreg(run); });  // a failure abandons the call
    EXPECT_EQ(run.workrs->field("rgcode"), c.expected);
  }
}

}  // namespace
}  // namespace ms::testing
