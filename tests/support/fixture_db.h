// Fixture databases for the tests: a fresh mailsort.mdb made from the suite
// schema in a temporary folder, or a fresh schema on the PostgreSQL server
// that MAILSORT_TEST_POSTGRES names, filled and read back with plain SQL
// (the way the suite's other programs would), beside the store under test.
#pragma once

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "store/pg_handle.h"
#include "store/sqlite_handle.h"
#include "values/value.h"

namespace ms {
inline void PrintTo(const Value& value, std::ostream* out) {
  *out << (value.isNull() ? "Null" : value.isNumber() ? value.text() : '"' + value.text() + '"');
}
}  // namespace ms

namespace ms::testing {

enum class Engine { Sqlite, Postgres };
inline constexpr Engine kEngines[] = {Engine::Sqlite, Engine::Postgres};

// Why a test cannot use `engine` here ("" when it can): PostgreSQL needs
// MAILSORT_TEST_POSTGRES, a base URI such as "postgresql://" (libpq's PG*
// variables fill in the rest).
std::string engineMissing(Engine engine);
inline std::string postgresMissing() { return engineMissing(Engine::Postgres); }
// With ::testing::PrintToStringParamName(), instances parameterised over the
// engine are named ".../Sqlite" and ".../Postgres".
inline void PrintTo(Engine engine, std::ostream* os) {
  *os << (engine == Engine::Postgres ? "Postgres" : "Sqlite");
}

using Row = std::vector<std::pair<std::string, Value>>;
using RowMap = std::map<std::string, Value>;

// A temporary folder removed with the object.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// Makes `dir` the current directory while it lives.
class InFolder {
 public:
  explicit InFolder(const std::string& dir);
  ~InFolder();
  InFolder(const InFolder&) = delete;
  InFolder& operator=(const InFolder&) = delete;

 private:
  std::string before_;
};

// `row` with `changes` applied: fields replaced in place, new ones appended.
Row withChanges(Row row, const Row& changes);

class FixtureDb {
 public:
  // Creates `<dir>/mailsort.mdb` with the suite schema (replacing one there).
  explicit FixtureDb(const std::string& dir, bool withSchema = true)
      : FixtureDb(Engine::Sqlite, dir, withSchema) {}
  // On PostgreSQL a new schema on the server, dropped with the object, and
  // `dir` is not used. Without the suite schema the database is left to be
  // made by others (on SQLite there is no file until then). `server` is
  // the base URI in place of MAILSORT_TEST_POSTGRES.
  FixtureDb(Engine engine, const std::string& dir, bool withSchema = true, const std::string& server = {});
  ~FixtureDb();
  FixtureDb(const FixtureDb&) = delete;
  FixtureDb& operator=(const FixtureDb&) = delete;

  // What Database::open and --database take: the file, or the URI whose
  // search_path selects the schema.
  const std::string& path() const { return path_; }

  void exec(const std::string& sql);
  // INSERT one row; column names as given (quoted). PostgreSQL is sent
  // numbers in 17 digits, so it holds the very same doubles.
  void insert(const std::string& table, const Row& row);
  // A Job Parameters record for a plain Letter job, with `overrides` applied.
  void insertParameters(const Row& overrides = {});
  // All rows of a query, columns by name; numbers as numbers, whatever the
  // engine's type for them.
  std::vector<RowMap> query(const std::string& sql);
  // The one column of the first row (Null when there is none).
  Value scalar(const std::string& sql);

 private:
  sqlite3* sqlite();

  std::string path_, schema_;
  store::DatabaseHandle db_;
  store::PgHandle pg_;
};

// Every row of a statement on a database file, "|" between columns and "\n"
// between rows ("" when it fails).
std::string sqlRows(const std::string& file, const std::string& statement);
// Reads a whole file (binary).
std::string readFile(const std::string& path);
// The fields of a record of quoted fields ("a","b",...), with or without its
// CR LF; one field naming the fault when it is not such a record.
std::vector<std::string> quotedFields(std::string record);
// Splits a text into lines at "\n", dropping one "\r" before it.
std::vector<std::string> splitLines(const std::string& text);

}  // namespace ms::testing
