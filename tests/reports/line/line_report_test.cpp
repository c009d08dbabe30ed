// The line report pass (selections, bags, counters and the printed pages)
// and the Post Office files (code page, quoting, Nulls, cutting and codes).
#include "reports/line/line_report.h"

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "reports/common/record_file.h"
#include "reports/line/line_layout.h"
#include "reports/line/po_files.h"
#include "store/table_def.h"
#include "support/run_job.h"
#include "values/fault.h"
#include "values/fault_log.h"
#include "values/text_rules.h"

namespace ms::testing {
namespace {

const std::string kEnd = std::string(44, ' ') + "<<< End of Report >>>";

struct WorkRecord {
  std::string mscode = "";
  double seq = 0;
  Value rscode = "", sflag = "N", pcflag = "F", rgcode = "07", name = "A Person", address3 = "";
};

// A line report run: the job's tables filled with plain SQL, linerep run in
// the job's folder, its output read back.
class LineRun : public RunJob {
 public:
  LineRun() { db.exec("BEGIN"); }  // committed when the run starts
  void addRecords(const WorkRecord& r, int count = 1) {
    const Row row = {{"mscode", r.mscode}, {"rscode", r.rscode}, {"seq", r.seq},   {"rgcode", r.rgcode},
                     {"sflag", r.sflag},   {"pcflag", r.pcflag}, {"Name", r.name}, {"Address3", r.address3}};
    for (int i = 0; i < count; ++i) db.insert("kvwork", row);
  }
  // A label and `count` records of its code.
  void add(const std::string& code, const Value& label, int count, WorkRecord record) {
    addLabel(code, label);
    record.mscode = code;
    addRecords(record, count);
  }
  void addLabel(const std::string& code, const Value& text) {
    db.insert("label", {{"code", code}, {"mdlab", text}});
  }
  void setParameters(const Row& overrides) { overrides_ = overrides; }
  // Opens the database as a run does, adds an empty bags table, runs linerep.
  void run(int bagitems = 50, double bundlesperbag = 2) {
    db.exec(
        "UPDATE kvwork SET Address1 = '1 High Street', Address2 = 'Village', town = 'TOWN', "
        "county = 'County', postcode = 'AB1 2CD'");
    db.insertParameters(overrides_);
    db.exec("COMMIT");
    InFolder inFolder(dir.path());  // the PO files go to the current directory
    open().mdb->appendTableDef(
        {"bags",
         {"Bag Number", "Label Start", "Label Number", "Bundle Number", "Seq"},
         {{"PrimaryKey", {"Bag Number"}, true, true}, {"Key2", {"Label Number"}, false, false}}});
    state.bagitems = bagitems;
    state.bundlesperbag = bundlesperbag;
    state.cancelflag = "N";
    linerep(state);
    state.mdb->close();
  }

  std::vector<std::string> page(int n) const { return sink.textOf(n); }
  double sizeOf(int page, int line) const { return sink.linesOf(page).at(line).fontSize; }
  // Pages up to the one holding the end line.
  int reportPages() const {
    for (int p = 1; p <= sink.pageCount(); ++p)
      for (const auto& line : sink.linesOf(p))
        if (line.text == kEnd) return p;
    return sink.pageCount();
  }
  // Report lines below the page headers, blank lines left out, to the end line.
  std::vector<std::string> bodyLines() const {
    std::vector<std::string> out;
    for (int p = 1; p <= reportPages(); ++p) {
      const auto& lines = sink.linesOf(p);
      for (std::size_t i = p == 1 ? 8 : 5; i < lines.size(); ++i) {
        if (lines[i].text != " ") out.push_back(lines[i].text);
        if (lines[i].text == kEnd) return out;
      }
    }
    return out;
  }
  // Bags rows as "bag/start/label/bundle/seq", a Null as "-".
  std::vector<std::string> bags() {
    std::string row;
    for (const char* field : {"Bag Number", "Label Start", "Label Number", "Bundle Number", "Seq"})
      row +=
          std::string(row.empty() ? "" : " || '/' || ") + "ifnull(CAST(\"" + field + "\" AS INTEGER), '-')";
    return splitLines(sqlRows(db.path(), "SELECT " + row + " FROM bags ORDER BY rowid"));
  }

