#include "sample_database.h"

#include <cmath>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <unordered_map>
#include <utility>
#include <vector>

#include "sample_addresses.h"
#include "sample_network.h"
#include "sample_sink.h"
#include "store/database.h"
#include "store/pg_handle.h"

namespace ms::sample {

namespace {

constexpr int kMinimumSelection = 100;

using Field = std::pair<std::string, double>;

void insertFields(JobSink& db, const std::string& table, const std::string* key,
                  const std::vector<Field>& fields) {
  std::vector<std::string> columns;
  if (key) columns.push_back("code");
  for (const auto& field : fields) columns.push_back(field.first);
  TableRows& insert = db.rows(table, columns);
  if (key) insert.text(*key);
  for (const auto& field : fields) insert.number(field.second);
  insert.row();
}

double tenths(double value) { return std::round(value * 10) / 10; }

// Standard postal prices in pence, weights in grams.
std::vector<Field> standardPrices() {
  std::vector<Field> fields = {{"LeW1Fst", 32},  {"LeW1Snd", 23}, {"LLWgt1", 100}, {"LLWgt2", 250},
                               {"LLWgt3", 500},  {"LLW1Fst", 52}, {"LLW2Fst", 80}, {"LLW3Fst", 112},
                               {"LLW4Fst", 155}, {"LLW1Snd", 42}, {"LLW2Snd", 66}, {"LLW3Snd", 94},
                               {"LLW4Snd", 130}};
  const double weights[] = {100, 250, 500, 750, 1000, 1250, 1500, 1750, 2000};
  const double first[] = {110, 140, 185, 230, 275, 335, 400, 465, 530};
  const double second[] = {90, 115, 150, 185, 220, 270, 320, 370, 420};
  for (int i = 0; i < 9; ++i) fields.push_back({"PKWgt" + std::to_string(i + 1), weights[i]});
  for (int i = 0; i < 9; ++i) fields.push_back({"PKW" + std::to_string(i + 1) + "Fst", first[i]});
  for (int i = 0; i < 9; ++i) fields.push_back({"PKW" + std::to_string(i + 1) + "Snd", second[i]});
  return fields;
}

// The Mailsort tariff of one service: base prices scaled from the Mailsort 1
// letter price, discounts in percent, volume bands in items.
std::vector<Field> tariff(double scale) {
  std::vector<Field> fields = {
      {"LeBase1", tenths(26.6 * scale)},
      {"LLWgt1", 100},
      {"LLWgt2", 250},
      {"LLBase1", tenths(38.4 * scale)},
      {"LLBase2", tenths(56.2 * scale)},
      {"LLExt1", 0.11},
      {"A3Wgt1", 250},
      {"A3Wgt2", 500},
      {"A3Base1", tenths(72.5 * scale)},
      {"A3Base2", tenths(104 * scale)},
      {"A3Ext1", 0.14},
      {"PKWgt1", 250},
      {"PKWgt2", 500},
      {"PKWgt3", 1000},
      {"PKBase1", tenths(98 * scale)},
      {"PKBase2", tenths(131 * scale)},
      {"PKExt1", 0.19},
      {"PKExt2", 0.16},
      {"PkBase3", tenths(226 * scale)},
      {"LeDPtg1", 4.0},
      {"LeRPtg1", 1.5},
      {"LLDPtg1", 3.5},
      {"LLRPtg1", 1.0},
      {"A3DPtg1", 3.0},
      {"A3RPtg1", 1.0},
      {"PKDPtg1", 2.5},
      {"PKRPtg1", 0.5},
  };
  const double letterBands[] = {5000, 25000, 100000, 500000, 2000000};
  const double packetBands[] = {2000, 10000, 50000, 250000, 1000000};
  const double additions[] = {0, 0.5, 1.0, 1.5, 2.0};
  for (const char* format : {"Le", "LL", "A3", "PK"}) {
    const double* bands = (format[0] == 'L') ? letterBands : packetBands;
    for (int n = 1; n <= 5; ++n)
      fields.push_back({std::string(format) + "Qty" + std::to_string(n), bands[n - 1]});
    for (int n = 1; n <= 5; ++n)
      fields.push_back({std::string(format) + "Q" + std::to_string(n) + "VRD1", additions[n - 1]});
  }
  fields.insert(fields.end(), {{"Qty1", 10000},
                               {"Qty2", 50000},
                               {"LeQ1DPtg1", 1.0},
                               {"LeQ2DPtg1", 1.5},
                               {"LeQ3DPtg1", 2.0},
                               {"Franking Surcharge", 1.5}});
  return fields;
}

// With Regional Sequencing every residue code gets its region: a code that
// ranks 99 would sort after the not-matched records (seq 99000001) in "Key2"
// order, and the line report would count its addresses as Letter Post.
void writeReference(JobSink& db, const SampleNetwork& network, bool missingLabels, bool everyRegion) {
  TableRows& region = db.rows("region", {"code", "mdreg"});
  TableRows& pcode = db.rows("pcode", {"code", "mdsel"});
  TableRows& sequence = db.rows("sequence", {"code", "mdsorts"});
  TableRows& label = db.rows("label", {"code", "mdlab"});
  int selectionNumber = 0;
  for (const Area& area : network.areas()) {
    if (area.hasRegion || everyRegion) region.text(area.residue).number(area.region).row();
    sequence.text(area.residue).text(network.rankString(area)).row();
    label.text(area.residue).text(SampleNetwork::residueLabel(area)).row();
    for (const District& district : area.districts) {
      pcode.text(district.outward).text(area.residue).row();
      for (char sector : district.sectors)
        pcode.text(district.outward + " " + sector).text(area.residue).row();
      ++selectionNumber;
      if (missingLabels && selectionNumber % 40 == 0) continue;
      label.text(district.selection).text(SampleNetwork::selectionLabel(area, district)).row();
    }
  }
}

void writeTariffs(JobSink& db) {
  insertFields(db, "poprice", nullptr, standardPrices());
  const std::pair<const char*, double> services[] = {{"M1", 1.0}, {"M2", 0.78}, {"M3", 0.72}, {"P1", 0.75}};
  for (const auto& [service, scale] : services) {
    std::string key = service;
    insertFields(db, "price", &key, tariff(scale));
    key += " 120";
    insertFields(db, "price", &key, tariff(scale));
  }
}

void writeParameters(JobSink& db, const SampleNetwork& network, const SampleOptions& options) {
  TableRows& parameters = db.rows(
      "parmcode", {"RunAlone",  "RunCodes",  "RunReports",   "RunLabels", "BagMax",  "Weight",   "BundleMax",
                   "selection", "service",   "Mailsort120",  "ResOnly",   "Geog",    "Format",   "postcode",
                   "BagLab",    "BundleLab", "Company Name", "JobRef",    "printer", "RoyalMail"});
  parameters.text(options.chain ? "Y" : "N").text("Y").text("Y").text("N");
  parameters.number(11000).number(60).number(25).text(std::to_string(kMinimumSelection));
  parameters.text(options.geog ? "M1" : "M2").text("N").text("N").text(options.geog ? "Y" : "N");
  parameters.text("LE").text(network.postingPostcode()).text("Y").text("Y");
  parameters.text("Northgate Mailing Services Ltd").text("NMS/" + std::to_string(options.seed));
  parameters.text("N").text("Y").row();
}

void writeAddresses(JobSink& db, const SampleNetwork& network, const SampleOptions& options,
                    SampleSummary& summary) {
  TableRows& work =
      db.rows("kvwork", {"mscode", "rscode", "seq", "rgcode", "sflag", "pcflag", "Name", "Address1",
                         "Address2", "Address3", "Address4", "town", "county", "postcode"});
  std::unordered_map<std::string, long long> sizes;
  AddressGenerator generator(network, options.seed);
  for (long long i = 0; i < options.records; ++i) {
    AddressRecord a = generator.next();
    work.text(a.mscode).text(a.rscode).number(a.seq).text("").text("N").text(a.pcflag);
    work.text(a.name).text(a.address1).text(a.address2).text(a.address3).text(a.address4);
    work.text(a.town).text(a.county).text(a.postcode).row();
    switch (a.match) {
      case Match::Postcode:
        ++summary.postcodeMatched;
        ++sizes[a.mscode];
        break;
      case Match::Town:
        ++summary.townMatched;
        break;
      case Match::None:
        ++summary.notMatched;
        break;
    }
  }
  summary.records = options.records;
  summary.selectionsInUse = static_cast<int>(sizes.size());
  for (const auto& entry : sizes)
    if (entry.second < kMinimumSelection) ++summary.selectionsBelowMinimum;
}

}  // namespace

SampleSummary writeSampleJob(const SampleOptions& options) {
  namespace fs = std::filesystem;
  std::string database = options.database;
  if (database.empty()) database = (fs::path(options.outDir) / store::kMailsortDatabase).string();
  std::error_code missing;
  if (!options.force && !store::isPostgresUri(database) &&
      fs::symlink_status(database, missing).type() != fs::file_type::not_found)
    throw JobInTheWay(fs::absolute(database).string() + " is already there: --force replaces it");
  if (!options.outDir.empty()) {
    std::error_code error;
    fs::create_directories(options.outDir, error);
    if (error) throw std::runtime_error(options.outDir + ": cannot create the folder: " + error.message());
  }

  const bool postgres = store::isPostgresUri(database);
  const std::unique_ptr<JobSink> db = postgres ? postgresSink(database, options.force) : sqliteSink(database);
  const SampleNetwork& network = SampleNetwork::uk();
  SampleSummary summary;
  writeReference(*db, network, options.missingLabels, options.geog);
  writeTariffs(*db);
  writeParameters(*db, network, options);
  writeAddresses(*db, network, options, summary);
  db->commit();

  summary.path = db->name();
  summary.selections = network.selectionCount();
  summary.residueCodes = static_cast<int>(network.areas().size());
  summary.regions = network.regionCount();
  summary.minimum = kMinimumSelection;
  return summary;
}

std::string describe(const SampleSummary& s) {
  return "wrote " + s.path + ": " + std::to_string(s.records) + " addresses (" +
         std::to_string(s.postcodeMatched) + " matched by postcode, " + std::to_string(s.townMatched) +
         " by post town, " + std::to_string(s.notMatched) + " not matched) in " +
         std::to_string(s.selectionsInUse) + " of " + std::to_string(s.selections) + " selections (" +
         std::to_string(s.selectionsBelowMinimum) + " below the minimum of " + std::to_string(s.minimum) +
         "), " + std::to_string(s.residueCodes) + " residue codes, " + std::to_string(s.regions) + " regions";
}

}  // namespace ms::sample
