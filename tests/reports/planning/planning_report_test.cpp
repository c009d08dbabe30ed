// The planning page and POPLAN.CSV, what a failed figure leaves behind, the
// costs and discounts (price rules by format and weight, volume bands,
// Mailsort 120, franking, missing rows and Null fields) and the standard
// price steps of each format (getprc).
#include "reports/planning/planning_report.h"

#include <gtest/gtest.h>

#include <iomanip>
#include <set>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "reports/planning/price_lookup.h"
#include "support/run_job.h"

namespace ms::testing {
namespace {

// A Letter job of 200 addresses: 180 suitable (120 direct in 3 selections,
// 60 residue in 2), 20 not matched; 150 full postcodes, 30 outward only.
class PlanningJob : public RunJob {
 public:
  PlanningJob() {
    RunState& s = state;
    s.processed = 200, s.pcmatched = 150, s.townmatched = 30, s.notmatched = 20;
    s.fullpc = 150, s.outwardonly = 30;
    s.dirsels = 3, s.ressels = 2, s.diritems = 120, s.resitems = 60;
    s.dirbags = 3, s.resbags = 2, s.dirbundles = 5, s.resbundles = 3;
  }
  // A tariff row keyed `code`: 26.6 pence a letter, 3% direct, 1.5% residue,
  // volume bands from 100 items, Mailsort 120 bands, 10% franking.
  void tariff(const std::string& code, const Row& changes = {}) {
    const Row row = {
        {"code", code},      {"LeBase1", 26.6},  {"LeDPtg1", 3.0},   {"LeRPtg1", 1.5},
        {"LeQty1", 100.0},   {"LeQty2", 1000.0}, {"LeQty3", 5000.0}, {"LeQty4", 10000.0},
        {"LeQty5", 50000.0}, {"LeQ1VRD1", 0.5},  {"LeQ2VRD1", 1.0},  {"LeQ3VRD1", 1.5},
        {"LeQ4VRD1", 2.0},   {"LeQ5VRD1", 2.5},  {"Qty1", 5000.0},   {"Qty2", 20000.0},
        {"LeQ1DPtg1", 2.0},  {"LeQ2DPtg1", 3.0}, {"LeQ3DPtg1", 4.0}, {"Franking Surcharge", 10.0}};
    db.insert("price", withChanges(row, changes));
  }
  // The standard price record: letters 30 (Fst) and 21 (Snd) pence.
  void standardPrices() { db.insert("poprice", {{"LeW1Fst", 30.0}, {"LeW1Snd", 21.0}}); }
  // The usual job: tariff "M2" with `tariff` changes, standard prices, parameters.
  const std::vector<std::string>& runWith(const Row& changes, const Row& parameters = {}) {
    tariff("M2", changes);
    standardPrices();
    db.insertParameters(parameters);
    return run();
  }
  // Runs planrep in the job's folder and returns the printed lines.
  const std::vector<std::string>& run() {
    InFolder inFolder(dir.path());
    planrep(open());
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
  std::vector<std::string> poplan() const { return quotedFields(file("POPLAN.CSV")); }

 private:
  std::vector<std::string> lines_;
};

// A fixed field that was never filled.
std::string unfilled(std::size_t width) { return std::string(width, '\0'); }

TEST(PlanningReport, WholePageOfAPlainLetterJob) {
  PlanningJob job;
  const std::vector<std::string> expected = {
      "06/12/2026                     Mailsort Planning Report",
      " Acme Mailing Ltd",
      " ",
      "Mailsort Parameters",
      "Mailsort Service                                     M2",
      "Minimum Selection Size                                3",
      "Mail Format                                      Letter",
      "Max Bundle Size                                      25",
      "Weight of item                                       95g",
      "Job Reference                                     J1001",
      " ",
      "Presortation Statistics",
      "Address Records Processed                           200",
      "Postcodes Matched                                   150",
      "Post Towns Matched                                   30",
      "Addresses not matched                                20",
      "Suitable for Mailsort                               180",
      " ",
      "Postcode Statistics",
      "Full Postcode                                      75.0%",
      "Outward Only                                       15.0%",
      "Postcode Level                                     90.0%",
      "No Postcode                                        10.0%",
      " ",
      "Sortation Statistics",
      "                         Number      Items      % Match     Bags     Bundles",
      "Direct Selections            3        120         66.7        3           5",
      "Residue Selections           2         60         33.3        2           3",
      "Totals                       5        180        100.0        5           8",
      " ",
      "Costs and Discounts",
      "Total Mailsort Items                                180",
      "Straight Line Item Cost                            .266",
      "Straight Line Total Cost                          47.88",
      " ",
      "Direct Selection Discount                          1.28",
      "         120 items @   4.00%",
      "Residue Selection Discount                          .24",
      "          60 items @   1.50%",
      "Items at standard postal rate                      4.20",
      "          20 items @   21 pence",
      " ",
      "Total Cost                                        50.56",
      " ",
      "Equivalent without Mailsort                       42.00",
      " ",
      "Mailsort saving                                   -8.56",
  };
  EXPECT_EQ(job.runWith({}, {{"RoyalMail", "y"}, {"Mailsort120", "y"}}), expected);  // only "Y" is yes
  // Headings alone emphasised, all in Courier New 11, on one page; the job ends once.
  const std::set<std::string> headings = {"Mailsort Parameters", "Presortation Statistics",
                                          "Postcode Statistics", "Sortation Statistics",
                                          "Costs and Discounts"};
  for (const auto& line : job.sink.linesOf(1)) {
    EXPECT_EQ(line.emphasis, headings.count(line.text) == 1) << line.text;
    EXPECT_EQ(line.fontName + " " + std::to_string(int(line.fontSize)), "Courier New 11");
  }
  EXPECT_EQ(std::tuple(job.sink.pageCount(), job.sink.endDocCount(), job.sink.afterEnd().size()),
            std::tuple(1, 1, 0u));
  // The costs kept for the record of the run, as printed.
  EXPECT_EQ(
      (std::vector<std::string>{job.state.mailsortcost, job.state.standardcost, job.state.mailsortsaving}),
      (std::vector<std::string>{"50.56", "42.00", "-8.56"}));
  EXPECT_EQ(job.poplan(),
            (std::vector<std::string>{"DB2007R1", "M2",     "     3", "Letter", "95",     "J1001",  "   200",
                                      "   150",   "    30", "    20", "   180", "150",    "  75.0", "30",
                                      "  15.0",   "180",    "  90.0", "20",     "  10.0", "     3", "   120",
                                      "  66.7",   "     3", "     2", "    60", "  33.3", "     2"}));
  PlanningJob noPrinter;  // the file is written all the same
  noPrinter.state.printer = nullptr;
  noPrinter.runWith({});
  EXPECT_EQ(noPrinter.poplan(), job.poplan());
}

// The service, selection, format, bundle, weight and job reference fields,
// line 2, and fields 2, 5 and 6 of the file (trimmed there).
TEST(PlanningReport, ParameterLinesAndTheirFileFields) {
  const std::tuple<Row, std::vector<std::string>, const char*> cases[] = {
      {{{"Mailsort120", "Y"},
        {"selection", "4000"},
        {"Weight", 60.5},
        {"JobRef", "ABCDEFGHIJKLMNOPQ"},
        {"Format", "A3"}},
       {"M2 120", "  4000", "A3 Packet", "    25", "  60.5g", "ABCDEFGHIJKLMNO", " Acme Mailing Ltd"},
       "M2 120|60.5|ABCDEFGHIJKLMNO"},
      {{{"service", "M1X"}, {"Mailsort120", "Y"}, {"Format", "PK"}, {"BundleMax", 1234567.0}},
       {"M1X 12", "     3", "Packet", "123456", "    95g", "          J1001", " Acme Mailing Ltd"},
       "M1X 12|95|J1001"},
      {{{"Mailsort120", "y"}, {"Format", "LL"}, {"Weight", 60.0}},
       {"    M2", "     3", "Large Letter", "    25", "    60g", "          J1001", " Acme Mailing Ltd"},
       "M2|60|J1001"},
      {{{"Format", "le"}, {"Company Name", Value()}},
       {"    M2", "     3", "", "    25", "    95g", "          J1001", " "},
       "M2|95|J1001"},
  };
  for (const auto& [parameters, expectedLines, fileFields] : cases) {
    SCOPED_TRACE(fileFields);
    PlanningJob job;
    job.db.insertParameters(parameters);
    const auto& lines = job.run();
    EXPECT_EQ(
        (std::vector<std::string>{job.at("Mailsort Service", 49), job.at("Minimum Selection Size", 49),
                                  job.at("Mail Format", 49), job.at("Max Bundle Size", 49),
                                  job.at("Weight of item", 49), job.at("Job Reference", 40), lines.at(1)}),
        expectedLines);
    const auto f = job.poplan();
    ASSERT_EQ(f.size(), 27u);
    EXPECT_EQ(f[2] + "|" + f[3], expectedLines[1] + "|" + expectedLines[2]);
    EXPECT_EQ(f[1] + "|" + f[4] + "|" + f[5], fileFields);
  }
}

TEST(PlanningReport, MatchPercentagesAndFiguresTooLongForTheirField) {
  PlanningJob job;
  RunState& s = job.state;
  s.processed = 1234567, s.notmatched = 1234387;  // 180 suitable
  s.diritems = 1, s.resitems = 179;
  job.runWith({});
  // No leading zero below 1: 1 of 180 is .6.
  EXPECT_EQ(job.line("Direct Selections"),
            "Direct Selections            3          1           .6        3           5");
  EXPECT_EQ(job.line("Residue Selections"),
            "Residue Selections           2        179         99.4        2           3");
  EXPECT_EQ(job.line("Address Records Processed"), "Address Records Processed                        123456");
  const auto f = job.poplan();
  EXPECT_EQ(f.at(6) + "|" + f.at(9) + "|" + f.at(11) + "|" + f.at(21), "123456|123438|150|    .6");
  PlanningJob third;
  third.state.processed = 3, third.state.notmatched = 0, third.state.diritems = 1, third.state.resitems = 2;
  third.runWith({});
  EXPECT_EQ(third.poplan().at(21) + "|" + third.poplan().at(25), "  33.3|  66.7");
}

// The percentages of no records fail and print their unfilled fields; the
// postcode level then counts 0 and the rest 100; no % match is filled.
TEST(PlanningReport, NoRecordsProcessed) {
  PlanningJob job;
  RunState& s = job.state;
  s.processed = s.pcmatched = s.townmatched = s.notmatched = s.fullpc = s.outwardonly = 0;
  s.dirsels = s.ressels = s.diritems = s.resitems = s.dirbags = s.resbags = s.dirbundles = s.resbundles = 0;
  job.runWith({});
  EXPECT_EQ((std::vector<std::string>{job.at("Full Postcode", 49), job.at("Outward Only", 49),
                                      job.at("Postcode Level", 49), job.at("No Postcode", 49)}),
            (std::vector<std::string>{unfilled(6) + "%", unfilled(6) + "%", "   0.0%", " 100.0%"}));
  EXPECT_EQ(job.line("Totals"),
            "Totals                       0          0       " + unfilled(6) + "        0           0");
  const auto f = job.poplan();
  ASSERT_EQ(f.size(), 27u);
  // The file holds what Windows-1252 can: the code zeros of a field never filled are "?".
  EXPECT_EQ(f[12] + f[16] + f[18] + f[21], "??????   0.0 100.0??????");
  EXPECT_EQ(std::tuple(job.line("Mailsort saving"), job.sink.endDocCount()),
            std::tuple("Mailsort saving                                     .00", 1));
}

TEST(Costs, ItemCostFollowsTheFormatsWeightSteps) {
  // Every limit, base and extension differs so that a wrong field shows.
  const Row weighed = {{"LLWgt1", 100.0},  {"LLWgt2", 250.0}, {"LLBase1", 30.0}, {"LLBase2", 40.0},
                       {"LLExt1", 0.1},    {"A3Wgt1", 200.0}, {"A3Wgt2", 400.0}, {"A3Base1", 50.0},
                       {"A3Base2", 60.0},  {"A3Ext1", 0.05},  {"PKWgt1", 100.0}, {"PKWgt2", 500.0},
                       {"PKWgt3", 1000.0}, {"PKBase1", 70.0}, {"PKBase2", 90.0}, {"PKExt1", 0.02},
                       {"PKExt2", 0.01},   {"PkBase3", 110.0}};
  const std::tuple<const char*, double, const char*> cases[] = {
      {"LE", 5000, "  .266"},  // a letter's weight is not looked at
      {"LL", 100, "  .300"},  {"LL", 101, "  .400"}, {"LL", 250, "  .400"},
      {"LL", 251, "  .401"},                                                 // 40 + 1 * 0.1
      {"A3", 200, "  .500"},  {"A3", 400, "  .600"}, {"A3", 401, "  .601"},  // 60.05, one place first
      {"PK", 100, "  .700"},  {"PK", 500, "  .900"}, {"PK", 999, " 1.000"},  // 99.98 -> 100.0
      {"PK", 1000, " 1.100"},                                                // the third limit is strict
      {"PK", 1200, " 1.120"}, {"XX", 100, "  .000"},
  };
  for (const auto& [format, weight, itemCost] : cases) {
    PlanningJob job;
    job.runWith(weighed, {{"Format", format}, {"Weight", weight}});
    EXPECT_EQ(job.at("Straight Line Item Cost", 49), itemCost) << format << " " << weight;
  }
}

TEST(Costs, DirectRateTakesTheFirstVolumeBandNotBelowTheDirectItems) {
  const Row bands = {
      {"LeQty1", 100.0}, {"LeQty2", 200.0}, {"LeQty3", 300.0}, {"LeQty4", 400.0}, {"LeQty5", 500.0}};
  // Direct items, tariff changes, the rate. A Null limit is passed over; a
  // Null direct rate fails, the band is still added.
  const std::tuple<double, Row, const char*> cases[] = {{1, {}, "  3.50"},
                                                        {100, {}, "  3.50"},
                                                        {101, {}, "  4.00"},
                                                        {300, {}, "  4.50"},
                                                        {500, {}, "  5.50"},
                                                        {501, {}, "  3.00"},
                                                        {50, {{"LeQty1", Value()}}, "  4.00"},
                                                        {50, {{"LeDPtg1", Value()}}, "   .50"}};
  for (const auto& [diritems, changes, rate] : cases) {
    PlanningJob job;
    job.state.diritems = diritems;
    job.runWith(withChanges(bands, changes));
    EXPECT_EQ(job.at("Direct Selection Discount", 21, 1), std::string(rate) + "%") << diritems;
  }
}

TEST(Costs, Mailsort120UsesItsOwnRowAndDiscount) {
  PlanningJob job, nullBands;
  job.tariff("M2 120", {{"LeBase1", 20.0}, {"LeQ1DPtg1", 5.0}});
  job.runWith({}, {{"Mailsort120", "Y"}});
  EXPECT_EQ(job.at("Straight Line Item Cost", 49), "  .200");
  // 0.2 * 60 * 5 / 100 on the residue items; 36.00 - 0.96 - 0.18 + 4.20 - 0.60.
  EXPECT_EQ(job.line("Mailsort 120 Discount"), "Mailsort 120 Discount                               .60");
  EXPECT_EQ(job.line("Mailsort 120 Discount", 1), "          60 items @   5.00%");
  EXPECT_EQ(job.line("Total Cost"), "Total Cost                                        38.46");
  // The direct selections are not listed but are counted.
  EXPECT_FALSE(job.printed("Direct Selections"));
  EXPECT_EQ(job.line("Totals"),
            "Totals                       5        180        100.0        5           8");
  EXPECT_EQ(job.poplan().at(20), "   120");
  nullBands.tariff("M2 120", {{"Qty1", Value()}, {"Qty2", Value()}});  // the third rate
  nullBands.runWith({}, {{"Mailsort120", "Y"}});
  EXPECT_EQ(nullBands.line("Mailsort 120 Discount", 1), "          60 items @   4.00%");
}

TEST(Costs, FrankingSurchargeOnlyForRoyalMail) {
  PlanningJob on, nullRate;
  on.runWith({}, {{"RoyalMail", "Y"}});  // 180 * 0.266 * 10 / 100 = 4.788
  EXPECT_EQ(on.line("P.O. Franking Surcharge"), "P.O. Franking Surcharge                            4.79");
  EXPECT_EQ(on.line("P.O. Franking Surcharge", 1), "         180 items @  10.00%");
  EXPECT_EQ(on.at("Total Cost", 45), "     55.35");
  nullRate.runWith({{"Franking Surcharge", Value()}}, {{"RoyalMail", "Y"}});  // charges nothing
  EXPECT_EQ(std::tuple(nullRate.at("P.O. Franking Surcharge", 48), nullRate.at("Total Cost", 45)),
            std::tuple("    .00", "     50.56"));
  EXPECT_EQ(nullRate.line("P.O. Franking Surcharge", 1), "         180 items @ " + unfilled(6) + "%");
}

// The standard rate of the service's class; without a standard price the
// rate is nothing and the saving negative.
TEST(Costs, StandardRateByServiceAndNoneWithoutAPrice) {
  for (const auto& [service, rate] : {std::pair{"M1", "30"}, std::pair{"P1", "30"}, std::pair{"M3", "21"}}) {
    PlanningJob job;
    job.runWith({}, {{"service", service}});
    EXPECT_EQ(job.line("Items at standard postal rate", 1),
              "          20 items @   " + std::string(rate) + " pence");
  }
  PlanningJob job;
  job.tariff("M2");
  job.db.insertParameters();
  job.run();
  EXPECT_EQ(job.line("Items at standard postal rate"),
            "Items at standard postal rate                       .00");
  EXPECT_EQ(job.line("Items at standard postal rate", 1), "          20 items @   0 pence");
  EXPECT_EQ(std::tuple(job.at("Equivalent without Mailsort", 45), job.line("Mailsort saving")),
            std::tuple("       .00", "Mailsort saving                                  -46.36"));
}

TEST(Costs, NoPriceRowLeavesOnlyTheStandardRate) {
  // "M2 120" has no row: every tariff read fails, even where a failing weight
  // test enters its first branch; a 95 g packet has no standard price either.
  PlanningJob job, bare;
  job.tariff("M1");
  job.standardPrices();
  job.db.insertParameters({{"Format", "PK"}, {"RoyalMail", "Y"}, {"Mailsort120", "Y"}});
  job.run();
  EXPECT_EQ((std::vector<std::string>{
                job.at("Straight Line Item Cost", 49), job.at("Straight Line Total Cost", 45),
                job.at("Mailsort 120 Discount", 46), job.at("Total Cost", 45),
                job.at("Direct Selection Discount", 0, 1), job.at("P.O. Franking Surcharge", 0, 1)}),
            (std::vector<std::string>{"  .000", "       .00", "      .00", "       .00",
                                      "         120 items @    .00%",
                                      "         180 items @ " + unfilled(6) + "%"}));
  bare.db.exec("DROP TABLE price");  // the standard rate alone
  bare.standardPrices();
  bare.db.insertParameters();
  bare.run();
  EXPECT_EQ(std::tuple(bare.at("Total Cost", 45), bare.at("Equivalent without Mailsort", 45),
                       bare.at("Mailsort saving", 45), bare.sink.endDocCount()),
            std::tuple("      4.20", "     42.00", "     37.80", 1));
}

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
  return withChanges(row, changes);
}

// "ok" or "fails", then the two prices (-1: left as they were).
std::string lookup(const Value& format, double weight, const Row& changes, bool priceRecord = true) {
  RunJob job;
  job.db.insertParameters({{"Format", format}});
  if (priceRecord) job.db.insert("poprice", standardSteps(changes));
  RunState& run = job.open();
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
  const std::tuple<Value, double, Row, const char*> cases[] = {
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
  for (const auto& [format, weight, changes, result] : cases)
    EXPECT_EQ(lookup(format, weight, changes), result) << format.textOrEmpty() << " " << weight;
  EXPECT_EQ(lookup("LE", 0, {}, false), "fails -1 -1");  // no price record sets nothing
}

}  // namespace
}  // namespace ms::testing
