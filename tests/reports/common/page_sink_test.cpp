// The print job: kept in memory for the reports' tests, and on paper as a
// PDF whose columns must hold.
#include <gtest/gtest.h>

#include <QGuiApplication>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "reports/common/qt_page_sink.h"
#include "reports/common/text_page_sink.h"
#include "reports/common/text_rules.h"
#include "store/fault.h"
#include "support/fixture_db.h"

namespace ms {
namespace {

TEST(TextPageSink, RecordsLinesPageByPageWithTheirFont) {
  TextPageSink sink;
  EXPECT_EQ(sink.page(), 1);
  sink.setFontName("Courier New");
  sink.setFontSize(11);
  sink.printLine("Title  ");
  sink.setEmphasis(true);
  sink.printLine("Heading");
  sink.setEmphasis(false);
  sink.setFontSize(9);
  sink.newPage();
  EXPECT_EQ(sink.page(), 2);
  sink.printLine(" ");
  sink.endDoc();

  ASSERT_EQ(sink.pageCount(), 2);
  ASSERT_EQ(sink.linesOf(1).size(), 2u);
  EXPECT_EQ(sink.linesOf(1)[0].text, "Title  ");
  EXPECT_EQ(sink.linesOf(1)[0].fontName, "Courier New");
  EXPECT_EQ(sink.linesOf(1)[0].fontSize, 11);
  EXPECT_FALSE(sink.linesOf(1)[0].emphasis);
  EXPECT_TRUE(sink.linesOf(1)[1].emphasis);
  EXPECT_EQ(sink.linesOf(2)[0].fontSize, 9);
  EXPECT_EQ(sink.textOf(2), std::vector<std::string>{" "});
  EXPECT_EQ(sink.allText(), (std::vector<std::string>{"Title  ", "Heading", " "}));
  EXPECT_TRUE(sink.ended());
  EXPECT_TRUE(sink.afterEnd().empty());
  EXPECT_THROW(sink.linesOf(3), std::out_of_range);
}

TEST(TextPageSink, PrintingAfterTheEndIsKeptApartAsAFault) {
  TextPageSink sink;
  sink.printLine("last");
  sink.endDoc();
  sink.printLine("too late");
  sink.newPage();
  EXPECT_EQ(sink.page(), 1);
  EXPECT_EQ(sink.allText(), std::vector<std::string>{"last"});
  EXPECT_EQ(sink.afterEnd().size(), 2u);
  EXPECT_EQ(sink.endDocCount(), 1);
}

class QtPageSinkTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (!QGuiApplication::instance()) {
      static int argc = 1;
      static char name[] = "test_common";
      static char* argv[] = {name, nullptr};
      new QGuiApplication(argc, argv);  // lives as long as the test program
    }
  }

  // The PDF's text laid out on a 5.4-point character grid, or nothing when
  // pdftotext is not installed.
  static std::string pdfText(const std::string& pdf) {
    const std::string out = pdf + ".txt";
    const std::string command = "pdftotext -layout -fixed 5.4 '" + pdf + "' '" + out + "' 2>/dev/null";
    if (std::system(command.c_str()) != 0) return {};
    return testing::readFile(out);
  }

  static bool havePdfToText() { return std::system("command -v pdftotext >/dev/null 2>&1") == 0; }

  testing::TempDir dir;
};

// A line of the line report's shape: 106 characters of figures in columns.
std::string reportLine(int n) {
  std::string code = std::to_string(100 + n);
  std::string figure = std::to_string(n * 7);
  return lset(code, 5) + std::string(6, ' ') + lset("SELECTION " + code, 50) + std::string(6, ' ') +
         rset(figure, 6) + "    " + rset(std::to_string(n * 1000), 6) + "  " + rset(std::to_string(n), 6) +
         "    " + rset(std::to_string(n * 3), 6) + rset("0" + std::to_string(n % 10), 5);
}

