// The sample job must be a job the program can run: work records coded the
// way the coding program codes them, consistent reference data, a tariff
// row for every service key and a findable posting postcode.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <map>
#include <string>
#include <vector>

#include "sample_database.h"
#include "support/fixture_db.h"

namespace ms::sample {
namespace {

using ms::testing::TempDir;
using Rows = std::vector<std::vector<std::string>>;

// All rows of a query on a generated file, as text ("<null>" for Null).
Rows rows(const std::string& path, const std::string& sql) {
  sqlite3* db = nullptr;
  sqlite3_stmt* st = nullptr;
  Rows out;
  sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
  if (sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr) != SQLITE_OK) ADD_FAILURE() << sqlite3_errmsg(db);
  while (st && sqlite3_step(st) == SQLITE_ROW) {
    out.emplace_back();
    for (int i = 0; i < sqlite3_column_count(st); ++i) {
      const unsigned char* text = sqlite3_column_text(st, i);
      out.back().push_back(text ? reinterpret_cast<const char*>(text) : "<null>");
    }
  }
  sqlite3_finalize(st);
  sqlite3_close(db);
  return out;
}

SampleSummary generate(const std::string& dir, long long records, std::uint64_t seed) {
  SampleOptions options;
  options.outDir = dir;
  options.records = records;
  options.seed = seed;
  return writeSampleJob(options);
}

class SampleJob : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { summary_ = new SampleSummary(generate(dir_.path(), 5000, 7)); }
  static void TearDownTestSuite() { delete summary_; }
  std::string one(const std::string& sql) { return rows(summary_->path, sql).at(0).at(0); }
  static inline TempDir dir_;
  static inline SampleSummary* summary_ = nullptr;
};

TEST_F(SampleJob, WorkRecordsAreCodedAsTheCodingProgramCodesThem) {
  auto records = rows(summary_->path, "SELECT mscode, rscode, seq, pcflag, postcode, sflag FROM kvwork");
  ASSERT_EQ(records.size(), 5000u);
  std::map<std::size_t, long long> kinds;  // by code length: 5 postcode, 3 town, 1 not matched
  for (const auto& r : records) {
    SCOPED_TRACE(::testing::PrintToString(r));
    const std::string& mscode = r[0];
    ASSERT_TRUE(r[3] == "F" || r[3] == "O");
    EXPECT_EQ(r[3] == "F", r[4].find(' ') != std::string::npos);  // a full postcode has its space
    EXPECT_EQ(r[5], "N");
    ASSERT_TRUE(mscode == "1" || mscode.size() == 5 || mscode.size() == 3);
    EXPECT_EQ(r[1], mscode.size() == 3 ? mscode : "");
    EXPECT_EQ(std::stod(r[2]), mscode.size() == 3 ? std::stod(mscode) * 1000 : std::stod(mscode));
    ++kinds[mscode.size()];
  }
  EXPECT_EQ(kinds[5], summary_->postcodeMatched);
  EXPECT_EQ(kinds[3], summary_->townMatched);
  EXPECT_EQ(kinds[1], summary_->notMatched);
  EXPECT_GT(kinds[5], 5000 * 0.8);  // mostly postcode matches, with the other kinds present
  EXPECT_GT(kinds[3], 5000 * 0.03);
  EXPECT_GT(kinds[1], 5000 * 0.02);
}

TEST_F(SampleJob, ReferenceTablesServeEveryCodeServiceAndThePostingPostcode) {
  // A label for every code in use but "1" and for its residue code (small
  // selections are recoded to it); each full postcode's sector leads to the
  // record's residue code.
  EXPECT_EQ(one("SELECT count(*) FROM kvwork WHERE mscode <> '1' AND (mscode NOT IN (SELECT code FROM label) "
                "OR substr(mscode,1,3) NOT IN (SELECT code FROM label))"),
            "0");
  EXPECT_EQ(one("SELECT count(*) FROM kvwork k LEFT JOIN pcode p ON p.code = substr(k.postcode, 1, "
                "instr(k.postcode, ' ') + 1) WHERE length(k.mscode)=5 AND k.pcflag='F' AND "
                "(p.mdsel IS NULL OR p.mdsel <> substr(k.mscode,1,3))"),
            "0");
  EXPECT_EQ(rows(summary_->path, "SELECT code FROM price ORDER BY code"),
            (Rows{{"M1"}, {"M1 120"}, {"M2"}, {"M2 120"}, {"M3"}, {"M3 120"}, {"P1"}, {"P1 120"}}));
  EXPECT_EQ(one("SELECT count(*) FROM poprice"), "1");
  // The posting postcode's sector is in pcode, so its region ranks load.
  EXPECT_EQ(
      one("SELECT count(*) FROM parmcode m JOIN pcode p ON p.code = substr(m.postcode, 1, "
          "instr(m.postcode, ' ') + 1) JOIN sequence s ON s.code = p.mdsel WHERE length(s.mdsorts) = 20"),
      "1");
}

TEST(SampleJobFile, TheSameSeedGivesTheSameFileAndAnotherSeedAnother) {
  TempDir a, b, c;
  auto content = [](const TempDir& dir, std::uint64_t seed) {
    return rows(generate(dir.path(), 800, seed).path, "SELECT * FROM kvwork ORDER BY rowid");
  };
  auto first = content(a, 3);
  EXPECT_EQ(first, content(b, 3));
  EXPECT_NE(first, content(c, 4));
}

}  // namespace
}  // namespace ms::sample
