// The Post Office files: code page, quoting, Nulls, cutting and codes.
#include "reports/line/po_files.h"

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <optional>

#include "line_run.h"
#include "reports/common/record_file.h"
#include "values/fault.h"
#include "values/fault_log.h"

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
    run([&] { file.open(path); });
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
  file.open(dir.file("OUT.CSV"));
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

// Each of the three files is a fault of its own: the others are written.
TEST(PoFiles, AFileThatCannotBeCreatedIsAFaultAndTheOthersAreWritten) {
  LineRun job;
  job.add("11111", "FIRST", 2, {.seq = 1});
  std::filesystem::create_directory(job.folder() + "/POLINE.CSV");
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
  EXPECT_TRUE(std::filesystem::is_directory(job.folder() + "/POLINE.CSV"));
  EXPECT_EQ(job.file("POFILE.DAT"), "11111,1\r\n");
  EXPECT_EQ(job.fileLines("POADDR.CSV").size(), 2u);
  EXPECT_EQ(job.bodyLines().size(), 2u);
  EXPECT_EQ(job.bags().size(), 1u);
}

}  // namespace
}  // namespace ms::testing
