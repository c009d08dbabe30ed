// Costs and discounts: the tariff's price rules by format and weight, the
// volume bands, Mailsort 120, franking, the standard rate and what a missing
// row or a Null field leaves.
#include <gtest/gtest.h>

#include "planning_job.h"

namespace ms::testing {
namespace {

const std::string kItemCost = "Straight Line Item Cost                          ";
const std::string kDirect = "Direct Selection Discount                       ";

// Tariff fields of the three weighed formats; every limit, base and
// extension differs so that a wrong field shows.
const Row kWeighedFormats = {{"LLWgt1", 100.0},  {"LLWgt2", 250.0}, {"LLBase1", 30.0}, {"LLBase2", 40.0},
                             {"LLExt1", 0.1},    {"A3Wgt1", 200.0}, {"A3Wgt2", 400.0}, {"A3Base1", 50.0},
                             {"A3Base2", 60.0},  {"A3Ext1", 0.05},  {"PKWgt1", 100.0}, {"PKWgt2", 500.0},
                             {"PKWgt3", 1000.0}, {"PKBase1", 70.0}, {"PKBase2", 90.0}, {"PKExt1", 0.02},
                             {"PKExt2", 0.01},   {"PkBase3", 110.0}};

struct ItemCostCase {
  const char* format;
  double weight;
  const char* itemCost;  // the six-character field of the item cost line
};

class ItemCost : public ::testing::TestWithParam<ItemCostCase> {};

TEST_P(ItemCost, FollowsTheFormatsWeightSteps) {
  const auto& c = GetParam();
  PlanningJob job;
  job.standardTariff("M2", kWeighedFormats);
  job.standardPrices();
  job.parameters({{"Format", c.format}, {"Weight", c.weight}});
  job.run();
  EXPECT_EQ(job.lineStarting("Straight Line Item Cost"), kItemCost + c.itemCost);
}

INSTANTIATE_TEST_SUITE_P(Boundaries, ItemCost,
                         ::testing::Values(
                             // A letter's weight is not looked at.
                             ItemCostCase{"LE", 5000, "  .266"},
                             // Large letter: at the first limit the first base; between the
                             // limits the second; above the second the extension per gram.
                             ItemCostCase{"LL", 100, "  .300"}, ItemCostCase{"LL", 101, "  .400"},
                             ItemCostCase{"LL", 250, "  .400"}, ItemCostCase{"LL", 251, "  .401"},
                             // A3: 60 + 1 * 0.05 = 60.05 pence, rounded to one place first.
                             ItemCostCase{"A3", 200, "  .500"}, ItemCostCase{"A3", 400, "  .600"},
                             ItemCostCase{"A3", 401, "  .601"},
                             // Packet: the third limit is a strict test; exactly at it the third
                             // base with nothing added; just below it the first extension
                             // (90 + 499 * 0.02 = 99.98, one place 100.0).
                             ItemCostCase{"PK", 100, "  .700"}, ItemCostCase{"PK", 500, "  .900"},
                             ItemCostCase{"PK", 999, " 1.000"}, ItemCostCase{"PK", 1000, " 1.100"},
                             ItemCostCase{"PK", 1200, " 1.120"},
                             // Any other code prices nothing.
                             ItemCostCase{"XX", 100, "  .000"}));

struct BandCase {
  double diritems;
  const char* rate;  // the six-character percentage of the direct items line
};

class VolumeBand : public ::testing::TestWithParam<BandCase> {};

TEST_P(VolumeBand, FirstBandNotBelowTheDirectItems) {
  PlanningJob job;
  job.standardTariff(
      "M2", {{"LeQty1", 100.0}, {"LeQty2", 200.0}, {"LeQty3", 300.0}, {"LeQty4", 400.0}, {"LeQty5", 500.0}});
  job.standardPrices();
  job.parameters({});
  job.state().diritems = GetParam().diritems;
  job.run();
  const std::string line = job.lineAfter(kDirect);
  ASSERT_NE(line.find(" items @ "), std::string::npos) << line;
  EXPECT_EQ(line.substr(line.find(" items @ ") + 9), std::string(GetParam().rate) + "%");
}

INSTANTIATE_TEST_SUITE_P(Limits, VolumeBand,
                         ::testing::Values(BandCase{1, "  3.50"}, BandCase{100, "  3.50"},
                                           BandCase{101, "  4.00"}, BandCase{300, "  4.50"},
                                           BandCase{500, "  5.50"}, BandCase{501, "  3.00"}));

class Costs : public ::testing::Test {
 protected:
  PlanningJob job;
};

TEST_F(Costs, NullBandLimitIsPassedOverButAMissingDiscountKeepsTheBand) {
  // LeQty1 Null counts as not true, so 120 items reach band 2 (+1.0); the
  // Null direct discount itself fails and leaves only the band.
  job.standardTariff("M2", {{"LeQty1", Value()}, {"LeDPtg1", Value()}});
  job.standardPrices();
  job.parameters({});
  job.run();
  EXPECT_EQ(job.lineStarting("         120 items @ "), "         120 items @   1.00%");
}

TEST_F(Costs, Mailsort120UsesItsOwnRowAndDiscount) {
  job.standardTariff("M2");
  job.standardTariff("M2 120", {{"LeBase1", 20.0}, {"LeQ1DPtg1", 5.0}});
  job.standardPrices();
  job.parameters({{"Mailsort120", "Y"}});
  job.run();
  EXPECT_EQ(job.state().pricekey, "M2 120");
  EXPECT_EQ(job.lineStarting("Straight Line Item Cost"), kItemCost + "  .200");
  EXPECT_TRUE(job.printed(kDirect));
  // 0.2 * 60 * 5 / 100 = 0.60 on the residue items.
  EXPECT_EQ(job.lineStarting("Mailsort 120 Discount"),
            "Mailsort 120 Discount                               .60");
  EXPECT_TRUE(job.printed("          60 items @   5.00%"));
  // 36.00 - 0.96 (direct 4%) - 0.18 - 0.60 + 4.20
  EXPECT_EQ(job.lineStarting("Total Cost"), "Total Cost                                        38.46");
}

TEST_F(Costs, Mailsort120BandsPassOverNullLimits) {
  job.standardTariff("M2 120", {{"Qty1", Value()}, {"Qty2", Value()}});
  job.standardPrices();
  job.parameters({{"Mailsort120", "Y"}});
  job.run();
  EXPECT_TRUE(job.printed("          60 items @   4.00%"));
}

TEST_F(Costs, FrankingSurchargeOnlyForRoyalMail) {
  job.standardTariff("M2");
  job.standardPrices();
  job.parameters({{"RoyalMail", "y"}});
  job.run();
  EXPECT_FALSE(job.printed("P.O. Franking Surcharge"));
  EXPECT_FALSE(job.printed("Mailsort 120 Discount"));
  EXPECT_EQ(job.lineStarting("Total Cost"), "Total Cost                                        50.56");

  PlanningJob royal;
  royal.standardTariff("M2");
  royal.standardPrices();
  royal.parameters({{"RoyalMail", "Y"}});
  const auto lines = royal.run();
  // (0.266 * 120 + 0.266 * 60) * 10 / 100 = 4.788
  EXPECT_EQ(royal.lineStarting("P.O. Franking Surcharge"),
            "P.O. Franking Surcharge                            4.79");
  EXPECT_TRUE(royal.printed("         180 items @  10.00%"));
  EXPECT_EQ(royal.lineStarting("Total Cost"), "Total Cost                                        55.35");
}

TEST_F(Costs, NullFrankingSurchargeChargesNothingAndLeavesItsRateUnfilled) {
  job.standardTariff("M2", {{"Franking Surcharge", Value()}});
  job.standardPrices();
  job.parameters({{"RoyalMail", "Y"}});
  job.run();
  EXPECT_EQ(job.lineStarting("P.O. Franking Surcharge"),
            "P.O. Franking Surcharge                             .00");
  EXPECT_TRUE(job.printed("         180 items @ " + unfilled(6) + "%"));
  EXPECT_EQ(job.lineStarting("Total Cost"), "Total Cost                                        50.56");
}

TEST_F(Costs, StandardRateByService) {
  // M1 and P1 take the first price, any other service the second.
  for (const char* service : {"M1", "P1", "M3"}) {
    PlanningJob one;
    one.standardTariff(service);
    one.standardPrices();
    one.parameters({{"service", service}});
    one.run();
    const std::string rate = std::string(service) == "M3" ? "21" : "30";
    EXPECT_EQ(one.lineStarting("          20 items @"), "          20 items @   " + rate + " pence")
        << service;
  }
}

TEST_F(Costs, NoPriceRowLeavesOnlyTheStandardRate) {
  // Every tariff read fails: item cost, discounts and surcharge stay 0,
  // even where a failing weight test enters its first branch.
  job.standardTariff("M1");
  job.standardPrices();
  job.parameters({{"Format", "PK"}, {"RoyalMail", "Y"}, {"Mailsort120", "Y"}});
  job.run();
  EXPECT_EQ(job.state().pricekey, "M2 120");
  EXPECT_EQ(job.lineStarting("Straight Line Item Cost"), kItemCost + "  .000");
  EXPECT_EQ(job.lineStarting("Straight Line Total Cost"),
            "Straight Line Total Cost                            .00");
  EXPECT_EQ(job.lineStarting(kDirect), kDirect + "    .00");
  EXPECT_TRUE(job.printed("         120 items @    .00%"));
  EXPECT_EQ(job.lineStarting("Mailsort 120 Discount"),
            "Mailsort 120 Discount                               .00");
  EXPECT_TRUE(job.printed("         180 items @ " + unfilled(6) + "%"));
  // A packet of 95 g at the standard rate has no price step here either.
  EXPECT_EQ(job.lineStarting("Total Cost"), "Total Cost                                          .00");
}

TEST_F(Costs, NoTariffTableAtAll) {
  job.db().exec("DROP TABLE price");
  job.standardPrices();
  job.parameters({});
  job.run();
  EXPECT_EQ(job.lineStarting("Straight Line Item Cost"), kItemCost + "  .000");
  EXPECT_EQ(job.lineStarting("Total Cost"), "Total Cost                                         4.20");
  EXPECT_EQ(job.lineStarting("Equivalent without Mailsort"),
            "Equivalent without Mailsort                       42.00");
  EXPECT_EQ(job.lineStarting("Mailsort saving"), "Mailsort saving                                   37.80");
  EXPECT_EQ(job.sink.endDocs, 1);
}

TEST_F(Costs, NoStandardPriceGivesARateOfNothing) {
  job.standardTariff("M2");
  job.parameters({});
  job.run();
  EXPECT_TRUE(job.printed("          20 items @   0 pence"));
  EXPECT_EQ(job.lineStarting("Items at standard postal rate"),
            "Items at standard postal rate                       .00");
  EXPECT_EQ(job.lineStarting("Equivalent without Mailsort"),
            "Equivalent without Mailsort                         .00");
  EXPECT_EQ(job.lineStarting("Mailsort saving"), "Mailsort saving                                  -46.36");
}

TEST_F(Costs, NullWeightLimitCountsAsNotTrue) {
  // A Null first limit is passed over, so a 50 g large letter takes the
  // second base; a Null base price fails and prices nothing.
  job.standardTariff("M2", {{"LLWgt1", Value()}, {"LLWgt2", 250.0}, {"LLBase1", 30.0}, {"LLBase2", 40.0}});
  job.standardTariff("M3", {{"LeBase1", Value()}});
  job.standardPrices();
  job.parameters({{"Format", "LL"}, {"Weight", 50.0}});
  job.run();
  EXPECT_EQ(job.lineStarting("Straight Line Item Cost"), kItemCost + "  .400");

  PlanningJob letter;
  letter.standardTariff("M3", {{"LeBase1", Value()}});
  letter.standardPrices();
  letter.parameters({{"service", "M3"}});
  letter.run();
  EXPECT_EQ(letter.lineStarting("Straight Line Item Cost"), kItemCost + "  .000");
}

}  // namespace
}  // namespace ms::testing
