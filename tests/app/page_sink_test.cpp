// The print job on paper: a PDF whose columns must hold.
#include <gtest/gtest.h>

#include <QGuiApplication>
#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "app/qt_page_sink.h"
#include "app/reprint.h"
#include "support/fixture_db.h"
#include "values/fault.h"
#include "values/text_rules.h"

namespace ms {
namespace {

class QtPageSinkTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    static int argc = 1;
    static char name[] = "test_common", *argv[] = {name, nullptr};
    if (!QGuiApplication::instance()) new QGuiApplication(argc, argv);  // lives as long as the program
  }
  static bool havePdfToText() { return std::system("command -v pdftotext >/dev/null 2>&1") == 0; }
  // The PDF's text laid out on a 5.4-point character grid (a 9-point
  // fixed-pitch character).
  std::string pdfText() {
    const std::string out = pdf + ".txt";
    const std::string command = "pdftotext -layout -fixed 5.4 '" + pdf + "' '" + out + "' 2>/dev/null";
    return std::system(command.c_str()) == 0 ? testing::readFile(out) : std::string();
  }

  testing::TempDir dir;
  const std::string pdf = dir.file("MAILSORT.PDF");
};

// A line of the line report's shape: 106 characters of figures in columns.
std::string reportLine(int n) {
  const std::string code = std::to_string(100 + n);
  return lset(code, 5) + std::string(6, ' ') + lset("SELECTION " + code, 50) + std::string(6, ' ') +
         rset(std::to_string(n * 7), 6) + "    " + rset(std::to_string(n * 1000), 6) + "  " +
         rset(std::to_string(n), 6) + "    " + rset(std::to_string(n * 3), 6) + rset(format(n % 10, "00"), 5);
}

// Twenty nine-point lines of figures keep their columns in the PDF, and every
// character of the widest line (107 at 9 points) lies on A4 and on Letter
// with room on both sides, as pdftotext -bbox measures it.
TEST_F(QtPageSinkTest, NinePointLinesKeepTheirColumnsAndLieOnThePaperWithRoomOnBothSides) {
  if (!havePdfToText()) GTEST_SKIP() << "pdftotext is not installed";
  for (QPageSize::PageSizeId paper : {QPageSize::A4, QPageSize::Letter}) {
    SCOPED_TRACE(paper);
    std::vector<std::string> body;
    {
      QtPageSink sink(pdf, PrintOn::nowhere(), QPageSize(paper));
      sink.setFontName("Courier New");
      sink.setFontSize(9);
      for (int n = 1; n <= 20; ++n) {
        body.push_back(reportLine(n) + (n == 20 ? "9" : ""));
        sink.printLine(body.back());
      }
      sink.endDoc();
    }
    // The margin may come out as blanks of its own; the columns after it must
    // be exactly those printed.
    std::vector<std::string> lines, printed;
    for (std::string line : testing::splitLines(pdfText()))
      if (line.find_first_not_of(" \f") != std::string::npos) lines.push_back(line);
    for (std::string line : body) printed.push_back(line.erase(line.find_last_not_of(' ') + 1));
    ASSERT_FALSE(lines.empty());
    const std::string::size_type indent = lines[0].find_first_not_of(' ');
    for (std::string& line : lines)
      line.erase(0, std::min(indent, line.size())).erase(line.find_last_not_of(' ') + 1);
    EXPECT_EQ(lines, printed);
    ASSERT_EQ(std::system(("pdftotext -bbox '" + pdf + "' '" + pdf + ".html'").c_str()), 0);
    const std::string boxes = testing::readFile(pdf + ".html");
    std::smatch page, word;
    ASSERT_TRUE(std::regex_search(boxes, page, std::regex("page width=\"([0-9.]+)\"")));
    const double width = std::stod(page[1]);
    double left = width, right = 0;
    for (auto at = boxes.cbegin();
         std::regex_search(at, boxes.cend(), word, std::regex("xMin=\"([0-9.]+)\"[^>]*xMax=\"([0-9.]+)\""));
         at = word.suffix().first) {
      left = std::min(left, std::stod(word[1]));
      right = std::max(right, std::stod(word[2]));
    }
    EXPECT_GT(left, 8);  // about 3 mm of A4, 6 mm of Letter
    EXPECT_LT(right, width - 8);
    EXPECT_NEAR(left, width - right, 1.5);
  }
}