 private:
  Row overrides_;
};

// A selection line built column by column; "None"/"Letter Post" makes the
// not-matched line, which has no Seq# column (nullptr) outside Regional Sequencing.
std::string sel(const std::string& code, const std::string& label, int items, int cumItems, int bags,
                int cumBags, const char* seq = "") {
  return lset(code, 11) + lset(label, 56) + rset(std::to_string(items), 6) + "    " +
         rset(std::to_string(cumItems), 6) + "  " + rset(std::to_string(bags), 6) + "    " +
         rset(std::to_string(cumBags), 6) + (seq ? rset(seq, 5) : "");
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
  EXPECT_GE(job.sink.pageCount(), 2);  // the planning report on a page of its own
  EXPECT_EQ(
      std::tuple(job.reportPages(), job.sink.linesOf(1).back().fontName, job.sizeOf(1, 0), job.sizeOf(1, 10)),
      std::tuple(1, "Courier New", 11.0, 9.0));
  EXPECT_EQ(job.bags(), (std::vector<std::string>{"1/1/123/0/1", "4/123/156/1/2"}));
  const RunState& s = job.state;
  EXPECT_EQ((std::vector<double>{s.processed, s.pcmatched, s.townmatched, s.notmatched, s.fullpc,
                                 s.outwardonly, s.dirsels, s.ressels, s.diritems, s.resitems, s.dirbags,
                                 s.resbags, s.dirbundles, s.resbundles}),
            (std::vector<double>{150, 150, 0, 0, 120, 30, 1, 1, 120, 30, 3, 1, 5, 2}));
  EXPECT_EQ(job.progress.yields, 151);  // once a record and the extra turn
  ASSERT_FALSE(job.progress.figures.empty());
  EXPECT_EQ(std::tuple(job.progress.figures.front(), job.progress.figures.back(), job.progress.litUpTo(20)),
            std::tuple("0.67", "100.00", true));
  EXPECT_EQ(job.file("POFILE.DAT"), "12345,3\r\n123,1\r\n");
  EXPECT_EQ(job.fileLines("POLINE.CSV").size(), 2u);
  EXPECT_EQ(job.fileLines("POADDR.CSV").at(149).substr(0, 11), "\"A Person\",");
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

// A selection of exactly a bag, one whose code label lacks (left out of the
// lines but counted), and one of a bag and an item more.
TEST(LineReport, ExactlyABagOneMoreAndACodeMissingFromLabel) {
  LineRun job;
  job.add("11111", "EXACT", 50, {.seq = 1});
  job.addRecords({.mscode = "22222", .seq = 2}, 3);
  job.add("33333", "ONE MORE", 51, {.seq = 3});
  job.run(50, 2);
  EXPECT_EQ(job.bodyLines(), (std::vector<std::string>{sel("11111", "EXACT", 50, 50, 1, 1),
                                                       sel("33333", "ONE MORE", 51, 104, 2, 3), kEnd}));
  EXPECT_EQ((std::vector<double>{job.state.dirsels, job.state.diritems, job.state.processed,
                                 job.state.dirbags, job.state.dirbundles}),
            (std::vector<double>{2, 101, 104, 3, 5}));  // bundles: 2, then 2 + round(1 / 25)
  EXPECT_EQ(job.file("POFILE.DAT"), "11111,1\r\n33333,2\r\n");
  EXPECT_EQ(job.fileLines("POADDR.CSV").size(), 104u);
  EXPECT_EQ(job.bags(), (std::vector<std::string>{"1/1/51/0/1", "2/51/107/0/3"}));
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
  EXPECT_EQ(job.file("UNMATCHED.CSV"), job.file("POADDR.CSV"));  // every address, listed
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
    // The code "1" record alone is listed as not matched, as POADDR.CSV has it.
    EXPECT_EQ(job.fileLines("UNMATCHED.CSV"), std::vector<std::string>{job.fileLines("POADDR.CSV").back()});
  }
}

TEST(LineReport, EmptyWorkTableAndItemsPerBagBelowOne) {
  LineRun empty;
  empty.run();
  EXPECT_EQ(std::tuple(empty.page(1).size(), empty.page(1).back(), empty.progress.yields,
                       empty.file("POLINE.CSV") + empty.file("POADDR.CSV") + empty.file("UNMATCHED.CSV")),
            std::tuple(9u, kEnd, 0, ""));
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
  job.progress.cancelAtYield = 5;
  job.run();
  EXPECT_EQ(job.bodyLines(), (std::vector<std::string>{sel("11111", "FIRST", 3, 3, 1, 1)}));
  EXPECT_EQ(
      std::tuple(job.progress.yields, job.state.processed, job.sink.pageCount(), job.sink.endDocCount()),
      std::tuple(5, 5.0, 1, 0));
  EXPECT_EQ(std::tuple(job.fileLines("POADDR.CSV").size(), job.file("POFILE.DAT"),
                       job.fileLines("POLINE.CSV").size(), job.bags().size()),
            std::tuple(5u, "11111,1\r\n", 1u, 1u));
}

TEST(LineReport, WithoutItsTablesNothingIsPrintedOrWritten) {
  for (const auto& [sql, text] : std::vector<std::pair<std::string, std::string>>{
           {"DROP TABLE label", "the table label cannot be searched by its PrimaryKey"},
           {"DROP INDEX kvwork_Key2", "the work table kvwork cannot be read in its Key2 order"}}) {
    SCOPED_TRACE(sql);
    LineRun job;
    job.add("11111", "FIRST", 2, {.seq = 1});
    job.db.exec(sql);
    job.run();
    ASSERT_EQ(job.progress.messages.size(), 1u);
    EXPECT_EQ(job.progress.messages[0].rfind("The line report cannot be printed: " + text + " (", 0), 0u);
    EXPECT_TRUE(job.page(1).empty() && job.bags().empty());
    EXPECT_FALSE(std::filesystem::exists(job.dir.path() + "/POADDR.CSV"));
  }
}

TEST(LineLayout, MailFormatNamesComeFromTheFormatTableByExactCode) {
  const std::pair<Value, std::string> names[] = {{"LE", "Letter"},    {"LL", "Large Letter"},
                                                 {"A3", "A3 Packet"}, {"PK", "Packet"},
                                                 {"XX", ""},          {"le", ""},
                                                 {Value(), ""},       {1.0, ""}};
  for (const auto& [code, name] : names) EXPECT_EQ(mailFormatName(code), name) << code.textOrEmpty();
}

TEST(RecordFile, CodePageQuotingAndCrLf) {
  for (const auto& [utf8, cp1252] : std::vector<std::pair<std::string, std::string>>{
           {"plain ASCII, 123", "plain ASCII, 123"},
           {"caf\xC3\xA9 \xC2\xA3", "caf\xE9 \xA3"},
           {"\xE2\x82\xAC \xE2\x80\x9C\xE2\x80\x9D", "\x80 \x93\x94"},
           {"\xC5\x93\xC5\xB8", "\x9C\x9F"},
           {"\xE6\xBC\xA2 \xF0\x9F\x98\x80", "? ?"},  // CJK, emoji
           {"\xC2\x81", "?"},                         // a C1 control
           {"a\xFF\x62\xC3", "a?b?"},                 // not UTF-8
           {std::string("a\0b", 3), "a?b"}}) {
    std::string converted = "kept ";
    appendWindows1252(utf8, converted);
    EXPECT_EQ(converted, "kept " + cp1252) << utf8;
  }
  EXPECT_EQ((std::vector<std::string>{quoted(""), quoted("The \"Old\" Mill"), quoted(" padded  ")}),
            (std::vector<std::string>{"\"\"", "\"The \"Old\" Mill\"", "\" padded  \""}));
}

// The file is written new and put in place under its name: what had the name
// is replaced, but a folder or a read-only file there is a fault naming the
// file and stays as it was, its records lost. No temporary file is left.
TEST(RecordFile, ReplacesAnOldFileOrALinkAndLeavesAFolderOrAReadOnlyFile) {
  enum Planted { Nothing, OldFile, Link, Folder, ReadOnlyFile };
  for (const auto& [planted, fault] : std::vector<std::pair<Planted, std::optional<Fault>>>{
           {Nothing, {}}, {OldFile, {}}, {Link, {}}, {Folder, Fault::Io}, {ReadOnlyFile, Fault::ReadOnly}}) {
    TempDir dir;
    const std::string path = dir.file("OUT.CSV"), target = dir.file("target");
    std::ofstream(target) << "kept";
    if (planted == OldFile || planted == ReadOnlyFile) std::ofstream(path) << "kept";
    if (planted == ReadOnlyFile) std::filesystem::permissions(path, std::filesystem::perms::owner_read);
    if (planted == Link) std::filesystem::create_symlink(target, path);
    if (planted == Folder) std::filesystem::create_directory(path);
    RecordFile file;
    std::vector<std::pair<Fault, std::string>> faults;
    auto run = [&](auto statement) {
      try {
        statement();
      } catch (const RunError& e) {
        faults.emplace_back(e.fault(), e.where());
      }
    };
    run([&] { file.open(path, nullptr); });
    run([&] { file.writeRecord({"\"a\"", "12", "\"\""}); });
    run([&] { file.writeRecord({"\"\xC3\xA9\""}); });
    run([&] { file.close(); });
    file.writeRecord({"closed"});
    const auto expected = fault ? std::vector<std::pair<Fault, std::string>>(3, {*fault, "OUT.CSV"})
                                : std::vector<std::pair<Fault, std::string>>{};
    EXPECT_EQ(faults, expected) << planted;
    if (planted == Folder)
      EXPECT_TRUE(std::filesystem::is_directory(path));
    else
      EXPECT_EQ(readFile(path), fault ? "kept" : "\"a\",12,\"\"\r\n\"\xE9\"\r\n") << planted;
    EXPECT_FALSE(std::filesystem::is_symlink(path)) << planted;
    EXPECT_EQ(readFile(target), "kept") << planted;
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 2) << planted;
  }
}

// Data the system refuses at the last flush: what was written is put in
// place, and closing is the fault.
TEST(RecordFile, DataRefusedAtCloseIsAFault) {
  TempDir dir;
  RecordFile file;
  file.open(dir.file("OUT.CSV"), nullptr);
  file.writeRecord({std::string(100, 'x')});
  std::signal(SIGXFSZ, SIG_IGN);  // a write past the size limit fails instead
  rlimit before{};
  getrlimit(RLIMIT_FSIZE, &before);
  const rlimit small{10, before.rlim_max};
  setrlimit(RLIMIT_FSIZE, &small);
  std::string what;
  try {
    file.close();
  } catch (const RunError& e) {
    what = e.where() + ": " + e.what();
  }
  setrlimit(RLIMIT_FSIZE, &before);
  EXPECT_EQ(what, "OUT.CSV: could not be written: File too large");
  EXPECT_EQ(readFile(dir.file("OUT.CSV")), std::string(10, 'x'));
}

TEST(PoFileCode, NumberAtTheStartRoundedHalfToEven) {
  const std::vector<std::pair<std::string, long long>> codes = {
      {"12345", 12345}, {" 123", 123}, {"12A45", 12}, {"ABC", 0},
      {"", 0},          {"12.5", 12},  {"13.5", 14},  {"2147483647", 2147483647}};
  for (const auto& [code, number] : codes) EXPECT_EQ(poFileCode(code), number) << code;
  EXPECT_EQ(poFileCode("-2147483648"), -2147483648LL);
  EXPECT_THROW(poFileCode("2147483648"), RunError);
  EXPECT_THROW(poFileCode("99999999999"), RunError);
}

TEST(PoFiles, NullsQuotesCodePageAndCutting) {
  LineRun job;
  const std::string longLabel = "A DESCRIPTION THAT RUNS ON WELL PAST FIFTY CHARACTERS, THEN MORE";
  job.addLabel("99999", Value());  // keeps the previous text
  job.add("1234567", longLabel, 1, {.seq = 1, .name = "The \"Old\" Mill  ", .address3 = Value()});
  job.addRecords({.mscode = "1234567", .seq = 1, .name = Value(), .address3 = "Flat 2"});
  job.add("987", "  PADDED" + std::string(45, ' ') + "CUT OFF", 1,
          {.seq = 2, .name = "Ren\xC3\xA9\xE2\x82\xAC\xE6\xBC\xA2"});
  job.addRecords({.mscode = "99999", .seq = 3});
  job.run();
  const auto addresses = job.fileLines("POADDR.CSV");
  ASSERT_EQ(addresses.size(), 4u);
  EXPECT_EQ(addresses[0],
            "\"The \"Old\" Mill  \",\"1 High Street\",\"Village\",\"\",\"\",\"TOWN\",\"County\","
            "\"AB1 2CD\",\"\",\"\",\"1234567\"");
  EXPECT_EQ(addresses[1],
            "\"\",\"1 High Street\",\"Village\",\"Flat 2\",\"\",\"TOWN\",\"County\",\"AB1 2CD\","
            "\"\",\"\",\"1234567\"");
  EXPECT_EQ(addresses[2].substr(0, 8), "\"Ren\xE9\x80?\"");
  EXPECT_EQ(
      job.fileLines("POLINE.CSV"),
      (std::vector<std::string>{
          "\"12345\",\"A DESCRIPTION THAT RUNS ON WELL PAST FIFTY CHARACT\",\"2\",\"2\",\"1\",\"1\"",
          "\"987\",\"PADDED\",\"1\",\"3\",\"1\",\"2\"", "\"99999\",\"PADDED\",\"1\",\"4\",\"1\",\"3\""}));
  EXPECT_EQ(job.file("POFILE.DAT"), "1234567,1\r\n987,1\r\n99999,1\r\n");  // the whole code
  EXPECT_EQ(job.bodyLines()[0].substr(0, 61), "12345      " + longLabel.substr(0, 50));
}

// Each of the three files is a fault of its own: the others are written.
TEST(PoFiles, AFileThatCannotBeCreatedIsAFaultAndTheOthersAreWritten) {
  LineRun job;
  job.add("11111", "FIRST", 2, {.seq = 1});
  std::filesystem::create_directory(job.dir.path() + "/POLINE.CSV");
  FaultLog log;
  {
    FaultScope scope(log);
    job.run();
  }
  std::vector<std::string> faults;
  for (const FaultLog::Entry& entry : log.entries())
    faults.push_back(entry.where + ": " + entry.what + " x" + std::to_string(entry.count));
  EXPECT_EQ(faults,
            (std::vector<std::string>{"POLINE.CSV: is a folder, so it cannot be written x1",
                                      "POLINE.CSV: record lost, as the file could not be written x1"}));
  EXPECT_TRUE(std::filesystem::is_directory(job.dir.path() + "/POLINE.CSV"));
  EXPECT_EQ(std::tuple(job.file("POFILE.DAT"), job.fileLines("POADDR.CSV").size(), job.bodyLines().size(),
                       job.bags().size()),
            std::tuple("11111,1\r\n", 2u, 2u, 1u));
}

}  // namespace
}  // namespace ms::testing
