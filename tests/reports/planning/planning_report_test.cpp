// The planning page and POPLAN.CSV, and what a failed figure leaves behind.
#include <gtest/gtest.h>

#include <set>

#include "planning_job.h"

namespace ms::testing {
namespace {

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
  EXPECT_EQ(job.runWith({}), expected);
  // Headings alone emphasised, all in Courier New 11, on one page; the job ends once.
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
  EXPECT_EQ(job.poplan(),
            (std::vector<std::string>{"DB2007R1", "M2",     "     3", "Letter", "95",     "J1001",  "   200",
                                      "   150",   "    30", "    20", "   180", "150",    "  75.0", "30",
                                      "  15.0",   "180",    "  90.0", "20",     "  10.0", "     3", "   120",
                                      "  66.7",   "     3", "     2", "    60", "  33.3", "     2"}));
  PlanningJob noPrinter;  // the file is written all the same
  noPrinter.state().printer = nullptr;
  noPrinter.runWith({});
  EXPECT_EQ(noPrinter.poplan(), job.poplan());
}

// The service, selection, format, bundle, weight and job reference fields,
// line 2, and fields 2, 5 and 6 of the file (trimmed there).
TEST(PlanningReport, ParameterLinesAndTheirFileFields) {
  const struct {
    Row parameters;
    std::vector<std::string> lines;
    const char* fileFields;
  } cases[] = {
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
  for (const auto& c : cases) {
    SCOPED_TRACE(c.fileFields);
    PlanningJob job;
    job.db().insertParameters(c.parameters);
    const auto& lines = job.run();
    EXPECT_EQ(
        (std::vector<std::string>{job.at("Mailsort Service", 49), job.at("Minimum Selection Size", 49),
                                  job.at("Mail Format", 49), job.at("Max Bundle Size", 49),
                                  job.at("Weight of item", 49), job.at("Job Reference", 40), lines.at(1)}),
        c.lines);
    const auto f = job.poplan();
    ASSERT_EQ(f.size(), 27u);
    EXPECT_EQ(f[2], c.lines[1]);
    EXPECT_EQ(f[3], c.lines[2]);
    EXPECT_EQ(f[1] + "|" + f[4] + "|" + f[5], c.fileFields);
  }
}

TEST(PlanningReport, MatchPercentagesAndFiguresTooLongForTheirField) {
  PlanningJob job;
  RunState& s = job.state();
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
  third.state().processed = 3, third.state().notmatched = 0, third.state().diritems = 1,
  third.state().resitems = 2;
  third.runWith({});
  EXPECT_EQ(third.poplan().at(21) + "|" + third.poplan().at(25), "  33.3|  66.7");
}

TEST(PlanningReport, Mailsort120HidesTheDirectRowButCountsIt) {
  PlanningJob job;
  job.tariff("M2 120");
  job.runWith({}, {{"Mailsort120", "Y"}});
  EXPECT_FALSE(job.printed("Direct Selections"));
  EXPECT_EQ(job.line("Totals"),
            "Totals                       5        180        100.0        5           8");
  EXPECT_EQ(job.poplan().at(20), "   120");
  EXPECT_TRUE(job.printed("Direct Selection Discount"));
}

// The percentages of no records fail and print their unfilled fields; the
// postcode level then counts 0 and the rest 100; no % match is filled.
TEST(PlanningReport, NoRecordsProcessed) {
  PlanningJob job;
  RunState& s = job.state();
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
  EXPECT_EQ(f[12] + f[16] + f[18] + f[21], unfilled(6) + "   0.0" + " 100.0" + unfilled(6));
  EXPECT_EQ(job.line("Mailsort saving"), "Mailsort saving                                     .00");
  EXPECT_EQ(job.sink.endDocCount(), 1);
}

}  // namespace
}  // namespace ms::testing
