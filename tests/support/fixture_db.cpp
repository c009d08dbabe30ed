#include "support/fixture_db.h"

#include <sqlite3.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "schema_sql.h"
#include "store/sqlite_handle.h"

namespace ms::testing {

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "mailsort-test-XXXXXX").string();
  if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

InFolder::InFolder(const std::string& dir) : before_(std::filesystem::current_path().string()) {
  std::filesystem::current_path(dir);
}

InFolder::~InFolder() {
  std::error_code ignored;
  std::filesystem::current_path(before_, ignored);
}

Row withChanges(Row row, const Row& changes) {
  for (const auto& [name, value] : changes) {
    bool replaced = false;
    for (auto& [n, v] : row)
      if (n == name) v = value, replaced = true;
    if (!replaced) row.emplace_back(name, value);
  }
  return row;
}

namespace {

// A statement that has run to its end, or the engine's message.
void check(sqlite3* db, int rc, const std::string& what) {
  if (rc != SQLITE_DONE && rc != SQLITE_ROW) throw std::runtime_error(what + ": " + sqlite3_errmsg(db));
}

}  // namespace

FixtureDb::FixtureDb(const std::string& dir, bool withSchema) : path_(dir + "/mailsort.mdb") {
  std::filesystem::remove(path_);
  db_ = store::openHandle(path_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
  // Like the suite's other programs, wait while the store commits.
  sqlite3_busy_timeout(db_.get(), 5000);
  if (withSchema) exec(kSchemaSql);
}

FixtureDb::~FixtureDb() = default;

void FixtureDb::exec(const std::string& sql) { store::executeSql(db_.get(), sql); }

void FixtureDb::insert(const std::string& table, const Row& row) {
  std::string cols, marks;
  for (const auto& [name, value] : row) {
    cols += (cols.empty() ? "\"" : ",\"") + name + "\"";
    marks += marks.empty() ? "?" : ",?";
  }
  std::string sql = "INSERT INTO \"" + table + "\" (" + cols + ") VALUES (" + marks + ")";
  auto statement = store::prepareHandle(db_.get(), sql);
  int i = 1;
  for (const auto& [name, value] : row) store::bindValue(statement.get(), i++, value);
  check(db_.get(), sqlite3_step(statement.get()), sql);
}

void FixtureDb::insertParameters(const Row& overrides) {
  Row plainLetterJob = {
      {"RunAlone", "N"},   {"RunCodes", "N"},        {"RunReports", "N"}, {"RunLabels", "N"},
      {"BagMax", 10000.0}, {"Weight", 95.0},         {"BundleMax", 25.0}, {"selection", "3"},
      {"service", "M2"},   {"Mailsort120", "N"},     {"ResOnly", "N"},    {"Geog", "N"},
      {"Format", "LE"},    {"postcode", "AB12 3CD"}, {"BagLab", "Y"},     {"BundleLab", "Y"},
      {"JobRef", "J1001"}, {"printer", "N"},         {"RoyalMail", "N"}};
  plainLetterJob.emplace_back("Company Name", "Acme Mailing Ltd");
  insert("parmcode", withChanges(plainLetterJob, overrides));
}

std::vector<RowMap> FixtureDb::query(const std::string& sql) {
  auto statement = store::prepareHandle(db_.get(), sql);
  sqlite3_stmt* st = statement.get();
  std::vector<RowMap> rows;
  int rc;
  while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
    RowMap row;
    for (int i = 0; i < sqlite3_column_count(st); ++i)
      row[sqlite3_column_name(st, i)] = store::columnValue(st, i);
    rows.push_back(std::move(row));
  }
  check(db_.get(), rc, sql);
  return rows;
}

Value FixtureDb::scalar(const std::string& sql) {
  auto statement = store::prepareHandle(db_.get(), sql);
  return sqlite3_step(statement.get()) == SQLITE_ROW ? store::columnValue(statement.get(), 0) : Value();
}

std::string sqlRows(const std::string& file, const std::string& statement) {
  sqlite3* db = nullptr;
  std::string rows;
  auto add = [](void* to, int n, char** values, char**) {
    auto& text = *static_cast<std::string*>(to);
    for (int i = 0; i < n; ++i)
      text += (i ? "|" : text.empty() ? "" : "\n") + std::string(values[i] ? values[i] : "");
    return 0;
  };
  if (sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK ||
      sqlite3_exec(db, statement.c_str(), add, &rows, nullptr) != SQLITE_OK)
    rows.clear();
  sqlite3_close(db);
  return rows;
}

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

std::vector<std::string> quotedFields(std::string record) {
  if (record.ends_with("\r\n")) record.resize(record.size() - 2);
  if (record.size() < 2 || record.front() != '"' || record.back() != '"')
    return {"not quoted fields: " + record};
  std::vector<std::string> fields;
  for (std::size_t end; (end = record.find("\",\"")) != std::string::npos; record.erase(0, end + 2))
    fields.push_back(record.substr(1, end - 1));
  fields.push_back(record.substr(1, record.size() - 2));
  return fields;
}

std::vector<std::string> splitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::string line;
  std::istringstream in(text);
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

}  // namespace ms::testing
