// The sample job must be a job the program can run: consistent reference
// data, a tariff row for every service key, a findable posting postcode and
// work records coded the way the coding program codes them.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "sample_database.h"
#include "sample_network.h"
#include "store/database.h"
#include "store/recordset.h"
#include "support/fixture_db.h"

namespace ms::sample {
namespace {

using ms::testing::TempDir;

// Plain SQL reads of a generated file, the way the suite's programs read it.
class Reader {
 public:
  explicit Reader(const std::string& path) {
    if (sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK)
      throw std::runtime_error("cannot open " + path);
  }
  ~Reader() { sqlite3_close(db_); }

  std::vector<std::vector<std::string>> rows(const std::string& sql) {
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &st, nullptr) != SQLITE_OK)
      throw std::runtime_error(sql + ": " + sqlite3_errmsg(db_));
    std::vector<std::vector<std::string>> out;
    while (sqlite3_step(st) == SQLITE_ROW) {
      std::vector<std::string> row;
      for (int i = 0; i < sqlite3_column_count(st); ++i) {
        const unsigned char* text = sqlite3_column_text(st, i);
        row.push_back(text ? reinterpret_cast<const char*>(text) : "<null>");
      }
      out.push_back(row);
    }
    sqlite3_finalize(st);
    return out;
  }
  std::string one(const std::string& sql) {
    auto all = rows(sql);
    return all.empty() ? "<none>" : all[0][0];
  }
  long long count(const std::string& sql) { return std::stoll(one(sql)); }

 private:
  sqlite3* db_ = nullptr;
};

SampleSummary generate(const std::string& dir, long long records, std::uint64_t seed = 1,
                       bool missingLabels = false, bool chain = false, bool geog = false) {
  SampleOptions options;
  options.outDir = dir;
  options.records = records;
  options.seed = seed;
  options.missingLabels = missingLabels;
  options.chain = chain;
  options.geog = geog;
  return writeSampleJob(options);
}

class SampleJob : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new TempDir();
    summary_ = new SampleSummary(generate(dir_->path(), 5000, 7));
  }
  static void TearDownTestSuite() {
    delete summary_;
    delete dir_;
  }
  Reader reader() { return Reader(summary_->path); }
  static TempDir* dir_;
  static SampleSummary* summary_;
};
TempDir* SampleJob::dir_ = nullptr;
SampleSummary* SampleJob::summary_ = nullptr;

TEST_F(SampleJob, WorkRecordsAreCodedAsTheCodingProgramCodesThem) {
  Reader db = reader();
  auto records = db.rows("SELECT mscode, rscode, seq, pcflag, postcode, sflag FROM kvwork");
  ASSERT_EQ(records.size(), 5000u);
  std::map<int, long long> kinds;  // 5: postcode, 3: town, 1: not matched
  for (const auto& r : records) {
    const std::string &mscode = r[0], &rscode = r[1], &pcflag = r[3], &postcode = r[4];
    double seq = std::stod(r[2]);
    ASSERT_TRUE(pcflag == "F" || pcflag == "O") << pcflag;
    EXPECT_EQ(pcflag == "F", postcode.find(' ') != std::string::npos) << postcode;
    EXPECT_EQ(r[5], "N");
    if (mscode == "1") {
      EXPECT_EQ(rscode, "");
      EXPECT_EQ(seq, 1);
    } else if (mscode.size() == 5) {
      EXPECT_EQ(rscode, "");
      EXPECT_EQ(seq, std::stod(mscode));
    } else {
      ASSERT_EQ(mscode.size(), 3u) << mscode;
      EXPECT_EQ(rscode, mscode);
      EXPECT_EQ(seq, std::stod(mscode) * 1000);
    }
    ++kinds[static_cast<int>(mscode.size())];
  }
  EXPECT_EQ(kinds[5], summary_->postcodeMatched);
  EXPECT_EQ(kinds[3], summary_->townMatched);
  EXPECT_EQ(kinds[1], summary_->notMatched);
  // Mostly postcode matches, with town matches and unmatched ones present.
  EXPECT_GT(kinds[5], 5000 * 0.8);
  EXPECT_GT(kinds[3], 5000 * 0.03);
  EXPECT_GT(kinds[1], 5000 * 0.02);
}

TEST_F(SampleJob, SelectionSizesStraddleTheMinimum) {
  Reader db = reader();
  long long below = db.count(
      "SELECT count(*) FROM (SELECT count(*) c FROM kvwork WHERE length(mscode)=5 GROUP BY mscode HAVING c < "
      "100)");
  long long direct = db.count(
      "SELECT count(*) FROM (SELECT count(*) c FROM kvwork WHERE length(mscode)=5 GROUP BY mscode HAVING c "
      ">= 100)");
  EXPECT_GE(below, 10);
  EXPECT_GE(direct, 3);
  EXPECT_EQ(below, summary_->selectionsBelowMinimum);
}

