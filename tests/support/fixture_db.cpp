#include "support/fixture_db.h"

#include <sqlite3.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
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

InFolder::InFolder(const std::string& dir) : before_(std::filesystem::current_path().string()) {
  std::filesystem::current_path(dir);
}

InFolder::~InFolder() {
  std::error_code ignored;
  std::filesystem::current_path(before_, ignored);
}

Row withChanges(Row row, const Row& changes) {
  for (const auto& [name, value] : changes) {
    const auto at = std::find_if(row.begin(), row.end(), [&](auto& field) { return field.first == name; });
    (at == row.end() ? row.emplace_back(name, Value()) : *at).second = value;
  }
  return row;
}

namespace {

// A statement that has run to its end, or the engine's message.
void check(sqlite3* db, int rc, const std::string& what) {
  if (rc != SQLITE_DONE && rc != SQLITE_ROW) throw std::runtime_error(what + ": " + sqlite3_errmsg(db));
}

// A statement's result on PostgreSQL, or the server's message.
store::PgResult checked(PGresult* result, ExecStatusType wanted, const std::string& what) {
  store::PgResult held(result);
  if (PQresultStatus(result) != wanted) throw std::runtime_error(what + ": " + PQresultErrorMessage(result));
  return held;
}

// A field of a PostgreSQL result: integers, floats and numerics as numbers.
Value pgValue(const PGresult* result, int row, int column) {
  if (PQgetisnull(result, row, column)) return Value();
  const char* text = PQgetvalue(result, row, column);
  using namespace store::pg_type;
  const Oid type = PQftype(result, column);
  const bool number = type == kInt8 || type == kInt2 || type == kInt4 || type == kFloat4 || type == kFloat8 ||
                      type == kNumeric;
  return number ? Value(std::strtod(text, nullptr)) : Value(text);
}

// Seventeen significant digits: the server reads back the very same double.
std::string fullDigits(double number) {
  char text[32];
  std::snprintf(text, sizeof text, "%.17g", number);
  return text;
}

}  // namespace

std::string engineMissing(Engine engine) {
  return engine == Engine::Postgres && !std::getenv("MAILSORT_TEST_POSTGRES")
             ? "needs a PostgreSQL server: MAILSORT_TEST_POSTGRES is not set"
             : "";
}

FixtureDb::FixtureDb(Engine engine, const std::string& dir, bool withSchema, const std::string& server) {
  if (engine == Engine::Sqlite) {
    path_ = dir + "/mailsort.mdb";
    std::filesystem::remove(path_);
    if (withSchema) exec(kSchemaSql);
    return;
  }
  if (const std::string missing = engineMissing(engine); !missing.empty()) throw std::runtime_error(missing);
  static int made = 0;
  schema_ = "t_" + std::to_string(getpid()) + "_" + std::to_string(++made);
  const std::string base = server.empty() ? std::getenv("MAILSORT_TEST_POSTGRES") : server;
  path_ = base + (base.find('?') == std::string::npos ? "?" : "&") + "options=-csearch_path%3D" + schema_;
  pg_ = store::connectPostgres(base);
  // A schema that a test which died left under the same name goes first.
  exec("SET client_min_messages TO warning; DROP SCHEMA IF EXISTS " + schema_ + " CASCADE; CREATE SCHEMA " +
       schema_ + "; SET search_path TO " + schema_);
  if (withSchema) exec(kPostgresSchemaSql);
}

FixtureDb::~FixtureDb() {
  if (pg_) PQclear(PQexec(pg_.get(), ("DROP SCHEMA IF EXISTS " + schema_ + " CASCADE").c_str()));
}

sqlite3* FixtureDb::sqlite() {
  if (!db_) {
    db_ = store::openHandle(path_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
    // Like the suite's other programs, wait while the store commits.
    sqlite3_busy_timeout(db_.get(), 5000);
  }
  return db_.get();
}

void FixtureDb::exec(const std::string& sql) {
  pg_ ? store::executePostgres(pg_.get(), sql, sql) : store::executeSql(sqlite(), sql);
}

void FixtureDb::insert(const std::string& table, const Row& row) {
  std::string cols, marks;
  std::vector<std::string> texts;  // the values as PostgreSQL is sent them
  for (const auto& [name, value] : row) {
    cols += (cols.empty() ? "\"" : ",\"") + name + "\"";
    marks += (marks.empty() ? "" : ",") + (pg_ ? "$" + std::to_string(texts.size() + 1) : "?");
    texts.push_back(value.isNumber() ? fullDigits(value.number()) : value.textOrEmpty());
  }
  std::string sql = "INSERT INTO \"" + table + "\" (" + cols + ") VALUES (" + marks + ")";
  if (pg_) {
    std::vector<const char*> values;
    for (std::size_t i = 0; i < row.size(); ++i)
      values.push_back(row[i].second.isNull() ? nullptr : texts[i].c_str());
    checked(PQexecParams(pg_.get(), sql.c_str(), static_cast<int>(values.size()), nullptr, values.data(),
                         nullptr, nullptr, 0),
            PGRES_COMMAND_OK, sql);
    return;
  }
  auto statement = store::prepareHandle(sqlite(), sql);
  int i = 1;
  for (const auto& [name, value] : row) store::bindValue(statement.get(), i++, value);
  check(sqlite(), sqlite3_step(statement.get()), sql);
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
  std::vector<RowMap> rows;
  if (pg_) {
    const auto result = checked(PQexec(pg_.get(), sql.c_str()), PGRES_TUPLES_OK, sql);
    for (int row = 0; row < PQntuples(result.get()); ++row)
      for (int i = 0; i < PQnfields(result.get()); ++i)
        (i ? rows.back() : rows.emplace_back())[PQfname(result.get(), i)] = pgValue(result.get(), row, i);
    return rows;
  }
  auto statement = store::prepareHandle(sqlite(), sql);
  sqlite3_stmt* st = statement.get();
  int rc;
  while ((rc = sqlite3_step(st)) == SQLITE_ROW)
    for (int i = 0; i < sqlite3_column_count(st); ++i)
      (i ? rows.back() : rows.emplace_back())[sqlite3_column_name(st, i)] = store::columnValue(st, i);
  check(sqlite(), rc, sql);
  return rows;
}

Value FixtureDb::scalar(const std::string& sql) {
  const auto rows = query(sql);
  return rows.empty() || rows[0].empty() ? Value() : rows[0].begin()->second;
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
  return {std::istreambuf_iterator<char>(in), {}};
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
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);)
    lines.push_back(line.substr(0, line.size() - line.ends_with('\r')));
  return lines;
}

}  // namespace ms::testing
