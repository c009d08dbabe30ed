// The program on a generated sample job in Chain Mode: the last page of
// MAILSORT.PDF is the planning report, and it agrees with POPLAN.CSV.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "planning_job.h"
#include "reports/common/text_rules.h"

namespace ms::testing {
namespace {

std::string rtrim(std::string text) {
  while (!text.empty() && text.back() == ' ') text.pop_back();
  return text;
}

// The printed pages as text, one string per page.
std::vector<std::string> pages(const std::string& text) {
  std::vector<std::string> result;
  std::size_t start = 0, end;
  while ((end = text.find('\f', start)) != std::string::npos) {
    result.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  if (start < text.size()) result.push_back(text.substr(start));
  return result;
}

class PlanningPage {
 public:
  explicit PlanningPage(const std::vector<std::string>& lines) {
    for (const auto& line : lines) {
      const auto at = line.find("Address Records Processed");
      if (at != std::string::npos) margin_ = at;
    }
    for (const auto& line : lines) lines_.push_back(line.size() > margin_ ? rtrim(line.substr(margin_)) : "");
  }
  bool found() const { return margin_ != std::string::npos; }
  std::string starting(const std::string& label) const {
    for (const auto& line : lines_)
      if (line.rfind(label, 0) == 0) return line;
    return "(no line " + label + ")";
  }
  // The number at the end of a line.
  double amount(const std::string& label) const {
    const std::string line = starting(label);
    return Val(line.substr(line.find_last_of(' ') + 1));
  }

 private:
  std::size_t margin_ = std::string::npos;
  std::vector<std::string> lines_;
};

TEST(EndToEnd, PlanningPageAndPoplanOfASampleRun) {
  const std::string bin = MAILSORT_BINARY_DIR;
  if (!std::filesystem::exists(bin + "/mailsort") || !std::filesystem::exists(bin + "/mailsort-sample") ||
      std::system("command -v pdftotext >/dev/null") != 0)
    GTEST_SKIP() << "needs build/mailsort, build/mailsort-sample and pdftotext";
  TempDir dir;
  const std::string cd = "cd '" + dir.path() + "' && ";
  ASSERT_EQ(
      std::system(
          (cd + "'" + bin + "/mailsort-sample' --out . --records 3000 --seed 11 --chain >/dev/null").c_str()),
      0);
  ASSERT_EQ(
      std::system((cd + "QT_QPA_PLATFORM=offscreen timeout 300 '" + bin + "/mailsort' 2>/dev/null").c_str()),
      0);

  // POPLAN.CSV: one record of 27 quoted fields.
  const std::string poplan = readFile(dir.file("POPLAN.CSV"));
  ASSERT_GE(poplan.size(), 2u);
  EXPECT_EQ(poplan.substr(poplan.size() - 2), "\r\n");
  EXPECT_EQ(std::count(poplan.begin(), poplan.end(), '\n'), 1);
  const auto f = csvFields(poplan);
  ASSERT_EQ(f.size(), 27u) << poplan;
  EXPECT_EQ(f[0], "DB2007R1");
  EXPECT_EQ(Val(f[10]), Val(f[6]) - Val(f[9])) << "suitable = processed - not matched";
  EXPECT_EQ(Val(f[15]), Val(f[11]) + Val(f[13])) << "postcode level = full + outward";
  for (int i : {6, 7, 8, 9, 10, 12, 14, 16, 18, 19, 20, 21, 22, 23, 24, 25, 26})
    EXPECT_EQ(f[i].size(), 6u) << "field " << i + 1;

  // The planning report is the last page; it is printed in 11 point
  // Courier, 6.6 points to a character.
  ASSERT_EQ(std::system((cd + "pdftotext -layout MAILSORT.PDF all.txt").c_str()), 0);
  const auto all = pages(readFile(dir.file("all.txt")));
  const auto last = std::find_if(all.rbegin(), all.rend(), [](const std::string& p) { return !p.empty(); });
  ASSERT_NE(last, all.rend());
  ASSERT_NE(last->find("Mailsort Planning Report"), std::string::npos);
  const std::string n = std::to_string(all.rend() - last);
  ASSERT_EQ(
      std::system(
          (cd + "pdftotext -layout -fixed 6.6 -f " + n + " -l " + n + " MAILSORT.PDF plan.txt").c_str()),
      0);
  PlanningPage page(splitLines(readFile(dir.file("plan.txt"))));
  ASSERT_TRUE(page.found()) << readFile(dir.file("plan.txt"));

  const std::string pad49(24, ' ');
  EXPECT_EQ(page.starting("Address Records Processed"), "Address Records Processed" + pad49 + f[6]);
  EXPECT_EQ(page.starting("Postcodes Matched"), "Postcodes Matched" + std::string(32, ' ') + f[7]);
  EXPECT_EQ(page.starting("Addresses not matched"), "Addresses not matched" + std::string(28, ' ') + f[9]);
  EXPECT_EQ(page.starting("Suitable for Mailsort"), "Suitable for Mailsort" + std::string(28, ' ') + f[10]);
  EXPECT_EQ(page.starting("Full Postcode"), "Full Postcode" + std::string(36, ' ') + f[12] + "%");
  EXPECT_EQ(page.starting("No Postcode"), "No Postcode" + std::string(38, ' ') + f[18] + "%");
  EXPECT_EQ(page.starting("Residue Selections").substr(0, 63),
            "Residue Selections      " + f[23] + "     " + f[24] + "       " + f[25] + "   " + f[26]);
  EXPECT_EQ(page.starting("Total Mailsort Items"), "Total Mailsort Items" + std::string(29, ' ') + f[10]);

  // Every amount ends in column 55; the saving is the equivalent less the
  // total cost.
  for (const char* label :
       {"Straight Line Total Cost", "Direct Selection Discount", "Residue Selection Discount",
        "Items at standard postal rate", "Total Cost", "Equivalent without Mailsort", "Mailsort saving"})
    EXPECT_EQ(page.starting(label).size(), 55u) << page.starting(label);
  EXPECT_NEAR(page.amount("Mailsort saving"),
              page.amount("Equivalent without Mailsort") - page.amount("Total Cost"), 0.005);
}

}  // namespace
}  // namespace ms::testing
