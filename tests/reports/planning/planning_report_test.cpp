// The planning page and POPLAN.CSV: parameters, statistics, sortation rows
// and what a failed figure leaves behind.
#include <gtest/gtest.h>

#include "planning_job.h"

namespace ms::testing {
namespace {

class PlanningReport : public ::testing::Test {
 protected:
  void SetUp() override {
    job.standardTariff("M2");
    job.standardPrices();
  }
  PlanningJob job;
};

TEST_F(PlanningReport, WholePageOfAPlainLetterJob) {
  job.parameters({});
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

  // Headings alone are emphasised; everything is Courier New 11; the job
  // ends once, after the last line.
  for (const auto& line : job.sink.lines) {
    const bool heading = line.text == "Mailsort Parameters" || line.text == "Presortation Statistics" ||
                         line.text == "Postcode Statistics" || line.text == "Sortation Statistics" ||
                         line.text == "Costs and Discounts";
    EXPECT_EQ(line.emphasis, heading) << line.text;
    EXPECT_EQ(line.font, "Courier New");
    EXPECT_EQ(line.size, 11);
  }
  EXPECT_EQ(job.sink.endDocs, 1);
  EXPECT_EQ(job.sink.pages, 1) << "the report never starts a page of its own";

  EXPECT_EQ(job.poplan(),
            "\"DB2007R1\",\"M2\",\"     3\",\"Letter\",\"95\",\"J1001\",\"   200\",\"   150\",\"    30\","
            "\"    20\",\"   180\",\"150\",\"  75.0\",\"30\",\"  15.0\",\"180\",\"  90.0\",\"20\",\"  10.0\","
            "\"     3\",\"   120\",\"  66.7\",\"     3\",\"     2\",\"    60\",\"  33.3\",\"     2\"\r\n");

  EXPECT_EQ(job.state().pclevel, 180);
  EXPECT_EQ(job.state().totsels, 5);
  EXPECT_EQ(job.state().totitems, 180);
  EXPECT_EQ(job.state().totbags, 5);
}

TEST_F(PlanningReport, ParameterFieldsAndTheirFileForms) {
  // Mailsort 120 puts " 120" after the code, left-aligned; a selection of
  // 4000 keeps its blanks in the file; a weight and a job reference are
  // trimmed there; a longer job reference is cut to 15 characters.
  job.standardTariff("M2 120");
  job.parameters({{"Mailsort120", "Y"},
                  {"selection", "4000"},
                  {"Weight", 60.5},
                  {"JobRef", "ABCDEFGHIJKLMNOPQ"},
                  {"Format", "A3"}});
  job.run();
  EXPECT_EQ(job.lineStarting("Mailsort Service"), "Mailsort Service                                 M2 120");
  EXPECT_EQ(job.lineStarting("Minimum Selection Size"),
            "Minimum Selection Size                             4000");
  EXPECT_EQ(job.lineStarting("Mail Format"), "Mail Format                                      A3 Packet");
  EXPECT_EQ(job.lineStarting("Weight of item"), "Weight of item                                     60.5g");
  EXPECT_EQ(job.lineStarting("Job Reference"), "Job Reference                           ABCDEFGHIJKLMNO");
  const auto fields = csvFields(job.poplan());
  ASSERT_EQ(fields.size(), 27u);
  EXPECT_EQ(fields[1], "M2 120");
  EXPECT_EQ(fields[2], "  4000");
  EXPECT_EQ(fields[3], "A3 Packet");
  EXPECT_EQ(fields[4], "60.5");
  EXPECT_EQ(fields[5], "ABCDEFGHIJKLMNO");
}

TEST_F(PlanningReport, ServiceCodeLongerThanItsFieldIsCut) {
  job.parameters({{"service", "M1X"}, {"Mailsort120", "Y"}, {"Format", "PK"}, {"Company Name", Value()}});
  const auto lines = job.run();
  EXPECT_EQ(job.lineStarting("Mailsort Service"), "Mailsort Service                                 M1X 12");
  EXPECT_EQ(job.lineStarting("Mail Format"), "Mail Format                                      Packet");
  EXPECT_EQ(lines.at(1), " ") << "a Null company name leaves the blank alone";
}

TEST_F(PlanningReport, UnknownFormatLeavesTheNameEmpty) {
  job.parameters({{"Format", "le"}});
  job.run();
  EXPECT_EQ(job.lineStarting("Mail Format"), "Mail Format                                      ");
  EXPECT_EQ(csvFields(job.poplan()).at(3), "");
  EXPECT_EQ(job.lineStarting("Straight Line Item Cost"),
            "Straight Line Item Cost                          "
            "  .000");
}

TEST_F(PlanningReport, PercentagesAndMatchFigures) {
  // 1 direct item of 180 suitable: below 1 there is no leading zero.
  job.parameters({});
  job.state().diritems = 1;
  job.state().resitems = 179;
  job.run();
  EXPECT_EQ(job.lineStarting("Direct Selections"),
            "Direct Selections            3          1           .6        3           5");
  EXPECT_EQ(job.lineStarting("Residue Selections"),
            "Residue Selections           2        179         99.4        2           3");
  EXPECT_EQ(csvFields(job.poplan()).at(21), "    .6");
}

TEST_F(PlanningReport, OneOfThreeIsAThird) {
  job.parameters({});
  job.state().processed = 3;
  job.state().notmatched = 0;
  job.state().diritems = 1;
  job.state().resitems = 2;
  job.run();
  const auto fields = csvFields(job.poplan());
  EXPECT_EQ(fields.at(21), "  33.3");
  EXPECT_EQ(fields.at(25), "  66.7");
}

TEST_F(PlanningReport, Mailsort120HidesTheDirectRowButCountsIt) {
  job.standardTariff("M2 120");
  job.parameters({{"Mailsort120", "Y"}});
  job.run();
  EXPECT_FALSE(job.printed("Direct Selections"));
  EXPECT_EQ(job.lineStarting("Totals"),
            "Totals                       5        180        100.0        5           8");
  // The direct figures still go to the file and the direct discount lines
  // are still printed.
  EXPECT_EQ(csvFields(job.poplan()).at(20), "   120");
  EXPECT_TRUE(job.printed("Direct Selection Discount"));
}

TEST_F(PlanningReport, NoRecordsProcessed) {
  // The two percentages of no records fail and print their unfilled fields;
  // the postcode level then counts 0 and the rest 100.
  job.parameters({});
  auto& s = job.state();
  s.processed = s.pcmatched = s.townmatched = s.notmatched = s.fullpc = s.outwardonly = 0;
  s.dirsels = s.ressels = s.diritems = s.resitems = s.dirbags = s.resbags = s.dirbundles = s.resbundles = 0;
  job.run();
  EXPECT_EQ(job.lineStarting("Full Postcode"),
            "Full Postcode                                    " + unfilled(6) + "%");
  EXPECT_EQ(job.lineStarting("Outward Only"),
            "Outward Only                                     " + unfilled(6) + "%");
  EXPECT_EQ(job.lineStarting("Postcode Level"), "Postcode Level                                      0.0%");
  EXPECT_EQ(job.lineStarting("No Postcode"), "No Postcode                                       100.0%");
  // Nothing is suitable, so no % match is filled either.
  EXPECT_EQ(job.lineStarting("Totals"),
            "Totals                       0          0       " + unfilled(6) + "        0           0");
  const auto fields = csvFields(job.poplan());
  ASSERT_EQ(fields.size(), 27u);
  EXPECT_EQ(fields[12], unfilled(6));
  EXPECT_EQ(fields[16], "   0.0");
  EXPECT_EQ(fields[18], " 100.0");
  EXPECT_EQ(fields[21], unfilled(6));
  // The costs still come out, all zero, and the job is ended.
  EXPECT_EQ(job.lineStarting("Mailsort saving"), "Mailsort saving                                     .00");
  EXPECT_EQ(job.sink.endDocs, 1);
}

TEST_F(PlanningReport, FiguresLongerThanTheirFieldKeepTheirLeftmostCharacters) {
  job.parameters({});
  job.state().processed = 1234567;
  job.state().notmatched = 0;
  job.state().diritems = 1234567;
  job.state().resitems = 0;
  job.run();
  EXPECT_EQ(job.lineStarting("Address Records Processed"),
            "Address Records Processed                        123456");
  const auto fields = csvFields(job.poplan());
  EXPECT_EQ(fields.at(6), "123456");
  EXPECT_EQ(fields.at(11), "150") << "plain text fields are not cut";
  EXPECT_EQ(fields.at(20), "123456");
}

TEST_F(PlanningReport, WithoutAPrinterTheFileIsStillWritten) {
  job.parameters({});
  job.state().printer = nullptr;
  job.run();
  EXPECT_EQ(csvFields(job.poplan()).size(), 27u);
}

}  // namespace
}  // namespace ms::testing
