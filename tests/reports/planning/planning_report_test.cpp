// The planning page and POPLAN.CSV: parameters, statistics, sortation rows
// and what a failed figure leaves behind.
#include <gtest/gtest.h>

#include <set>

#include "planning_job.h"

namespace ms::testing {
namespace {

class PlanningReport : public ::testing::Test {
 protected:
  void SetUp() override {
    job.tariff("M2");
    job.standardPrices();
  }
  PlanningJob job;
};

TEST_F(PlanningReport, WholePageOfAPlainLetterJob) {
  job.db().insertParameters();
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
  EXPECT_EQ(job.run(), expected);

  // Headings alone are emphasised, all in Courier New 11, on the page the
  // line report left open; the job ends once, after the last line.
  const std::set<std::string> headings = {"Mailsort Parameters", "Presortation Statistics",
                                          "Postcode Statistics", "Sortation Statistics",
                                          "Costs and Discounts"};
  for (const auto& line : job.sink.linesOf(1)) {
    EXPECT_EQ(line.emphasis, headings.count(line.text) == 1) << line.text;
    EXPECT_EQ(line.fontName + " " + std::to_string(int(line.fontSize)), "Courier New 11");
  }
  EXPECT_EQ(job.sink.pageCount(), 1);
  EXPECT_EQ(job.sink.endDocCount(), 1);
  EXPECT_TRUE(job.sink.afterEnd().empty());

  const std::vector<std::string> record = {
      "DB2007R1", "M2",     "     3", "Letter", "95",     "J1001",  "   200", "   150", "    30",
      "    20",   "   180", "150",    "  75.0", "30",     "  15.0", "180",    "  90.0", "20",
      "  10.0",   "     3", "   120", "  66.7", "     3", "     2", "    60", "  33.3", "     2"};
  EXPECT_EQ(job.poplan(), record);
  EXPECT_EQ(job.state().pclevel + job.state().totsels + job.state().totitems + job.state().totbags,
            180 + 5 + 180 + 5);
}

// One job's parameter lines: the fields of the service, selection, format,
// bundle, weight and job reference lines, line 2, and fields 2, 5 and 6 of
// the file (trimmed there).
struct ParameterCase {
  Row parameters;
  std::vector<std::string> lines;
  const char* fileFields;
};

TEST_F(PlanningReport, ParameterLinesAndTheirFileFields) {
  const ParameterCase cases[] = {
      {{{"Mailsort120", "Y"},
        {"selection", "4000"},
        {"Weight", 60.5},
        {"JobRef", "ABCDEFGHIJKLMNOPQ"},
        {"Format", "A3"}},
       {"M2 120", "  4000", "A3 Packet", "    25", "  60.5", "ABCDEFGHIJKLMNO", " Acme Mailing Ltd"},
       "M2 120|60.5|ABCDEFGHIJKLMNO"},
      {{{"service", "M1X"}, {"Mailsort120", "Y"}, {"Format", "PK"}, {"BundleMax", 1234567.0}},
       {"M1X 12", "     3", "Packet", "123456", "    95", "          J1001", " Acme Mailing Ltd"},
       "M1X 12|95|J1001"},
      {{{"Mailsort120", "y"}, {"Format", "LL"}, {"Weight", 60.0}},
       {"    M2", "     3", "Large Letter", "    25", "    60", "          J1001", " Acme Mailing Ltd"},
       "M2|60|J1001"},
      {{{"Format", "le"}, {"Company Name", Value()}},
       {"    M2", "     3", "", "    25", "    95", "          J1001", " "},
       "M2|95|J1001"},
  };
  for (const auto& c : cases) {
    PlanningJob one;
    one.db().insertParameters(c.parameters);
    const auto& lines = one.run();
    const std::vector<std::string> printed = {one.line("Mailsort Service").substr(49),
                                              one.line("Minimum Selection Size").substr(49),
                                              one.line("Mail Format").substr(49),
                                              one.line("Max Bundle Size").substr(49),
                                              one.line("Weight of item").substr(49),
                                              one.line("Job Reference").substr(40),
                                              lines.at(1)};
    auto expected = c.lines;
    expected[4] += "g";
    EXPECT_EQ(printed, expected);
    const auto f = one.poplan();
    ASSERT_EQ(f.size(), 27u);
    EXPECT_EQ(f[2], c.lines[1]);
    EXPECT_EQ(f[3], c.lines[2]);
    EXPECT_EQ(f[1] + "|" + f[4] + "|" + f[5], c.fileFields);
  }
}

TEST_F(PlanningReport, MatchPercentagesAndFiguresTooLongForTheirField) {
  job.db().insertParameters();
  RunState& s = job.state();
  s.processed = 1234567, s.notmatched = 1234387;  // 180 suitable
  s.diritems = 1, s.resitems = 179;
  job.run();
  // Below 1 there is no leading zero; 1 of 180 is .6.
  EXPECT_EQ(job.line("Direct Selections"),
            "Direct Selections            3          1           .6        3           5");
  EXPECT_EQ(job.line("Residue Selections"),
            "Residue Selections           2        179         99.4        2           3");
  EXPECT_EQ(job.line("Address Records Processed"), "Address Records Processed                        123456");
  const auto f = job.poplan();
  EXPECT_EQ(f.at(6) + "|" + f.at(9) + "|" + f.at(11) + "|" + f.at(21), "123456|123438|150|    .6");

  PlanningJob third;
  third.db().insertParameters();
  third.state().processed = 3, third.state().notmatched = 0, third.state().diritems = 1,
  third.state().resitems = 2;
  third.run();
  EXPECT_EQ(third.poplan().at(21) + "|" + third.poplan().at(25), "  33.3|  66.7");
}

TEST_F(PlanningReport, Mailsort120HidesTheDirectRowButCountsIt) {
  job.tariff("M2 120");
  job.db().insertParameters({{"Mailsort120", "Y"}});
  job.run();
  EXPECT_FALSE(job.printed("Direct Selections"));
  EXPECT_EQ(job.line("Totals"),
            "Totals                       5        180        100.0        5           8");
  EXPECT_EQ(job.poplan().at(20), "   120");
  EXPECT_TRUE(job.printed("Direct Selection Discount"));
}

TEST_F(PlanningReport, NoRecordsProcessed) {
  // The percentages of no records fail and print their unfilled fields;
  // the postcode level then counts 0 and the rest 100; nothing is suitable,
  // so no % match is filled either.
  job.db().insertParameters();
  RunState& s = job.state();
  s.processed = s.pcmatched = s.townmatched = s.notmatched = s.fullpc = s.outwardonly = 0;
  s.dirsels = s.ressels = s.diritems = s.resitems = s.dirbags = s.resbags = s.dirbundles = s.resbundles = 0;
  job.run();
  EXPECT_EQ(job.line("Full Postcode").substr(49), unfilled(6) + "%");
  EXPECT_EQ(job.line("Outward Only").substr(49), unfilled(6) + "%");
  EXPECT_EQ(job.line("Postcode Level").substr(49), "   0.0%");
  EXPECT_EQ(job.line("No Postcode").substr(49), " 100.0%");
  EXPECT_EQ(job.line("Totals"),
            "Totals                       0          0       " + unfilled(6) + "        0           0");
  const auto f = job.poplan();
  ASSERT_EQ(f.size(), 27u);
  EXPECT_EQ(f[12] + f[16] + f[18] + f[21], unfilled(6) + "   0.0" + " 100.0" + unfilled(6));
  EXPECT_EQ(job.line("Mailsort saving"), "Mailsort saving                                     .00");
  EXPECT_EQ(job.sink.endDocCount(), 1);
}

TEST_F(PlanningReport, WithoutAPrinterTheFileIsStillWritten) {
  job.db().insertParameters();
  job.state().printer = nullptr;
  job.run();
  EXPECT_EQ(job.poplan().size(), 27u);
}

}  // namespace
}  // namespace ms::testing
