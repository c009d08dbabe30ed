#include "support/fixture_db.h"

#include <sqlite3.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "schema_sql.h"

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

namespace {

void check(sqlite3* db, int rc, const std::string& what) {
  if (rc != SQLITE_OK && rc != SQLITE_DONE && rc != SQLITE_ROW)
    throw std::runtime_error(what + ": " + sqlite3_errmsg(db));
}

Value columnValue(sqlite3_stmt* st, int i) {
  switch (sqlite3_column_type(st, i)) {
    case SQLITE_NULL:
      return Value();
    case SQLITE_INTEGER:
    case SQLITE_FLOAT:
      return Value(sqlite3_column_double(st, i));
    default:
      return Value(std::string(reinterpret_cast<const char*>(sqlite3_column_text(st, i)),
                               static_cast<size_t>(sqlite3_column_bytes(st, i))));
  }
}

void bind(sqlite3_stmt* st, int i, const Value& v) {
  if (v.isNull())
    sqlite3_bind_null(st, i);
  else if (v.isNumber())
    sqlite3_bind_double(st, i, v.number());
  else {
    std::string t = v.text();
    sqlite3_bind_text(st, i, t.c_str(), static_cast<int>(t.size()), SQLITE_TRANSIENT);
  }
}

}  // namespace

FixtureDb::FixtureDb(const std::string& dir, bool withSchema) : path_(dir + "/mailsort.mdb") {
  std::filesystem::remove(path_);
  check(nullptr, sqlite3_open(path_.c_str(), &db_), "open");
  // Like the suite's other programs, wait while the store commits.
  sqlite3_busy_timeout(db_, 5000);
  if (withSchema) exec(kSchemaSql);
}

FixtureDb::~FixtureDb() { sqlite3_close(db_); }

void FixtureDb::exec(const std::string& sql) {
  char* err = nullptr;
  if (sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &err) != SQLITE_OK) {
    std::string message = err ? err : "?";
    sqlite3_free(err);
    throw std::runtime_error(sql + ": " + message);
  }
}

void FixtureDb::insert(const std::string& table, const Row& row) {
  std::string cols, marks;
  for (const auto& [name, value] : row) {
    cols += (cols.empty() ? "\"" : ",\"") + name + "\"";
    marks += marks.empty() ? "?" : ",?";
  }
  std::string sql = "INSERT INTO \"" + table + "\" (" + cols + ") VALUES (" + marks + ")";
  sqlite3_stmt* st = nullptr;
  check(db_, sqlite3_prepare_v2(db_, sql.c_str(), -1, &st, nullptr), sql);
  int i = 1;
  for (const auto& [name, value] : row) bind(st, i++, value);
  int rc = sqlite3_step(st);
  sqlite3_finalize(st);
  check(db_, rc, sql);
}

void FixtureDb::insertParameters(const Row& overrides) {
  Row row = {{"RunAlone", "N"},
             {"RunCodes", "N"},
             {"RunReports", "N"},
             {"RunLabels", "N"},
             {"BagMax", 10000.0},
             {"Weight", 95.0},
             {"BundleMax", 25.0},
             {"selection", "3"},
             {"service", "M2"},
             {"Mailsort120", "N"},
             {"ResOnly", "N"},
             {"Geog", "N"},
             {"Format", "LE"},
             {"postcode", "AB12 3CD"},
             {"BagLab", "Y"},
             {"BundleLab", "Y"},
             {"Company Name", "Acme Mailing Ltd"},
             {"JobRef", "J1001"},
             {"printer", "N"},
             {"RoyalMail", "N"}};
  for (const auto& [name, value] : overrides) {
    bool replaced = false;
    for (auto& [n, v] : row)
      if (n == name) v = value, replaced = true;
    if (!replaced) row.emplace_back(name, value);
  }
  insert("parmcode", row);
}

std::vector<RowMap> FixtureDb::query(const std::string& sql) {
  sqlite3_stmt* st = nullptr;
  check(db_, sqlite3_prepare_v2(db_, sql.c_str(), -1, &st, nullptr), sql);
  std::vector<RowMap> rows;
  int rc;
  while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
    RowMap row;
    for (int i = 0; i < sqlite3_column_count(st); ++i) row[sqlite3_column_name(st, i)] = columnValue(st, i);
    rows.push_back(std::move(row));
  }
  sqlite3_finalize(st);
  check(db_, rc, sql);
  return rows;
}

Value FixtureDb::scalar(const std::string& sql) {
  sqlite3_stmt* st = nullptr;
  check(db_, sqlite3_prepare_v2(db_, sql.c_str(), -1, &st, nullptr), sql);
  Value v;
  if (sqlite3_step(st) == SQLITE_ROW) v = columnValue(st, 0);
  sqlite3_finalize(st);
  return v;
}

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
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
