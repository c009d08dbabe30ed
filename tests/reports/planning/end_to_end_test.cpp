// The program on a generated sample job in Chain Mode: the last page of
// MAILSORT.PDF is the planning report, and it agrees with POPLAN.CSV.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>

#include "planning_job.h"
#include "support/sample_run.h"
#include "values/text_rules.h"

namespace ms::testing {
namespace {

TEST(EndToEnd, PlanningPageAndPoplanOfASampleRun) {
  if (const std::string missing = missingForSampleRun(true); !missing.empty()) GTEST_SKIP() << missing;
  TempDir dir;
  ASSERT_EQ(runSampleJob(dir.path(), 3000, 11), 0);

  // POPLAN.CSV: one record of 27 quoted fields.
  const std::string poplan = readFile(dir.file("POPLAN.CSV"));
  EXPECT_EQ(std::count(poplan.begin(), poplan.end(), '\n'), 1);
  const auto f = csvFields(poplan);
  ASSERT_EQ(f.size(), 27u) << poplan;
  EXPECT_EQ(f[0], "DB2007R1");
  EXPECT_EQ(Val(f[10]), Val(f[6]) - Val(f[9])) << "suitable = processed - not matched";
  EXPECT_EQ(Val(f[15]), Val(f[11]) + Val(f[13])) << "postcode level = full + outward";
  for (int i : {6, 7, 8, 9, 10, 12, 14, 16, 18, 19, 20, 21, 22, 23, 24, 25, 26})
    EXPECT_EQ(f[i].size(), 6u) << "field " << i + 1;

  // The last page, printed in 11 point Courier: 6.6 points a character.
  ASSERT_EQ(shellIn(dir.path(), "pdftotext -layout -fixed 6.6 MAILSORT.PDF all.txt"), 0);
  std::string text = readFile(dir.file("all.txt"));
  text.erase(text.find_last_not_of('\f') + 1);
  const std::string last = text.substr(text.find_last_of('\f') + 1);
  ASSERT_NE(last.find("Mailsort Planning Report"), std::string::npos);
  std::vector<std::string> lines;
  std::size_t margin = std::string::npos;
  for (const auto& line : splitLines(last))
    if (line.find("Address Records Processed") != std::string::npos)
      margin = line.find("Address Records Processed");
  ASSERT_NE(margin, std::string::npos) << last;
  for (auto line : splitLines(last))
    if (line.size() > margin) lines.push_back(line.erase(0, margin).erase(line.find_last_not_of(' ') + 1));
  auto starting = [&](const std::string& label) {
    for (const auto& line : lines)
      if (line.rfind(label, 0) == 0) return line;
    return "(no line " + label + ")";
  };
  const auto field = [](const std::string& label, const std::string& value) {
    return label + std::string(49 - label.size(), ' ') + value;
  };
  for (const auto& [label, i] : std::vector<std::pair<std::string, int>>{{"Address Records Processed", 6},
                                                                         {"Postcodes Matched", 7},
                                                                         {"Addresses not matched", 9},
                                                                         {"Suitable for Mailsort", 10},
                                                                         {"Total Mailsort Items", 10}})
    EXPECT_EQ(starting(label), field(label, f[i]));
  EXPECT_EQ(starting("Full Postcode"), field("Full Postcode", f[12] + "%"));
  EXPECT_EQ(starting("No Postcode"), field("No Postcode", f[18] + "%"));
  EXPECT_EQ(starting("Residue Selections").substr(0, 63),
            "Residue Selections      " + f[23] + "     " + f[24] + "       " + f[25] + "   " + f[26]);
  // Every amount ends in column 55; the saving is the equivalent less the total cost.
  for (const char* label :
       {"Straight Line Total Cost", "Direct Selection Discount", "Residue Selection Discount",
        "Items at standard postal rate", "Total Cost", "Equivalent without Mailsort", "Mailsort saving"})
    EXPECT_EQ(starting(label).size(), 55u) << starting(label);
  const auto amount = [&](const std::string& label) {
    const std::string line = starting(label);
    return Val(line.substr(line.find_last_of(' ') + 1));
  };
  EXPECT_NEAR(amount("Mailsort saving"), amount("Equivalent without Mailsort") - amount("Total Cost"), 0.005);
}

}  // namespace
}  // namespace ms::testing