TEST_F(SampleJob, EveryCodeInUseHasItsReferenceRows) {
  Reader db = reader();
  // A label for every code the line report groups by (all but "1").
  EXPECT_EQ(db.count("SELECT count(DISTINCT mscode) FROM kvwork WHERE mscode <> '1' AND mscode NOT IN "
                     "(SELECT code FROM label)"),
            0);
  // The residue of every code has a label too, since small selections are
  // recoded to it.
  EXPECT_EQ(db.count("SELECT count(*) FROM kvwork WHERE mscode <> '1' AND substr(mscode,1,3) NOT IN "
                     "(SELECT code FROM label)"),
            0);
  // The sector of every full postcode leads to the record's residue code.
  EXPECT_EQ(db.count("SELECT count(*) FROM kvwork k LEFT JOIN pcode p ON p.code = substr(k.postcode, 1, "
                     "instr(k.postcode, ' ') + 1) WHERE length(k.mscode)=5 AND k.pcflag='F' AND "
                     "(p.mdsel IS NULL OR p.mdsel <> substr(k.mscode,1,3))"),
            0);
  // Some residue codes in use have no region (they rank 99), most have one.
  long long without = db.count(
      "SELECT count(DISTINCT substr(mscode,1,3)) FROM kvwork WHERE mscode <> '1' AND "
      "substr(mscode,1,3) NOT IN (SELECT code FROM region)");
  EXPECT_GE(without, 1);
  EXPECT_LE(without, 5);
  EXPECT_EQ(db.count("SELECT count(*) FROM region WHERE mdreg < 1 OR mdreg > 10 OR mdreg <> round(mdreg)"),
            0);
}

TEST_F(SampleJob, EveryPostingSelectionRanksEveryRegionOnce) {
  Reader db = reader();
  EXPECT_EQ(
      db.count("SELECT count(DISTINCT mdsel) FROM pcode WHERE mdsel NOT IN (SELECT code FROM sequence)"), 0);
  auto ranks = db.rows("SELECT code, mdsorts FROM sequence");
  ASSERT_EQ(ranks.size(), 42u);
  for (const auto& row : ranks) {
    ASSERT_EQ(row[1].size(), 20u) << row[0];
    std::set<std::string> seen;
    for (std::size_t i = 0; i < 20; i += 2) seen.insert(row[1].substr(i, 2));
    std::set<std::string> all = {"01", "02", "03", "04", "05", "06", "07", "08", "09", "10"};
    EXPECT_EQ(seen, all) << row[0] << " " << row[1];
  }
  // The posting selection's own region ranks first.
  for (const Area& area : SampleNetwork::uk().areas())
    EXPECT_EQ(SampleNetwork::uk().rankString(area).substr(2 * (area.region - 1), 2), "01") << area.town;
}

TEST_F(SampleJob, JobParametersDescribeALetterJobThatCanBeBagged) {
  Reader db = reader();
  auto rows = db.rows(
      "SELECT RunAlone, RunCodes, RunReports, RunLabels, BagMax, Weight, BundleMax, selection, "
      "typeof(selection), "
      "service, Mailsort120, ResOnly, Geog, Format, postcode, BagLab, BundleLab, \"Company Name\", JobRef, "
      "printer, RoyalMail FROM parmcode");
  ASSERT_EQ(rows.size(), 1u);
  const auto& p = rows[0];
  EXPECT_EQ(std::vector<std::string>(p.begin(), p.begin() + 4),
            (std::vector<std::string>{"N", "Y", "Y", "N"}));
  EXPECT_EQ(static_cast<int>(std::stod(p[4]) / std::stod(p[5])), 183);
  EXPECT_EQ(std::stod(p[6]), 25);
  EXPECT_EQ(p[7], "100");
  EXPECT_EQ(p[8], "text");
  EXPECT_EQ(p[9], "M2");
  EXPECT_EQ(p[10] + p[11] + p[12], "NNN");
  EXPECT_EQ(p[13], "LE");
  EXPECT_EQ(p[15] + p[16], "YY");
  EXPECT_FALSE(p[17].empty());
  EXPECT_FALSE(p[18].empty());
  EXPECT_EQ(p[19] + p[20], "NY");
  // The posting postcode's sector is in pcode, so its region ranks load.
  const std::string& postcode = p[14];
  std::string sector = postcode.substr(0, postcode.find(' ') + 2);
  EXPECT_NE(db.one("SELECT s.mdsorts FROM pcode p JOIN sequence s ON s.code = p.mdsel WHERE p.code = '" +
                   sector + "'"),
            "<none>");
}

