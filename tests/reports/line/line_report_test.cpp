// The line report pass: selections, bag and bundle counts, the bags table,
// the report counters and the printed pages.
#include <gtest/gtest.h>

#include <filesystem>
#include <tuple>

#include "line_run.h"

namespace ms::testing {
namespace {

std::string right(const std::string& text, std::size_t width) {
  return std::string(width - text.size(), ' ') + text;
}

// A selection line built column by column from the printed layout.
std::string selectionLine(const std::string& code, const std::string& label, int items, int cumItems,
                          int bags, int cumBags, const std::string& seq = "") {
  std::string line = code + std::string(5 - code.size(), ' ') + std::string(6, ' ') + label +
                     std::string(50 - label.size(), ' ') + std::string(6, ' ');
  line += right(std::to_string(items), 6) + "    " + right(std::to_string(cumItems), 6) + "  " +
          right(std::to_string(bags), 6) + "    " + right(std::to_string(cumBags), 6) + right(seq, 5);
  return line;
}

// The not-matched line: the fixed Letter Post text, then the figures in
// the columns of a selection line.
std::string notMatchedLine(int items, int cumItems, int bags, int cumBags, bool regional = false) {
  std::string line = "None" + std::string(7, ' ') + "Letter Post" + std::string(45, ' ');
  line += right(std::to_string(items), 6) + "    " + right(std::to_string(cumItems), 6) + "  " +
          right(std::to_string(bags), 6) + "    " + right(std::to_string(cumBags), 6);
  return regional ? line + "   99" : line;
}

const std::string kHeading =
    "Code                                                                Items  Cum Item    Bags  Cum Bags  "
    "Seq#";
const std::string kEnd = "                                            <<< End of Report >>>";

double num(const RowMap& row, const char* field) { return row.at(field).number(); }

// Direct selection of 120 items, then a residue selection of 30: 50 items a
// bag, 25 a bundle, bag and bundle labels wanted.
class WorkedRun : public ::testing::Test {
 protected:
  void SetUp() override {
    job.addLabel("12345", "LONDON");
    job.addLabel("123", "LONDON RESIDUE");
    job.addRecords({.mscode = "12345", .seq = 1}, 120);
    job.addRecords({.mscode = "123", .seq = 2, .sflag = "Y", .pcflag = "O"}, 30);
    job.setParameters({{"BagMax", 5000.0}, {"Weight", 100.0}, {"BundleMax", 25.0}});
    job.run(50, 2);
  }
  LineRun job;
};

TEST_F(WorkedRun, PrintsHeaderSelectionsAndEndLine) {
  const std::vector<std::string> expected = {
      "06/12/2026                       Mailsort Line Report                         Page: 1",
      " Acme Mailing Ltd",
      " ",
      "Job Reference: J1001",
      "Mail Format: Letter",
      " ",
      kHeading,
      " ",
      selectionLine("12345", "LONDON", 120, 120, 3, 3),
      selectionLine("123", "LONDON RESIDUE", 30, 150, 1, 4),
      kEnd,
  };
  EXPECT_EQ(job.page(1), expected);
  EXPECT_EQ(job.page(1)[8].size(), 106u);
  // The planning report follows on a page of its own.
  EXPECT_EQ(job.reportPages(), 1);
  EXPECT_GE(job.sink.pageCount(), 2);
  EXPECT_EQ(job.sink.linesOf(1).back().fontName, "Courier New");
  EXPECT_EQ(job.sizeOf(1, 0), 11);
  EXPECT_EQ(job.sizeOf(1, 6), 9);
  EXPECT_EQ(job.sizeOf(1, 10), 9);
}

TEST_F(WorkedRun, NumbersBagsLabelsAndBundles) {
  auto bags = job.bags();
  ASSERT_EQ(bags.size(), 2u);
  EXPECT_EQ(num(bags[0], "Bag Number"), 1);
  EXPECT_EQ(num(bags[0], "Label Start"), 1);
  EXPECT_EQ(num(bags[0], "Label Number"), 123);
  EXPECT_EQ(num(bags[0], "Bundle Number"), 0);
  EXPECT_EQ(num(bags[0], "Seq"), 1);
  EXPECT_EQ(num(bags[1], "Bag Number"), 4);
  EXPECT_EQ(num(bags[1], "Label Start"), 123);
  EXPECT_EQ(num(bags[1], "Label Number"), 156);
  EXPECT_EQ(num(bags[1], "Bundle Number"), 1);
  EXPECT_EQ(num(bags[1], "Seq"), 2);
}

TEST_F(WorkedRun, GathersTheReportCounters) {
  const RunState& s = job.state;
  EXPECT_EQ(s.processed, 150);
  EXPECT_EQ(s.pcmatched, 150);
  EXPECT_EQ(s.townmatched, 0);
  EXPECT_EQ(s.notmatched, 0);
  EXPECT_EQ(s.fullpc, 120);
  EXPECT_EQ(s.outwardonly, 30);
  EXPECT_EQ(s.dirsels, 1);
  EXPECT_EQ(s.ressels, 1);
  EXPECT_EQ(s.diritems, 120);
  EXPECT_EQ(s.resitems, 30);
  EXPECT_EQ(s.dirbags, 3);
  EXPECT_EQ(s.resbags, 1);
  EXPECT_EQ(s.dirbundles, 5);
  EXPECT_EQ(s.resbundles, 2);
}

TEST_F(WorkedRun, MovesTheBarOncePerRecordAndTheExtraTurn) {
  EXPECT_EQ(job.progress.yields, 151);
  ASSERT_FALSE(job.progress.figures.empty());
  EXPECT_EQ(job.progress.figures.front(), "0.67");
  EXPECT_EQ(job.progress.figures.back(), "100.00");
  for (bool lit : job.progress.cells) EXPECT_TRUE(lit);
}

TEST_F(WorkedRun, WritesThePostOfficeFiles) {
  EXPECT_EQ(job.file("POFILE.DAT"), "12345,3\r\n123,1\r\n");
  EXPECT_EQ(job.file("POLINE.CSV"),
            "\"12345\",\"LONDON\",\"120\",\"120\",\"3\",\"3\"\r\n"
            "\"123\",\"LONDON RESIDUE\",\"30\",\"150\",\"1\",\"4\"\r\n");
  auto addresses = job.fileLines("POADDR.CSV");
  ASSERT_EQ(addresses.size(), 150u);
  EXPECT_EQ(addresses[0],
            "\"A Person\",\"1 High Street\",\"Village\",\"\",\"\",\"TOWN\",\"County\",\"AB1 2CD\",\"\",\"\","
            "\"12345\"");
  EXPECT_EQ(addresses[149].substr(addresses[149].size() - 6), ",\"123\"");
}

TEST(LineReport, LabelNumbersWithoutBagOrBundleLabels) {
  LineRun job;
  job.addLabel("12345", "LONDON");
  job.addLabel("123", "LONDON RESIDUE");
  job.addRecords({.mscode = "12345", .seq = 1}, 120);
  job.addRecords({.mscode = "123", .seq = 2, .rscode = "T"}, 30);
  job.setParameters({{"BagLab", "N"}, {"BundleLab", "N"}});
  job.run(50, 2);
  auto bags = job.bags();
  ASSERT_EQ(bags.size(), 2u);
  EXPECT_EQ(num(bags[0], "Label Start"), 0);
  EXPECT_EQ(num(bags[0], "Label Number"), 120);
  EXPECT_TRUE(bags[0].at("Bundle Number").isNull());
  EXPECT_EQ(num(bags[1], "Label Start"), 120);
  EXPECT_EQ(num(bags[1], "Label Number"), 150);
  // A non-empty rscode makes the selection residue and the records town-matched.
  EXPECT_EQ(job.state.ressels, 1);
  EXPECT_EQ(job.state.townmatched, 30);
  EXPECT_EQ(job.state.pcmatched, 120);

  // Labels start at 1 as soon as either kind of label is wanted.
  LineRun bagLabels;
  bagLabels.addLabel("12345", "LONDON");
  bagLabels.addRecords({.mscode = "12345", .seq = 1}, 10);
  bagLabels.setParameters({{"BagLab", "Y"}, {"BundleLab", "N"}});
  bagLabels.run(50, 2);
  EXPECT_EQ(num(bagLabels.bags().at(0), "Label Start"), 1);
  EXPECT_EQ(num(bagLabels.bags().at(0), "Label Number"), 11);
}

TEST(LineReport, BagsAndBundlesAtTheBagBoundary) {
  LineRun job;
  job.addLabel("11111", "EXACT");
  job.addLabel("22222", "ONE MORE");
  job.addRecords({.mscode = "11111", .seq = 1}, 50);
  job.addRecords({.mscode = "22222", .seq = 2}, 51);
  job.run(50, 2);
  auto body = job.bodyLines();
  ASSERT_EQ(body.size(), 3u);
  EXPECT_EQ(body[0], selectionLine("11111", "EXACT", 50, 50, 1, 1));
  EXPECT_EQ(body[1], selectionLine("22222", "ONE MORE", 51, 101, 2, 3));
  // 2 bundles for the full bag, then 2 + round(1 / 25) = 3.
  EXPECT_EQ(job.state.dirbundles, 5);
  EXPECT_EQ(job.state.dirbags, 3);
  auto bags = job.bags();
  ASSERT_EQ(bags.size(), 2u);
  EXPECT_EQ(num(bags[1], "Bag Number"), 2);
}

TEST(LineReport, RecordsAllNotMatched) {
  LineRun job;
  job.addRecords({.mscode = "1", .seq = 99000001, .pcflag = "O"}, 120);
  job.run(50, 2);
  EXPECT_EQ(job.bodyLines(), (std::vector<std::string>{notMatchedLine(120, 120, 3, 3), kEnd}));
  EXPECT_EQ(job.state.notmatched, 120);
  EXPECT_EQ(job.state.processed, 120);
  EXPECT_EQ(job.state.outwardonly, 120);
  EXPECT_EQ(job.state.pcmatched + job.state.townmatched, 0);
  EXPECT_EQ(job.state.dirsels + job.state.ressels, 0);
  EXPECT_EQ(job.file("POFILE.DAT"), "");
  EXPECT_EQ(job.file("POLINE.CSV"), "\"None\",\"Letter Post\",\"120\",\"120\",\"3\",\"3\"\r\n");
  auto bags = job.bags();
  ASSERT_EQ(bags.size(), 1u);
  EXPECT_EQ(num(bags[0], "Bag Number"), 3);
  EXPECT_EQ(num(bags[0], "Label Number"), 123);
  EXPECT_EQ(num(bags[0], "Bundle Number"), 0);
  EXPECT_TRUE(bags[0].at("Label Start").isNull());
}

TEST(LineReport, NotMatchedGroupAfterSelections) {
  LineRun job;
  job.addLabel("12345", "LONDON");
  job.addRecords({.mscode = "12345", .seq = 1}, 60);
  job.addRecords({.mscode = "123", .seq = 2, .sflag = "Y"}, 30);
  job.addLabel("123", "LONDON RESIDUE");
  job.addRecords({.mscode = "1", .seq = 99000001}, 10);
  job.run(50, 2);
  auto body = job.bodyLines();
  ASSERT_EQ(body.size(), 4u);
  EXPECT_EQ(body[2], notMatchedLine(10, 100, 1, 4));
  EXPECT_EQ(job.state.notmatched, 10);
  EXPECT_EQ(job.state.processed, 100);
  EXPECT_EQ(job.state.pcmatched, 90);
  auto bags = job.bags();
  ASSERT_EQ(bags.size(), 3u);
  // 100 addresses, 4 bags and the 2 residue bundles.
  EXPECT_EQ(num(bags[2], "Bag Number"), 4);
  EXPECT_EQ(num(bags[2], "Label Number"), 106);
  EXPECT_EQ(num(bags[2], "Bundle Number"), 2);
  EXPECT_EQ(num(bags[2], "Seq"), 99000001);
  EXPECT_EQ(job.fileLines("POLINE.CSV").back(), "\"None\",\"Letter Post\",\"10\",\"100\",\"1\",\"4\"");
  EXPECT_EQ(job.fileLines("POFILE.DAT").size(), 2u);
  EXPECT_EQ(job.fileLines("POADDR.CSV").size(), 100u);
}

// 65 selection lines a page, or 75 in the smaller print of the "L" printer;
// the next page opens with the continuation header.
TEST(LineReport, BreaksPagesByItsOwnLineCount) {
  for (const auto& [printer, perPage, bodySize] : {std::tuple{"N", 65, 9.0}, std::tuple{"L", 75, 8.0}}) {
    LineRun job;
    for (int i = 0; i <= perPage; ++i) {
      const std::string code = std::to_string(20000 + i);
      job.addLabel(code, "SEL " + code);
      job.addRecords({.mscode = code, .seq = static_cast<double>(i + 1)});
    }
    job.setParameters({{"printer", printer}});
    job.run();
    ASSERT_EQ(job.reportPages(), 2) << printer;
    EXPECT_EQ(job.page(1).size(), 8u + perPage) << printer;
    const std::string last = std::to_string(20000 + perPage);
    const std::vector<std::string> second = {
        "06/12/2026                       Mailsort Line Report                         Page: 2",
        " Acme Mailing Ltd",
        " ",
        kHeading,
        " ",
        selectionLine(last, "SEL " + last, 1, perPage + 1, 1, perPage + 1),
        kEnd,
    };
    EXPECT_EQ(job.page(2), second) << printer;
    EXPECT_EQ(job.sizeOf(1, 6), bodySize);
    EXPECT_EQ(job.sizeOf(2, 0), 11);
    EXPECT_EQ(job.sizeOf(2, 3), bodySize);
  }
}

TEST(LineReport, MailFormatNames) {
  const std::vector<std::pair<std::string, std::string>> cases = {{"LE", "Letter"},    {"LL", "Large Letter"},
                                                                  {"A3", "A3 Packet"}, {"PK", "Packet"},
                                                                  {"XX", ""},          {"le", ""}};
  for (const auto& [code, name] : cases) {
    LineRun job;
    job.setParameters({{"Format", code}});
    job.run();
    EXPECT_EQ(job.page(1).at(4), "Mail Format: " + name) << code;
  }
}

TEST(LineReport, EmptyWorkTable) {
  LineRun job;
  job.run();
  auto lines = job.page(1);
  ASSERT_EQ(lines.size(), 9u);
  EXPECT_EQ(lines[8], kEnd);
  EXPECT_GE(job.sink.pageCount(), 2);
  EXPECT_EQ(job.file("POFILE.DAT"), "");
  EXPECT_EQ(job.file("POLINE.CSV"), "");
  EXPECT_EQ(job.file("POADDR.CSV"), "");
  EXPECT_TRUE(job.bags().empty());
  EXPECT_EQ(job.progress.yields, 0);
}

TEST(LineReport, SeqColumnUnderRegionalSequencing) {
  LineRun job;
  job.addLabel("12345", "LONDON");
  job.addLabel("23456", "YORK");
  job.addRecords({.mscode = "12345", .seq = 7012345, .rgcode = "07"}, 2);
  job.addRecords({.mscode = "23456", .seq = 12023456, .rgcode = 12.0}, 3);
  job.addRecords({.mscode = "1", .seq = 99000001, .rgcode = "99"});
  job.setParameters({{"service", "M1"}, {"Geog", "Y"}});
  job.run();
  auto body = job.bodyLines();
  ASSERT_EQ(body.size(), 4u);
  EXPECT_EQ(body[0], selectionLine("12345", "LONDON", 2, 2, 1, 1, "07"));
  EXPECT_EQ(body[1], selectionLine("23456", "YORK", 3, 5, 1, 2, "12"));
  EXPECT_EQ(body[2], notMatchedLine(1, 6, 1, 3, true));
  // The Seq# column is not part of the Post Office line list.
  EXPECT_EQ(job.fileLines("POLINE.CSV")[0], "\"12345\",\"LONDON\",\"2\",\"2\",\"1\",\"1\"");
}

TEST(LineReport, SeqColumnBlankWithoutRegionalSequencing) {
  for (const auto& [service, geog] :
       std::vector<std::pair<std::string, std::string>>{{"M2", "Y"}, {"M1", "N"}, {"M1", "y"}}) {
    LineRun job;
    job.addLabel("12345", "LONDON");
    job.addRecords({.mscode = "12345", .seq = 7012345, .rgcode = "07"});
    job.addRecords({.mscode = "1", .seq = 99000001, .rgcode = "99"});
    job.setParameters({{"service", service}, {"Geog", geog}});
    job.run();
    auto body = job.bodyLines();
    ASSERT_EQ(body.size(), 3u);
    EXPECT_EQ(body[0], selectionLine("12345", "LONDON", 1, 1, 1, 1)) << service << geog;
    EXPECT_EQ(body[1].size(), 101u) << service << geog;
  }
}

TEST(LineReport, CodeMissingFromLabelIsLeftOutButCounted) {
  LineRun job;
  job.addLabel("11111", "FIRST");
  job.addLabel("33333", "THIRD");
  job.addRecords({.mscode = "11111", .seq = 1}, 2);
  job.addRecords({.mscode = "22222", .seq = 2}, 3);
  job.addRecords({.mscode = "33333", .seq = 3}, 4);
  job.run();
  auto body = job.bodyLines();
  ASSERT_EQ(body.size(), 3u);
  EXPECT_EQ(body[0], selectionLine("11111", "FIRST", 2, 2, 1, 1));
  EXPECT_EQ(body[1], selectionLine("33333", "THIRD", 4, 9, 1, 2));
  EXPECT_EQ(job.state.dirsels, 2);
  EXPECT_EQ(job.state.diritems, 6);
  EXPECT_EQ(job.state.processed, 9);
  EXPECT_EQ(job.file("POFILE.DAT"), "11111,1\r\n33333,1\r\n");
  EXPECT_EQ(job.fileLines("POLINE.CSV").size(), 2u);
  EXPECT_EQ(job.fileLines("POADDR.CSV").size(), 9u);
  auto bags = job.bags();
  ASSERT_EQ(bags.size(), 2u);
  EXPECT_EQ(num(bags[1], "Bag Number"), 2);
  EXPECT_EQ(num(bags[1], "Label Start"), 3);
  EXPECT_EQ(num(bags[1], "Label Number"), 11);
}

TEST(LineReport, CancelStopsThePassAndClosesTheFiles) {
  LineRun job;
  job.addLabel("11111", "FIRST");
  job.addLabel("22222", "SECOND");
  job.addRecords({.mscode = "11111", .seq = 1}, 3);
  job.addRecords({.mscode = "22222", .seq = 2}, 3);
  job.addRecords({.mscode = "1", .seq = 99000001}, 3);
  job.progress.cancelAfter = 5;
  job.run();
  EXPECT_EQ(job.progress.yields, 5);
  auto body = job.bodyLines();
  ASSERT_EQ(body.size(), 1u);
  EXPECT_EQ(body[0], selectionLine("11111", "FIRST", 3, 3, 1, 1));
  EXPECT_EQ(job.sink.pageCount(), 1);
  EXPECT_EQ(job.sink.endDocCount(), 0);
  EXPECT_EQ(job.fileLines("POADDR.CSV").size(), 5u);
  EXPECT_EQ(job.file("POFILE.DAT"), "11111,1\r\n");
  EXPECT_EQ(job.fileLines("POLINE.CSV").size(), 1u);
  EXPECT_EQ(job.bags().size(), 1u);
  EXPECT_EQ(job.state.processed, 5);
}

TEST(LineReport, ItemsPerBagBelowOneNeverLoops) {
  LineRun job;
  job.addLabel("11111", "FIRST");
  job.addRecords({.mscode = "11111", .seq = 1}, 3);
  job.addRecords({.mscode = "1", .seq = 99000001}, 2);
  job.run(0, 0);
  auto body = job.bodyLines();
  ASSERT_EQ(body.size(), 3u);
  EXPECT_EQ(body[0], selectionLine("11111", "FIRST", 3, 3, 0, 0));
  EXPECT_EQ(job.state.processed, 5);
}

TEST(LineReport, WithoutItsTablesNothingIsPrintedOrWritten) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"DROP TABLE label", "the table label cannot be searched by its PrimaryKey"},
      {"DROP INDEX kvwork_Key2", "the work table kvwork cannot be read in its Key2 order"}};
  for (const auto& [sql, text] : cases) {
    LineRun job;
    job.addLabel("11111", "FIRST");
    job.addRecords({.mscode = "11111", .seq = 1}, 2);
    job.db().exec(sql);
    job.run();
    ASSERT_EQ(job.progress.messages.size(), 1u) << sql;
    EXPECT_EQ(job.progress.messages[0].rfind("The line report cannot be printed: " + text + " (", 0), 0u)
        << job.progress.messages[0];
    EXPECT_TRUE(job.page(1).empty());
    EXPECT_FALSE(std::filesystem::exists(job.folder() + "/POADDR.CSV"));
    EXPECT_TRUE(job.bags().empty());
  }
}

}  // namespace
}  // namespace ms::testing
