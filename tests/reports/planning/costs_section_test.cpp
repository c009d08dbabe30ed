// Costs and discounts: price rules by format and weight, volume bands,
// Mailsort 120, franking, the standard rate, missing rows and Null fields.
#include <gtest/gtest.h>

#include "planning_job.h"

namespace ms::testing {
namespace {

TEST(Costs, ItemCostFollowsTheFormatsWeightSteps) {
  // Every limit, base and extension differs so that a wrong field shows.
  const Row weighed = {{"LLWgt1", 100.0},  {"LLWgt2", 250.0}, {"LLBase1", 30.0}, {"LLBase2", 40.0},
                       {"LLExt1", 0.1},    {"A3Wgt1", 200.0}, {"A3Wgt2", 400.0}, {"A3Base1", 50.0},
                       {"A3Base2", 60.0},  {"A3Ext1", 0.05},  {"PKWgt1", 100.0}, {"PKWgt2", 500.0},
                       {"PKWgt3", 1000.0}, {"PKBase1", 70.0}, {"PKBase2", 90.0}, {"PKExt1", 0.02},
                       {"PKExt2", 0.01},   {"PkBase3", 110.0}};
  const struct {
    const char* format;
    double weight;
    const char* itemCost;
  } cases[] = {
      {"LE", 5000, "  .266"},  // a letter's weight is not looked at
      {"LL", 100, "  .300"},  {"LL", 101, "  .400"}, {"LL", 250, "  .400"},
      {"LL", 251, "  .401"},                                                 // 40 + 1 * 0.1
      {"A3", 200, "  .500"},  {"A3", 400, "  .600"}, {"A3", 401, "  .601"},  // 60.05, one place first
      {"PK", 100, "  .700"},  {"PK", 500, "  .900"}, {"PK", 999, " 1.000"},  // 99.98 -> 100.0
      {"PK", 1000, " 1.100"},                                                // the third limit is strict
      {"PK", 1200, " 1.120"}, {"XX", 100, "  .000"},
  };
  for (const auto& c : cases) {
    PlanningJob job;
    job.runWith(weighed, {{"Format", c.format}, {"Weight", c.weight}});
    EXPECT_EQ(job.at("Straight Line Item Cost", 49), c.itemCost) << c.format << " " << c.weight;
  }
}

TEST(Costs, DirectRateTakesTheFirstVolumeBandNotBelowTheDirectItems) {
  const Row bands = {
      {"LeQty1", 100.0}, {"LeQty2", 200.0}, {"LeQty3", 300.0}, {"LeQty4", 400.0}, {"LeQty5", 500.0}};
  const struct {
    double diritems;
    Row changes;
    const char* rate;
  } cases[] = {
      {1, {}, "  3.50"},
      {100, {}, "  3.50"},
      {101, {}, "  4.00"},
      {300, {}, "  4.50"},
      {500, {}, "  5.50"},
      {501, {}, "  3.00"},
      // A Null limit is passed over; a Null direct rate fails, the band is still added.
      {50, {{"LeQty1", Value()}}, "  4.00"},
      {50, {{"LeDPtg1", Value()}}, "   .50"},
  };
  for (const auto& c : cases) {
    PlanningJob job;
    job.state().diritems = c.diritems;
    job.runWith(PlanningJob::with(bands, c.changes));
    EXPECT_EQ(job.at("Direct Selection Discount", 21, 1), std::string(c.rate) + "%") << c.diritems;
  }
}

TEST(Costs, Mailsort120UsesItsOwnRowAndDiscount) {
  PlanningJob job, nullBands;
  job.tariff("M2 120", {{"LeBase1", 20.0}, {"LeQ1DPtg1", 5.0}});
  job.runWith({}, {{"Mailsort120", "Y"}});
  EXPECT_EQ(job.state().pricekey, "M2 120");
  EXPECT_EQ(job.at("Straight Line Item Cost", 49), "  .200");
  // 0.2 * 60 * 5 / 100 on the residue items; 36.00 - 0.96 - 0.18 + 4.20 - 0.60.
  EXPECT_EQ(job.line("Mailsort 120 Discount"), "Mailsort 120 Discount                               .60");
  EXPECT_EQ(job.line("Mailsort 120 Discount", 1), "          60 items @   5.00%");
  EXPECT_EQ(job.line("Total Cost"), "Total Cost                                        38.46");
  nullBands.tariff("M2 120", {{"Qty1", Value()}, {"Qty2", Value()}});  // the third rate
  nullBands.runWith({}, {{"Mailsort120", "Y"}});
  EXPECT_EQ(nullBands.line("Mailsort 120 Discount", 1), "          60 items @   4.00%");
}

TEST(Costs, FrankingSurchargeOnlyForRoyalMail) {
  PlanningJob off, on, nullRate;
  off.runWith({}, {{"RoyalMail", "y"}});
  EXPECT_FALSE(off.printed("P.O. Franking Surcharge"));
  EXPECT_FALSE(off.printed("Mailsort 120 Discount"));
  EXPECT_EQ(off.at("Total Cost", 45), "     50.56");
  on.runWith({}, {{"RoyalMail", "Y"}});  // 180 * 0.266 * 10 / 100 = 4.788
  EXPECT_EQ(on.line("P.O. Franking Surcharge"), "P.O. Franking Surcharge                            4.79");
  EXPECT_EQ(on.line("P.O. Franking Surcharge", 1), "         180 items @  10.00%");
  EXPECT_EQ(on.at("Total Cost", 45), "     55.35");
  nullRate.runWith({{"Franking Surcharge", Value()}}, {{"RoyalMail", "Y"}});  // charges nothing
  EXPECT_EQ(nullRate.at("P.O. Franking Surcharge", 48), "    .00");
  EXPECT_EQ(nullRate.line("P.O. Franking Surcharge", 1), "         180 items @ " + unfilled(6) + "%");
  EXPECT_EQ(nullRate.at("Total Cost", 45), "     50.56");
}

TEST(Costs, StandardRateByService) {
  for (const auto& [service, rate] : {std::pair{"M1", "30"}, std::pair{"P1", "30"}, std::pair{"M3", "21"}}) {
    PlanningJob job;
    job.runWith({}, {{"service", service}});
    EXPECT_EQ(job.line("Items at standard postal rate", 1),
              "          20 items @   " + std::string(rate) + " pence");
  }
}

TEST(Costs, NoPriceRowLeavesOnlyTheStandardRate) {
  // "M2 120" has no row: every tariff read fails, even where a failing weight
  // test enters its first branch; a 95 g packet has no standard price either.
  PlanningJob job, bare;
  job.tariff("M1");
  job.standardPrices();
  job.db().insertParameters({{"Format", "PK"}, {"RoyalMail", "Y"}, {"Mailsort120", "Y"}});
  job.run();
  EXPECT_EQ(job.at("Straight Line Item Cost", 49), "  .000");
  EXPECT_EQ(job.at("Straight Line Total Cost", 45), "       .00");
  EXPECT_EQ(job.line("Direct Selection Discount", 1), "         120 items @    .00%");
  EXPECT_EQ(job.at("Mailsort 120 Discount", 46), "      .00");
  EXPECT_EQ(job.line("P.O. Franking Surcharge", 1), "         180 items @ " + unfilled(6) + "%");
  EXPECT_EQ(job.at("Total Cost", 45), "       .00");
  bare.db().exec("DROP TABLE price");  // the standard rate alone
  bare.standardPrices();
  bare.db().insertParameters();
  bare.run();
  EXPECT_EQ((std::vector<std::string>{bare.at("Total Cost", 45), bare.at("Equivalent without Mailsort", 45),
                                      bare.at("Mailsort saving", 45)}),
            (std::vector<std::string>{"      4.20", "     42.00", "     37.80"}));
  EXPECT_EQ(bare.sink.endDocCount(), 1);
}

TEST(Costs, NoStandardPriceGivesARateOfNothingAndANegativeSaving) {
  PlanningJob job;
  job.tariff("M2");
  job.db().insertParameters();
  job.run();
  EXPECT_EQ(job.line("Items at standard postal rate"),
            "Items at standard postal rate                       .00");
  EXPECT_EQ(job.line("Items at standard postal rate", 1), "          20 items @   0 pence");
  EXPECT_EQ(job.at("Equivalent without Mailsort", 45), "       .00");
  EXPECT_EQ(job.line("Mailsort saving"), "Mailsort saving                                  -46.36");
}

}  // namespace
}  // namespace ms::testing