TEST_F(SampleJob, TariffsHaveAPlausibleRowForEveryServiceKey) {
  Reader db = reader();
  auto keys = db.rows("SELECT code FROM price ORDER BY code");
  std::vector<std::string> found;
  for (const auto& k : keys) found.push_back(k[0]);
  EXPECT_EQ(found,
            (std::vector<std::string>{"M1", "M1 120", "M2", "M2 120", "M3", "M3 120", "P1", "P1 120"}));
  // No field left Null in either tariff.
  for (const char* table : {"price", "poprice"}) {
    for (const auto& column : db.rows(std::string("SELECT name FROM pragma_table_info('") + table + "')"))
      EXPECT_EQ(
          db.count(std::string("SELECT count(*) FROM ") + table + " WHERE \"" + column[0] + "\" IS NULL"), 0)
          << table << "." << column[0];
  }
  EXPECT_EQ(db.count("SELECT count(*) FROM poprice"), 1);
  EXPECT_EQ(db.count("SELECT count(*) FROM price WHERE LeBase1 < 15 OR LeBase1 > 35"), 0);
  EXPECT_EQ(db.count("SELECT count(*) FROM price WHERE NOT (LeQty1 < LeQty2 AND LeQty2 < LeQty3 AND "
                     "LeQty3 < LeQty4 AND LeQty4 < LeQty5)"),
            0);
  EXPECT_EQ(db.count("SELECT count(*) FROM poprice WHERE NOT (PKWgt1 < PKWgt2 AND PKWgt8 < PKWgt9 AND "
                     "LLWgt1 < LLWgt2 AND LLWgt2 < LLWgt3 AND LeW1Snd < LeW1Fst)"),
            0);
}

TEST_F(SampleJob, TheStoreFindsReferenceRowsByTheirFixedWidthKeys) {
  auto mdb = store::Database::open(summary_->path, store::OpenMode::Shared);
  auto price = mdb->openTable("price");
  price->setIndex("PrimaryKey");
  price->seek(Value("M2 120"));
  ASSERT_FALSE(price->noMatch());
  price->seek(Value("M3    "));
  ASSERT_FALSE(price->noMatch());
  EXPECT_EQ(price->field("LeBase1").number(), 19.2);
  auto region = mdb->openTable("region");
  region->setIndex("PrimaryKey");
  const Area* leicester = nullptr;
  for (const Area& area : SampleNetwork::uk().areas())
    if (area.letters == "LE") leicester = &area;
  ASSERT_NE(leicester, nullptr);
  region->seek(Value(leicester->residue));
  ASSERT_FALSE(region->noMatch());
  EXPECT_EQ(region->field("mdreg").number(), leicester->region);
  auto work = mdb->openTable("kvwork");
  work->setIndex("Key1");
  EXPECT_EQ(work->recordCount(), 5000);
  mdb->close();
}

TEST(SampleJobFile, TheSameSeedGivesTheSameFileAndAnotherSeedAnother) {
  TempDir a, b, c;
  generate(a.path(), 800, 3);
  generate(b.path(), 800, 3);
  generate(c.path(), 800, 4);
  auto content = [](const TempDir& dir) {
    return Reader(dir.file("mailsort.mdb")).rows("SELECT * FROM kvwork ORDER BY rowid");
  };
  EXPECT_EQ(content(a), content(b));
  EXPECT_NE(content(a), content(c));
}

TEST(SampleJobFile, ReplacesAnEarlierJobAndItsLeftovers) {
  TempDir dir;
  generate(dir.path(), 300, 1);
  std::ofstream(dir.file("mailsort.mdb-journal")) << "stale";
  SampleSummary second = generate(dir.path(), 40, 2, false, true, true);
  EXPECT_FALSE(std::filesystem::exists(dir.file("mailsort.mdb-journal")));
  Reader db(second.path);
  EXPECT_EQ(db.count("SELECT count(*) FROM kvwork"), 40);
  EXPECT_EQ(db.count("SELECT count(*) FROM parmcode"), 1);
  EXPECT_EQ(db.one("SELECT RunAlone || service || Geog FROM parmcode"), "YM1Y");
  EXPECT_EQ(db.one("PRAGMA journal_mode"), "delete");
  // A Regional Sequencing job ranks every residue code: none sorts after
  // the not-matched records.
  EXPECT_EQ(db.count("SELECT count(*) FROM region"), 42);
}

TEST(SampleJobFile, MissingLabelsLeavesOutSomeSelectionsButNoResidueCode) {
  TempDir dir;
  Reader db(generate(dir.path(), 0, 1, true).path);
  long long selections = db.count("SELECT count(*) FROM label WHERE length(code) = 5");
  EXPECT_LT(selections, SampleNetwork::uk().selectionCount());
  EXPECT_GT(selections, SampleNetwork::uk().selectionCount() - 15);
  EXPECT_EQ(db.count("SELECT count(*) FROM label WHERE length(code) = 3"), 42);
  EXPECT_EQ(db.count("SELECT count(*) FROM kvwork"), 0);
}

TEST(SampleJobFile, AFolderThatCannotBeMadeIsReportedWithItsName) {
  TempDir dir;
  std::ofstream(dir.file("plain")) << "x";
  try {
    generate(dir.file("plain") + "/job", 10);
    FAIL() << "no error";
  } catch (const std::runtime_error& error) {
    EXPECT_NE(std::string(error.what()).find("plain/job"), std::string::npos) << error.what();
  }
}

}  // namespace
}  // namespace ms::sample