TEST_F(QtPageSinkTest, NinePointLinesKeepTheirColumnsInThePdf) {
  if (!havePdfToText()) GTEST_SKIP() << "pdftotext is not installed";
  const std::string pdf = dir.file("MAILSORT.PDF");
  std::vector<std::string> body;
  {
    QtPageSink sink(pdf, false);
    sink.setFontName("Courier New");
    sink.setFontSize(9);
    for (int n = 1; n <= 20; ++n) {
      body.push_back(reportLine(n));
      ASSERT_EQ(charCount(body.back()), 106u);
      sink.printLine(body.back());
    }
    sink.endDoc();
  }
  std::vector<std::string> lines;
  for (const std::string& line : testing::splitLines(pdfText(pdf)))
    if (line.find_first_not_of(" \f") != std::string::npos) lines.push_back(line);
  ASSERT_EQ(lines.size(), body.size());

  // The margin may come out as a few blanks of its own; the columns after it
  // must be exactly those printed.
  const std::string::size_type indent = lines[0].find_first_not_of(' ');
  for (std::size_t i = 0; i < body.size(); ++i) {
    ASSERT_GE(lines[i].size(), indent);
    std::string got = lines[i].substr(indent);
    got.erase(got.find_last_not_of(' ') + 1);
    std::string want = body[i];
    want.erase(want.find_last_not_of(' ') + 1);
    EXPECT_EQ(got, want) << "line " << i + 1;
  }
}

TEST_F(QtPageSinkTest, PagesBreakByThemselvesAndOnRequest) {
  const std::string pdf = dir.file("MAILSORT.PDF");
  QtPageSink sink(pdf, false);
  EXPECT_EQ(sink.page(), 1);
  sink.setFontSize(11);
  sink.printLine("page one");
  sink.newPage();
  EXPECT_EQ(sink.page(), 2);

  // A page holds the line report's fullest page: its header and 65 lines of
  // 9 points, or 75 of 8 points.
  sink.setFontSize(11);
  for (int n = 0; n < 6; ++n) sink.printLine("header");
  sink.setFontSize(9);
  int onPage = 0;
  while (sink.page() == 2 && onPage < 500) sink.printLine(reportLine(++onPage));
  EXPECT_GT(onPage, 67);
  EXPECT_LT(onPage, 90);
  EXPECT_EQ(sink.page(), 3);  // the line that did not fit began page 3

  sink.newPage();
  sink.setFontSize(11);
  for (int n = 0; n < 6; ++n) sink.printLine("header");
  sink.setFontSize(8);
  for (int n = 0; n < 77; ++n) sink.printLine(reportLine(n));
  EXPECT_EQ(sink.page(), 4);
  sink.endDoc();
  sink.printLine("after the end");  // ignored
  EXPECT_EQ(sink.page(), 4);

  if (!havePdfToText()) return;
  const std::string text = pdfText(pdf);
  std::size_t formFeeds = 0;
  for (char c : text) formFeeds += c == '\f';
  EXPECT_EQ(formFeeds, 4u);
  EXPECT_EQ(text.find("after"), std::string::npos);
}

TEST_F(QtPageSinkTest, AJobNotEndedIsEndedWhenTheSinkGoes) {
  const std::string pdf = dir.file("MAILSORT.PDF");
  {
    QtPageSink sink(pdf, false);
    sink.printLine("cancelled run");
  }
  const std::string bytes = testing::readFile(pdf);
  ASSERT_GE(bytes.size(), 5u);
  EXPECT_EQ(bytes.substr(0, 5), "%PDF-");
  EXPECT_NE(bytes.find("%%EOF"), std::string::npos);
  if (havePdfToText()) {
    EXPECT_NE(pdfText(pdf).find("cancelled"), std::string::npos);
  }
}

TEST_F(QtPageSinkTest, NothingPrintedMeansNoFile) {
  const std::string pdf = dir.file("MAILSORT.PDF");
  { QtPageSink sink(pdf, false); }
  EXPECT_FALSE(std::filesystem::exists(pdf));
}

TEST_F(QtPageSinkTest, AFileThatCannotBeWrittenFailsEveryLine) {
  QtPageSink sink(dir.file("no such folder/MAILSORT.PDF"), false);
  EXPECT_THROW(sink.printLine("lost"), RunError);
  EXPECT_FALSE(attempt([&] { sink.printLine("lost"); }));
  sink.endDoc();
}

}  // namespace
}  // namespace ms