// A page holds the line report's fullest page: six header lines of 11 points
// and 67 lines of 9 points, or 77 of 8 points.
TEST_F(QtPageSinkTest, PagesBreakByThemselvesAndOnRequest) {
  QtPageSink sink(pdf, PrintOn::nowhere());
  auto headers = [&] {
    sink.setFontSize(11);
    for (int n = 0; n < 6; ++n) sink.printLine("header");
  };
  headers();
  sink.setFontSize(9);
  int onPage = 0;
  while (sink.page() == 1 && onPage < 500) sink.printLine(reportLine(++onPage));
  EXPECT_GT(onPage, 67);
  EXPECT_LT(onPage, 90);
  sink.printLine(reportLine(0));  // the new page goes on from its top
  EXPECT_EQ(sink.page(), 2);
  sink.newPage();
  headers();
  sink.setFontSize(8);
  for (int n = 0; n < 77; ++n) sink.printLine(reportLine(n));
  EXPECT_EQ(sink.page(), 3);
  sink.endDoc();
  sink.printLine("after the end");
  EXPECT_EQ(sink.page(), 3);
  // What --reprint says it sent: the pages of the PDF as it is, and none of
  // a PDF cut short.
  const std::string written = testing::readFile(pdf);
  EXPECT_EQ(pdfPages(written), 3);
  EXPECT_EQ(pdfPages(written.substr(0, written.size() - 8)), 0);  // its pages there, its end not
  if (!havePdfToText()) return;
  const std::string text = pdfText();
  EXPECT_EQ(std::count(text.begin(), text.end(), '\f'), 3);
  EXPECT_EQ(text.find("after"), std::string::npos);
}

// A job cut short still comes out whole; an unwritable PDF fails every line,
// naming the file, and leaves what was there.
TEST_F(QtPageSinkTest, AJobNotEndedIsThrownAwayAnEndedOneComesOutAndAnUnwritableFileFailsEveryLine) {
  { QtPageSink unused(pdf, PrintOn::nowhere()); }
  {
    QtPageSink sink(pdf, PrintOn::nowhere());
    sink.printLine("cancelled run");
  }
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 0);  // no file, no temporary
  {
    QtPageSink sink(pdf, PrintOn::nowhere());
    sink.printLine("finished run");
    sink.endDoc();
  }
  const std::string bytes = testing::readFile(pdf);
  EXPECT_EQ(bytes.substr(0, 5), "%PDF-");
  EXPECT_NE(bytes.find("%%EOF"), std::string::npos);
  if (havePdfToText()) {
    EXPECT_NE(pdfText().find("finished"), std::string::npos);
  }
  std::filesystem::permissions(pdf, std::filesystem::perms::owner_read);
  for (const auto& [path, fault] : std::vector<std::pair<std::string, Fault>>{
           {pdf, Fault::ReadOnly}, {dir.file("no such folder/MAILSORT.PDF"), Fault::NotFound}}) {
    QtPageSink lost(path, PrintOn::nowhere());
    for (int n = 0; n < 2; ++n) {
      try {
        lost.printLine("lost");
        ADD_FAILURE() << path;
      } catch (const RunError& e) {
        EXPECT_EQ(std::make_pair(e.fault(), e.where()), std::make_pair(fault, std::string("MAILSORT.PDF")));
      }
    }
    lost.endDoc();
  }
  EXPECT_TRUE(testing::readFile(pdf) == bytes);  // the old PDF, left as it was
  std::filesystem::remove(pdf + ".txt");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);  // no temporary file
}

}  // namespace
}  // namespace ms
