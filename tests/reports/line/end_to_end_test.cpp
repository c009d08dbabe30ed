// The whole program on a sample job in Chain Mode: the line report read back
// from MAILSORT.PDF shows, column for column, the lines of POLINE.CSV.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>

#include "support/fixture_db.h"
#include "support/sample_run.h"

namespace ms::testing {
namespace {

std::string rtrim(std::string text) { return text.erase(text.find_last_not_of(' ') + 1); }

std::string pad(const std::string& text, std::size_t width, bool right) {
  const std::string blanks(width > text.size() ? width - text.size() : 0, ' ');
  return right ? blanks + text : text + blanks;
}

// The printed line that a POLINE.CSV record ("a","b",...) stands for.
std::string printedLine(std::string record) {
  std::vector<std::string> f;
  for (std::size_t end; (end = record.find("\",\"")) != std::string::npos; record.erase(0, end + 2))
    f.push_back(record.substr(1, end - 1));
  f.push_back(record.substr(1, record.size() - 2));
  EXPECT_EQ(f.size(), 6u) << record;
  if (f.size() != 6) return "";
  return pad(f[0], 5, false) + std::string(6, ' ') + pad(f[1], 50, false) + std::string(6, ' ') +
         pad(f[2], 6, true) + "    " + pad(f[3], 6, true) + "  " + pad(f[4], 6, true) + "    " +
         pad(f[5], 6, true);
}

TEST(EndToEnd, PrintedLinesMatchTheLineList) {
  if (const std::string missing = missingForSampleRun(true); !missing.empty()) GTEST_SKIP() << missing;
  TempDir dir;
  ASSERT_EQ(runSampleJob(dir.path(), 20000, 1), 0);
  ASSERT_EQ(shellIn(dir.path(), "pdftotext -layout -fixed 5.4 MAILSORT.PDF report.txt"), 0);
  const auto pdf = splitLines(readFile(dir.file("report.txt")));
  const auto heading = std::find_if(pdf.begin(), pdf.end(), [](const std::string& l) {
    return l.find("Code   ") != std::string::npos && l.find("Cum Bags  Seq#") != std::string::npos;
  });
  ASSERT_NE(heading, pdf.end());
  const std::size_t margin = heading->find("Code");
  EXPECT_EQ(heading->substr(margin),
            "Code" + std::string(64, ' ') + "Items  Cum Item    Bags  Cum Bags  Seq#");
  std::vector<std::string> body;
  for (const auto& line : pdf)
    if (line.size() > margin) body.push_back(rtrim(line.substr(margin)));
  const auto records = splitLines(readFile(dir.file("POLINE.CSV")));
  ASSERT_GT(records.size(), 70u);  // more than one page of selections
  auto at = body.begin();
  for (const auto& record : records) {
    at = std::find(at, body.end(), rtrim(printedLine(record)));
    ASSERT_NE(at, body.end()) << "not printed, or out of order: " << record;
  }
  EXPECT_EQ(records.back().rfind("\"None\",\"Letter Post\",", 0), 0u);
  EXPECT_NE(std::find(at, body.end(), std::string(44, ' ') + "<<< End of Report >>>"), body.end());
  EXPECT_EQ(splitLines(readFile(dir.file("POFILE.DAT"))).size(), records.size() - 1);
  EXPECT_EQ(splitLines(readFile(dir.file("POADDR.CSV"))).size(), 20000u);
}

}  // namespace
}  // namespace ms::testing
