// The Post Office files: code page, quoting, Nulls, cutting and codes.
#include "reports/line/po_files.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "line_run.h"
#include "reports/common/record_file.h"
#include "store/fault.h"

namespace ms::testing {
namespace {

TEST(RecordFile, CodePageQuotingAndCrLf) {
  for (const auto& [utf8, cp1252] : std::vector<std::pair<std::string, std::string>>{
           {"plain ASCII, 123", "plain ASCII, 123"},
           {"caf\xC3\xA9 \xC2\xA3", "caf\xE9 \xA3"},
           {"\xE2\x82\xAC \xE2\x80\x9C\xE2\x80\x9D", "\x80 \x93\x94"},
           {"\xC5\x93\xC5\xB8", "\x9C\x9F"},
           {"\xE6\xBC\xA2 \xF0\x9F\x98\x80", "? ?"},  // CJK, emoji
           {"\xC2\x81", "?"},                         // a C1 control
           {"a\xFF"
            "b\xC3",
            "a?b?"}})  // not UTF-8
    EXPECT_EQ(toWindows1252(utf8), cp1252) << utf8;
  EXPECT_EQ((std::vector<std::string>{quoted(""), quoted("The \"Old\" Mill"), quoted(" padded  ")}),
            (std::vector<std::string>{"\"\"", "\"The \"Old\" Mill\"", "\" padded  \""}));
  TempDir dir;
  const std::string path = dir.file("OUT.CSV");
  RecordFile old;
  ASSERT_TRUE(old.open(path));
  old.writeRecord({"\"old\""});
  old.close();
  RecordFile file;  // replaces the file
  ASSERT_TRUE(file.open(path));
  file.writeRecord({"\"a\"", "12", "\"\""});
  file.writeRecord({"\"\xC3\xA9\""});
  file.close();
  file.close();
  EXPECT_EQ(readFile(path), "\"a\",12,\"\"\r\n\"\xE9\"\r\n");
}

TEST(PoFileCode, NumberAtTheStartRoundedHalfToEven) {
  for (const auto& [code, number] :
       std::vector<std::pair<std::string, long long>>{{"12345", 12345},
                                                      {" 123", 123},
                                                      {"12A45", 12},
                                                      {"ABC", 0},
                                                      {"", 0},
                                                      {"12.5", 12},
                                                      {"13.5", 14},
                                                      {"2147483647", 2147483647},
                                                      {"-2147483648", -2147483648LL}})
    EXPECT_EQ(poFileCode(code), number) << code;
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

TEST(PoFiles, AFileThatCannotBeCreatedIsSkipped) {
  LineRun job;
  job.add("11111", "FIRST", 2, {.seq = 1});
  std::filesystem::create_directory(job.folder() + "/POLINE.CSV");
  job.run();
  EXPECT_EQ(job.file("POFILE.DAT"), "11111,1\r\n");
  EXPECT_EQ(job.fileLines("POADDR.CSV").size(), 2u);
  EXPECT_EQ(job.bodyLines().size(), 2u);
  EXPECT_EQ(job.bags().size(), 1u);
}

}  // namespace
}  // namespace ms::testing
