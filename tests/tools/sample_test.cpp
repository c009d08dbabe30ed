// The sample generator's options, and the sample job: a job the program can
// run, with work records coded the way the coding program codes them,
// consistent reference data, a tariff row for every service key and a
// findable posting postcode.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sample_database.h"
#include "sample_options.h"
#include "support/fixture_db.h"

namespace ms::sample {
namespace {

TEST(SampleOptions, ReadsEveryOptionAndRefusesWhatItDoesNotUnderstand) {
  SampleOptions all;
  std::string error;
  ASSERT_TRUE(
      parseSampleArgs({"--records", "1000000", "--chain", "--seed", "18446744073709551615", "--geog",
                       "--missing-labels", "--out", "d", "--database", "postgresql://h/db", "--force"},
                      all, error))
      << error;
  EXPECT_EQ(std::tuple(all.outDir, all.database, all.records, all.seed),
            std::tuple("d", "postgresql://h/db", 1000000, 18446744073709551615ull));
  EXPECT_TRUE(all.chain && all.geog && all.missingLabels && all.force);
  // Each argument list split on its blanks: "--out " is "--out" and an empty argument.
  for (const std::string line :
       {"", "--records 10", "--out", "--out ", "--database ", "--out d --records -5", "--out d --records 12x",
        "--out d --records", "--out d --seed -1", "--out d --chian"}) {
    std::vector<std::string> args;
    for (std::size_t from = 0, to = 0; !line.empty() && to != std::string::npos; from = to + 1)
      args.push_back(line.substr(from, (to = line.find(' ', from)) - from));
    SCOPED_TRACE(::testing::PrintToString(args));
    SampleOptions options;
    error.clear();
    EXPECT_FALSE(parseSampleArgs(args, options, error));
    EXPECT_FALSE(error.empty());
  }
}

using namespace ms::testing;

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
  std::string one(const std::string& sql) { return sqlRows(summary_->path, sql); }
  static inline TempDir dir_;
  static inline SampleSummary* summary_ = nullptr;
};

// A full postcode has its space; a code of three is a town match, its own
// residue code; "1" is not matched. Mostly postcode matches, with the other
// kinds present.
TEST_F(SampleJob, WorkRecordsAreCodedAsTheCodingProgramCodesThem) {
  EXPECT_EQ(one("SELECT count(*) FROM kvwork WHERE sflag IS NOT 'N' OR pcflag NOT IN ('F', 'O') "
                "OR (pcflag = 'F') <> (instr(postcode, ' ') > 0) OR length(mscode) NOT IN (3, 5) AND mscode "
                "IS NOT '1' "
                "OR rscode IS NOT (CASE length(mscode) WHEN 3 THEN mscode ELSE '' END) "
                "OR seq IS NOT (CASE length(mscode) WHEN 3 THEN mscode * 1000 ELSE mscode * 1 END)"),
            "0");
  const SampleSummary& s = *summary_;
  EXPECT_EQ(
      one("SELECT count(*), sum(length(mscode) = 5), sum(length(mscode) = 3), sum(mscode = '1') FROM kvwork"),
      "5000|" + std::to_string(s.postcodeMatched) + "|" + std::to_string(s.townMatched) + "|" +
          std::to_string(s.notMatched));
  EXPECT_TRUE(s.postcodeMatched > 5000 * 0.8 && s.townMatched > 5000 * 0.03 && s.notMatched > 5000 * 0.02)
      << s.postcodeMatched << " " << s.townMatched << " " << s.notMatched;
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
  EXPECT_EQ(one("SELECT group_concat(code, ',') FROM (SELECT code FROM price ORDER BY code)"),
            "M1,M1 120,M2,M2 120,M3,M3 120,P1,P1 120");
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
    return sqlRows(generate(dir.path(), 800, seed).path, "SELECT * FROM kvwork ORDER BY rowid");
  };
  auto first = content(a, 3);
  ASSERT_FALSE(first.empty());
  EXPECT_EQ(first, content(b, 3));
  EXPECT_NE(first, content(c, 4));
}

// The same job on PostgreSQL as in the SQLite file: every table's rows, in
// their order, numbers to the last bit. A missing schema is made; a second
// run leaves the job alone, and replaces it with --force.
TEST(SampleJobFile, OnPostgresHoldsTheRowsOfTheSqliteFile) {
  if (const std::string missing = postgresMissing(); !missing.empty()) GTEST_SKIP() << missing;
  TempDir dir;
  FixtureDb sqlite(Engine::Sqlite, dir.path(), false), postgres(Engine::Postgres, dir.path(), false);
  postgres.exec("DROP SCHEMA " + postgres.scalar("SELECT current_schema()").text());
  for (const FixtureDb* db : {&sqlite, &postgres, &postgres, &postgres}) {
    static int run = 0;
    SampleOptions options;
    options.database = db->path(), options.records = 800, options.seed = 5;
    options.geog = options.missingLabels = true;
    options.force = ++run == 4;
    if (run == 3) {
      options.records = 1;
      EXPECT_THROW(writeSampleJob(options), JobInTheWay);
    } else {
      writeSampleJob(options);
    }
  }
  for (const std::string table :
       {"parmcode", "kvwork", "region", "pcode", "sequence", "label", "poprice", "price"}) {
    auto rows = postgres.query("SELECT * FROM " + table + " ORDER BY rowid");
    for (RowMap& row : rows) row.erase("rowid");
    EXPECT_TRUE(rows == sqlite.query("SELECT * FROM " + table + " ORDER BY rowid")) << table;
  }
}

}  // namespace
}  // namespace ms::sample
