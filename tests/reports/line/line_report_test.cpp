// The line report pass: selections, bags, counters and the printed pages.
#include <gtest/gtest.h>

#include <filesystem>

#include "line_run.h"

namespace ms::testing {
namespace {

std::string right(const std::string& text, std::size_t width) {
  return std::string(width - text.size(), ' ') + text;
}

// A selection line built column by column; "None"/"Letter Post" makes the
// not-matched line, which has no Seq# column (nullptr) outside Regional Sequencing.
std::string sel(const std::string& code, const std::string& label, int items, int cumItems, int bags,
                int cumBags, const char* seq = "") {
  return code + std::string(11 - code.size(), ' ') + label + std::string(56 - label.size(), ' ') +
         right(std::to_string(items), 6) + "    " + right(std::to_string(cumItems), 6) + "  " +
         right(std::to_string(bags), 6) + "    " + right(std::to_string(cumBags), 6) +
         (seq ? right(seq, 5) : "");
}

const std::string kHeading =
    "Code                                                                Items  Cum Item    Bags  Cum Bags  "
    "Seq#";
const std::string kHeader =
    "06/12/2026                       Mailsort Line Report                         Page: ";

// 120 direct items, then 30 residue items: 50 a bag, 25 a bundle, labels wanted.
TEST(LineReport, WorkedRun) {
  LineRun job;
  job.add("12345", "LONDON", 120, {.seq = 1});
  job.add("123", "LONDON RESIDUE", 30, {.seq = 2, .sflag = "Y", .pcflag = "O"});
  job.setParameters({{"BagMax", 5000.0}, {"Weight", 100.0}, {"BundleMax", 25.0}});
  job.run(50, 2);
  EXPECT_EQ(job.page(1), (std::vector<std::string>{kHeader + "1", " Acme Mailing Ltd", " ",
                                                   "Job Reference: J1001", "Mail Format: Letter", " ",
                                                   kHeading, " ", sel("12345", "LONDON", 120, 120, 3, 3),
                                                   sel("123", "LONDON RESIDUE", 30, 150, 1, 4), kEnd}));
  EXPECT_EQ(job.reportPages(), 1);
  EXPECT_GE(job.sink.pageCount(), 2);  // the planning report on a page of its own
  EXPECT_EQ(job.sink.linesOf(1).back().fontName, "Courier New");
  EXPECT_EQ(job.sizeOf(1, 0), 11);
  EXPECT_EQ(job.sizeOf(1, 10), 9);
  EXPECT_EQ(job.bags(), (std::vector<std::string>{"1/1/123/0/1", "4/123/156/1/2"}));
  const RunState& s = job.state;
  EXPECT_EQ((std::vector<double>{s.processed, s.pcmatched, s.townmatched, s.notmatched, s.fullpc,
                                 s.outwardonly, s.dirsels, s.ressels, s.diritems, s.resitems, s.dirbags,
                                 s.resbags, s.dirbundles, s.resbundles}),
            (std::vector<double>{150, 150, 0, 0, 120, 30, 1, 1, 120, 30, 3, 1, 5, 2}));
  EXPECT_EQ(job.progress.yields, 151);  // once a record and the extra turn
  ASSERT_FALSE(job.progress.figures.empty());
  EXPECT_EQ(job.progress.figures.front(), "0.67");
  EXPECT_EQ(job.progress.figures.back(), "100.00");
  for (bool lit : job.progress.cells) EXPECT_TRUE(lit);
  EXPECT_EQ(job.file("POFILE.DAT"), "12345,3\r\n123,1\r\n");
  EXPECT_EQ(job.file("POLINE.CSV"),
            "\"12345\",\"LONDON\",\"120\",\"120\",\"3\",\"3\"\r\n"
            "\"123\",\"LONDON RESIDUE\",\"30\",\"150\",\"1\",\"4\"\r\n");
  auto addresses = job.fileLines("POADDR.CSV");
  ASSERT_EQ(addresses.size(), 150u);
  EXPECT_EQ(addresses[0],
            "\"A Person\",\"1 High Street\",\"Village\",\"\",\"\",\"TOWN\",\"County\",\"AB1 "
            "2CD\",\"\",\"\",\"12345\"");
  EXPECT_EQ(addresses[149].substr(addresses[149].size() - 6), ",\"123\"");
}

TEST(LineReport, LabelNumbersFollowBagAndBundleLabels) {
  LineRun job;
  job.add("12345", "LONDON", 120, {.seq = 1});
  job.add("123", "LONDON RESIDUE", 30, {.seq = 2, .rscode = "T"});  // rscode: residue, town-matched
  job.setParameters({{"BagLab", "N"}, {"BundleLab", "N"}});
  job.run(50, 2);
  EXPECT_EQ(job.bags(), (std::vector<std::string>{"1/0/120/-/1", "4/120/150/-/2"}));
  EXPECT_EQ((std::vector<double>{job.state.ressels, job.state.townmatched, job.state.pcmatched}),
            (std::vector<double>{1, 30, 120}));
  LineRun bagLabels;  // either kind of label makes labels start at 1
  bagLabels.add("12345", "LONDON", 10, {.seq = 1});
  bagLabels.setParameters({{"BagLab", "Y"}, {"BundleLab", "N"}});
  bagLabels.run(50, 2);
  EXPECT_EQ(bagLabels.bags().at(0).substr(0, 7), "1/1/11/");
}

TEST(LineReport, SelectionOfExactlyBagitemsAndOneMore) {
  LineRun job;
  job.add("11111", "EXACT", 50, {.seq = 1});
  job.add("22222", "ONE MORE", 51, {.seq = 2});
  job.run(50, 2);
  EXPECT_EQ(job.bodyLines(), (std::vector<std::string>{sel("11111", "EXACT", 50, 50, 1, 1),
                                                       sel("22222", "ONE MORE", 51, 101, 2, 3), kEnd}));
  EXPECT_EQ(job.state.dirbundles, 5);  // 2, then 2 + round(1 / 25)
  EXPECT_EQ(job.state.dirbags, 3);
  ASSERT_EQ(job.bags().size(), 2u);
  EXPECT_EQ(job.bags()[1].substr(0, 2), "2/");
}

TEST(LineReport, CodeMissingFromLabelIsLeftOutButCounted) {
  LineRun job;
  job.add("11111", "FIRST", 2, {.seq = 1});
  job.addRecords({.mscode = "22222", .seq = 2}, 3);
  job.add("33333", "THIRD", 4, {.seq = 3});
  job.run();
  EXPECT_EQ(job.bodyLines(), (std::vector<std::string>{sel("11111", "FIRST", 2, 2, 1, 1),
                                                       sel("33333", "THIRD", 4, 9, 1, 2), kEnd}));
  EXPECT_EQ((std::vector<double>{job.state.dirsels, job.state.diritems, job.state.processed}),
            (std::vector<double>{2, 6, 9}));
  EXPECT_EQ(job.file("POFILE.DAT"), "11111,1\r\n33333,1\r\n");
  EXPECT_EQ(job.fileLines("POLINE.CSV").size(), 2u);
  EXPECT_EQ(job.fileLines("POADDR.CSV").size(), 9u);
  ASSERT_EQ(job.bags().size(), 2u);
  EXPECT_EQ(job.bags()[1].substr(0, 7), "2/3/11/");
}

TEST(LineReport, RecordsAllNotMatched) {
  LineRun job;
  job.addRecords({.mscode = "1", .seq = 99000001, .pcflag = "O"}, 120);
  job.run(50, 2);
  EXPECT_EQ(job.bodyLines(),
            (std::vector<std::string>{sel("None", "Letter Post", 120, 120, 3, 3, nullptr), kEnd}));
  const RunState& s = job.state;
  EXPECT_EQ((std::vector<double>{s.notmatched, s.processed, s.outwardonly, s.pcmatched + s.townmatched,
                                 s.dirsels + s.ressels}),
            (std::vector<double>{120, 120, 120, 0, 0}));
  EXPECT_EQ(job.file("POFILE.DAT"), "");
  EXPECT_EQ(job.file("POLINE.CSV"), "\"None\",\"Letter Post\",\"120\",\"120\",\"3\",\"3\"\r\n");
  EXPECT_EQ(job.bags(), (std::vector<std::string>{"3/-/123/0/99000001"}));
}

// 65 selection lines a page, or 75 in the smaller print of the "L" printer.
TEST(LineReport, SixtySixSelectionsOnTwoPages) {
  for (const auto& [printer, perPage, bodySize] : {std::tuple{"N", 65, 9.0}, std::tuple{"L", 75, 8.0}}) {
    SCOPED_TRACE(printer);
    LineRun job;
    for (int i = 0; i <= perPage; ++i) {
      const std::string code = std::to_string(20000 + i);
      job.addLabel(code, "SEL " + code);
      job.addRecords({.mscode = code, .seq = static_cast<double>(i + 1)});
    }
    job.setParameters({{"printer", printer}});
    job.run();
    ASSERT_EQ(job.reportPages(), 2);
    EXPECT_EQ(job.page(1).size(), 8u + perPage);
    const std::string last = std::to_string(20000 + perPage);
    EXPECT_EQ(job.page(2),
              (std::vector<std::string>{kHeader + "2", " Acme Mailing Ltd", " ", kHeading, " ",
                                        sel(last, "SEL " + last, 1, perPage + 1, 1, perPage + 1), kEnd}));
    EXPECT_EQ(job.sizeOf(1, 6), bodySize);
    EXPECT_EQ(job.sizeOf(2, 3), bodySize);
  }
}

TEST(LineReport, MailFormatNames) {
  for (const auto& [code, name] : std::vector<std::pair<std::string, std::string>>{{"LE", "Letter"},
                                                                                   {"LL", "Large Letter"},
                                                                                   {"A3", "A3 Packet"},
                                                                                   {"PK", "Packet"},
                                                                                   {"XX", ""},
                                                                                   {"le", ""}}) {
    LineRun job;
    job.setParameters({{"Format", code}});
    job.run();
    EXPECT_EQ(job.page(1).at(4), "Mail Format: " + name) << code;
  }
}

TEST(LineReport, SeqColumnOnlyUnderRegionalSequencing) {
  for (const auto& [service, geog, on] : {std::tuple{"M1", "Y", true}, std::tuple{"M2", "Y", false},
                                          std::tuple{"M1", "N", false}, std::tuple{"M1", "y", false}}) {
    SCOPED_TRACE(std::string(service) + geog);
    LineRun job;
    job.add("12345", "LONDON", 2, {.seq = 7012345, .rgcode = "07"});
    job.add("23456", "YORK", 3, {.seq = 12023456, .rgcode = 12.0});
    job.addRecords({.mscode = "1", .seq = 99000001, .rgcode = "99"});
    job.setParameters({{"service", service}, {"Geog", geog}});
    job.run();
    EXPECT_EQ(job.bodyLines(),
              (std::vector<std::string>{sel("12345", "LONDON", 2, 2, 1, 1, on ? "07" : ""),
                                        sel("23456", "YORK", 3, 5, 1, 2, on ? "12" : ""),
                                        sel("None", "Letter Post", 1, 6, 1, 3, on ? "99" : nullptr), kEnd}));
    EXPECT_EQ(job.fileLines("POLINE.CSV")[0], "\"12345\",\"LONDON\",\"2\",\"2\",\"1\",\"1\"");
  }
}

TEST(LineReport, EmptyWorkTableAndItemsPerBagBelowOne) {
  LineRun empty;
  empty.run();
  EXPECT_EQ(empty.page(1).size(), 9u);
  EXPECT_EQ(empty.page(1).back(), kEnd);
  EXPECT_EQ(empty.file("POLINE.CSV") + empty.file("POADDR.CSV"), "");
  EXPECT_EQ(empty.progress.yields, 0);
  LineRun zero;  // never loops
  zero.add("11111", "FIRST", 3, {.seq = 1});
  zero.run(0, 0);
  EXPECT_EQ(zero.bodyLines().at(0), sel("11111", "FIRST", 3, 3, 0, 0));
}

TEST(LineReport, CancelStopsThePassAndClosesTheFiles) {
  LineRun job;
  job.add("11111", "FIRST", 3, {.seq = 1});
  job.add("22222", "SECOND", 3, {.seq = 2});
  job.addRecords({.mscode = "1", .seq = 99000001}, 3);
  job.progress.cancelAfter = 5;
  job.run();
  EXPECT_EQ(job.progress.yields, 5);
  EXPECT_EQ(job.state.processed, 5);
  EXPECT_EQ(job.bodyLines(), (std::vector<std::string>{sel("11111", "FIRST", 3, 3, 1, 1)}));
  EXPECT_EQ(job.sink.pageCount(), 1);
  EXPECT_EQ(job.sink.endDocCount(), 0);
  EXPECT_EQ(job.fileLines("POADDR.CSV").size(), 5u);
  EXPECT_EQ(job.file("POFILE.DAT"), "11111,1\r\n");
  EXPECT_EQ(job.fileLines("POLINE.CSV").size(), 1u);
  EXPECT_EQ(job.bags().size(), 1u);
}

TEST(LineReport, WithoutItsTablesNothingIsPrintedOrWritten) {
  for (const auto& [sql, text] : std::vector<std::pair<std::string, std::string>>{
           {"DROP TABLE label", "the table label cannot be searched by its PrimaryKey"},
           {"DROP INDEX kvwork_Key2", "the work table kvwork cannot be read in its Key2 order"}}) {
    SCOPED_TRACE(sql);
    LineRun job;
    job.add("11111", "FIRST", 2, {.seq = 1});
    job.db().exec(sql);
    job.run();
    ASSERT_EQ(job.progress.messages.size(), 1u);
    EXPECT_EQ(job.progress.messages[0].rfind("The line report cannot be printed: " + text + " (", 0), 0u);
    EXPECT_TRUE(job.page(1).empty());
    EXPECT_FALSE(std::filesystem::exists(job.folder() + "/POADDR.CSV"));
    EXPECT_TRUE(job.bags().empty());
  }
}

}  // namespace
}  // namespace ms::testing
