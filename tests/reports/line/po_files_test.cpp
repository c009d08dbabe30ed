// The Post Office files: record syntax, code page, Nulls, cutting, the
// POFILE.DAT code, and files that cannot be created.
#include "reports/line/po_files.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "line_run.h"
#include "reports/common/record_file.h"
#include "store/fault.h"

namespace ms::testing {
namespace {

TEST(RecordFile, CodePageConversion) {
  EXPECT_EQ(toWindows1252("plain ASCII, 123"), "plain ASCII, 123");
  EXPECT_EQ(toWindows1252("caf\xC3\xA9 \xC2\xA3"
                          "5"),
            "caf\xE9 \xA3"
            "5");                                                                      // é £
  EXPECT_EQ(toWindows1252("\xE2\x82\xAC \xE2\x80\x9C\xE2\x80\x9D"), "\x80 \x93\x94");  // € “ ”
  EXPECT_EQ(toWindows1252("\xC5\x93\xC5\xB8"), "\x9C\x9F");                            // œ Ÿ
  EXPECT_EQ(toWindows1252("\xE6\xBC\xA2 \xF0\x9F\x98\x80"), "? ?");                    // CJK, emoji
  EXPECT_EQ(toWindows1252("\xC2\x81"), "?");                                           // a C1 control
  // Bytes that are not UTF-8 are not passed through as they are.
  EXPECT_EQ(toWindows1252("a\xFF"
                          "b\xC3"),
            "a?b?");
}

TEST(RecordFile, QuotesWithoutDoublingInnerQuotes) {
  EXPECT_EQ(quoted(""), "\"\"");
  EXPECT_EQ(quoted("The \"Old\" Mill"), "\"The \"Old\" Mill\"");
  EXPECT_EQ(quoted(" padded  "), "\" padded  \"");
}

TEST(RecordFile, WritesRecordsWithCrLfAndReplacesTheFile) {
  TempDir dir;
  const std::string path = dir.file("OUT.CSV");
  {
    RecordFile file;
    ASSERT_TRUE(file.open(path));
    file.writeRecord({"\"old\""});
  }
  RecordFile file;
  ASSERT_TRUE(file.open(path));
  file.writeRecord({"\"a\"", "12", "\"\""});
  file.writeRecord({"\"\xC3\xA9\""});
  file.close();
  EXPECT_EQ(readFile(path), "\"a\",12,\"\"\r\n\"\xE9\"\r\n");
  file.close();  // harmless twice
}

TEST(RecordFile, FileThatCannotBeCreatedSkipsItsWrites) {
  TempDir dir;
  RecordFile file;
  EXPECT_FALSE(file.open(dir.file("missing/OUT.CSV")));
  EXPECT_FALSE(file.isOpen());
  file.writeRecord({"\"x\""});
  file.close();
}

TEST(PoFileCode, NumberAtTheStartRoundedHalfToEven) {
  EXPECT_EQ(poFileCode("12345"), 12345);
  EXPECT_EQ(poFileCode(" 123"), 123);
  EXPECT_EQ(poFileCode("12A45"), 12);
  EXPECT_EQ(poFileCode("ABC"), 0);
  EXPECT_EQ(poFileCode(""), 0);
  EXPECT_EQ(poFileCode("12.5"), 12);
  EXPECT_EQ(poFileCode("13.5"), 14);
  EXPECT_EQ(poFileCode("2147483647"), 2147483647);
  EXPECT_EQ(poFileCode("-2147483648"), -2147483648LL);
  EXPECT_THROW(poFileCode("2147483648"), RunError);
  EXPECT_THROW(poFileCode("99999999999"), RunError);
}

TEST(PoFiles, AddressesKeepTheirTextNullsQuotesAndCodePage) {
  LineRun job;
  job.addLabel("12345", "LONDON");
  job.addRecords({.mscode = "12345", .seq = 1, .name = "The \"Old\" Mill  ", .address3 = Value()});
  job.addRecords({.mscode = "12345", .seq = 2, .name = Value(), .address3 = "Flat 2"});
  job.addRecords({.mscode = "12345", .seq = 3, .name = "Ren\xC3\xA9\xE2\x82\xAC\xE6\xBC\xA2"});
  job.run();
  auto lines = job.fileLines("POADDR.CSV");
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0],
            "\"The \"Old\" Mill  \",\"1 High Street\",\"Village\",\"\",\"\",\"TOWN\",\"County\",\"AB1 2CD\","
            "\"\",\"\",\"12345\"");
  EXPECT_EQ(lines[1],
            "\"\",\"1 High Street\",\"Village\",\"Flat 2\",\"\",\"TOWN\",\"County\",\"AB1 "
            "2CD\",\"\",\"\",\"12345\"");
  EXPECT_EQ(lines[2].substr(0, 8), "\"Ren\xE9\x80?\"");
}

TEST(PoFiles, LineListCutsCodeAndDescription) {
  LineRun job;
  const std::string longLabel = "A DESCRIPTION THAT RUNS ON WELL PAST FIFTY        MORE TEXT";
  job.addLabel("1234567", longLabel);
  job.addLabel("987", "  PADDED  ");
  job.addRecords({.mscode = "1234567", .seq = 1}, 2);
  job.addRecords({.mscode = "987", .seq = 2});
  job.run();
  auto lines = job.fileLines("POLINE.CSV");
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], "\"12345\",\"A DESCRIPTION THAT RUNS ON WELL PAST FIFTY\",\"2\",\"2\",\"1\",\"1\"");
  EXPECT_EQ(lines[1], "\"987\",\"PADDED\",\"1\",\"3\",\"1\",\"2\"");
  // The code in POFILE.DAT is the whole code read as a number.
  EXPECT_EQ(job.file("POFILE.DAT"), "1234567,1\r\n987,1\r\n");
  // The printed line keeps the first five characters of the code.
  EXPECT_EQ(job.bodyLines()[0].substr(0, 11 + 50), "12345      " + longLabel.substr(0, 50));
}

TEST(PoFiles, NullDescriptionKeepsThePreviousText) {
  LineRun job;
  job.addLabel("11111", "FIRST");
  job.addLabel("22222", Value());
  job.addRecords({.mscode = "11111", .seq = 1});
  job.addRecords({.mscode = "22222", .seq = 2});
  job.run();
  auto lines = job.fileLines("POLINE.CSV");
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[1], "\"22222\",\"FIRST\",\"1\",\"2\",\"1\",\"2\"");
}

TEST(PoFiles, AFileThatCannotBeCreatedIsSkipped) {
  LineRun job;
  job.addLabel("11111", "FIRST");
  job.addRecords({.mscode = "11111", .seq = 1}, 2);
  std::filesystem::create_directory(job.folder() + "/POLINE.CSV");
  job.run();
  EXPECT_EQ(job.file("POFILE.DAT"), "11111,1\r\n");
  EXPECT_EQ(job.fileLines("POADDR.CSV").size(), 2u);
  EXPECT_EQ(job.bodyLines().size(), 2u);
  EXPECT_EQ(job.bags().size(), 1u);
}

}  // namespace
}  // namespace ms::testing
