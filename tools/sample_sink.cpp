#include "sample_sink.h"

#include <sqlite3.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <sstream>
#include <stdexcept>

#include "sample_database.h"
#include "schema_sql.h"
#include "store/pg_handle.h"
#include "store/sqlite_handle.h"

namespace ms::sample {

namespace {

std::string quoted(const std::string& name) { return "\"" + name + "\""; }

std::string columnList(const std::vector<std::string>& columns) {
  std::string list;
  for (const std::string& column : columns) list += (list.empty() ? "" : ", ") + quoted(column);
  return list;
}

// One prepared INSERT, bound and stepped once per row.
class SqliteRows : public TableRows {
 public:
  SqliteRows(sqlite3* db, const std::string& table, const std::vector<std::string>& columns) : db_(db) {
    std::string marks;
    for (std::size_t i = 0; i < columns.size(); ++i) marks += i ? ", ?" : "?";
    statement_ = store::prepareHandle(
        db, "INSERT INTO " + quoted(table) + " (" + columnList(columns) + ") VALUES (" + marks + ")");
  }
  TableRows& text(const std::string& value) override {
    store::bindValue(statement_.get(), ++column_, Value(value));
    return *this;
  }
  TableRows& number(double value) override {
    store::bindValue(statement_.get(), ++column_, Value(value));
    return *this;
  }
  void row() override {
    if (sqlite3_step(statement_.get()) != SQLITE_DONE)
      throw std::runtime_error(std::string("cannot insert a row: ") + sqlite3_errmsg(db_));
    sqlite3_reset(statement_.get());
    column_ = 0;
  }

 private:
  sqlite3* db_;
  store::StatementHandle statement_;
  int column_ = 0;
};

class SqliteSink : public JobSink {
 public:
  explicit SqliteSink(const std::string& path) : name_(path) {
    std::error_code error;
    for (const char* suffix : {"", "-journal", "-wal", "-shm"}) {
      std::filesystem::remove(path + suffix, error);
      if (error) throw std::runtime_error(path + suffix + ": cannot replace it: " + error.message());
    }
    db_ = store::openHandle(path, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
    // Nothing else has the new file yet: no journal and no syncing while it
    // is filled, the engine's defaults again before it is handed over.
    store::executeSql(db_.get(), "PRAGMA journal_mode=OFF; PRAGMA synchronous=OFF;");
    store::executeSql(db_.get(), kSchemaSql);
    store::executeSql(db_.get(), "BEGIN");
  }
  TableRows& rows(const std::string& table, const std::vector<std::string>& columns) override {
    return *tables_.emplace_back(std::make_unique<SqliteRows>(db_.get(), table, columns));
  }
  void commit() override {
    tables_.clear();
    store::executeSql(db_.get(), "COMMIT");
    store::executeSql(db_.get(), "PRAGMA journal_mode=DELETE; PRAGMA synchronous=FULL;");
  }
  const std::string& name() const override { return name_; }

 private:
  std::string name_;
  store::DatabaseHandle db_;
  std::vector<std::unique_ptr<SqliteRows>> tables_;
};

// A table's rows in COPY's text format, sent in batches of about a megabyte
// (each batch one COPY) and the rest at the commit.
class CopyRows : public TableRows {
 public:
  CopyRows(PGconn* connection, const std::string& where, const std::string& table,
           const std::vector<std::string>& columns)
      : connection_(connection),
        where_(where + ": cannot fill " + table),
        copy_("COPY " + quoted(table) + " (" + columnList(columns) + ") FROM STDIN") {}
  TableRows& text(const std::string& value) override {
    separate();
    for (char c : value) {
      switch (c) {
        case '\\':
          buffer_ += "\\\\";
          break;
        case '\t':
          buffer_ += "\\t";
          break;
        case '\n':
          buffer_ += "\\n";
          break;
        case '\r':
          buffer_ += "\\r";
          break;
        default:
          buffer_ += c;
      }
    }
    return *this;
  }
  // Seventeen significant digits read back as the very same double.
  TableRows& number(double value) override {
    separate();
    char digits[32];
    buffer_.append(digits, std::snprintf(digits, sizeof digits, "%.17g", value));
    return *this;
  }
  void row() override {
    buffer_ += '\n';
    first_ = true;
    if (buffer_.size() >= (1 << 20)) send();
  }
  void send() {
    if (buffer_.empty()) return;
    store::PgResult started(PQexec(connection_, copy_.c_str()));
    if (PQresultStatus(started.get()) != PGRES_COPY_IN) fail(started.get());
    const bool sent = PQputCopyData(connection_, buffer_.data(), static_cast<int>(buffer_.size())) == 1 &&
                      PQputCopyEnd(connection_, nullptr) == 1;
    buffer_.clear();
    bool failed = !sent;
    while (store::PgResult result{PQgetResult(connection_)})
      if (PQresultStatus(result.get()) != PGRES_COMMAND_OK) failed = true;
    if (failed) fail(nullptr);
  }

 private:
  void separate() {
    if (!first_) buffer_ += '\t';
    first_ = false;
  }
  [[noreturn]] void fail(const PGresult* result) {
    std::string detail = result ? PQresultErrorMessage(result) : PQerrorMessage(connection_);
    while (!detail.empty() && detail.back() == '\n') detail.pop_back();
    throw std::runtime_error(where_ + ": " + detail);
  }

  PGconn* connection_;
  std::string where_, copy_, buffer_;
  bool first_ = true;
};

// The schema's statements without their comments: the tables, and apart
// the indexes, which are built far faster over the filled tables than row by
// row while they are filled.
void splitSchema(const std::string& sql, std::string& tables, std::string& indexes) {
  std::string plain, line, statement;
  std::istringstream lines(sql);
  while (std::getline(lines, line)) plain += line.substr(0, line.find("--")) + "\n";
  std::istringstream statements(plain);
  while (std::getline(statements, statement, ';')) {
    const std::size_t start = statement.find_first_not_of(" \t\n");
    if (start == std::string::npos) continue;
    statement.erase(0, start);
    const bool index = statement.starts_with("CREATE INDEX") || statement.starts_with("CREATE UNIQUE INDEX");
    (index ? indexes : tables) += statement + ";\n";
  }
}

class PostgresSink : public JobSink {
 public:
  PostgresSink(const std::string& uri, bool replace)
      : connection_(store::connectPostgres(uri)), name_(store::describeDatabase(uri)) {
    run("BEGIN; SET LOCAL client_min_messages TO warning");
    // The first schema the search path names, which libpq's options may set
    // for the job; "$user" stands for the user.
    const std::string schema = single(
        "SELECT CASE WHEN s = '$user' THEN current_user::text ELSE s END FROM (SELECT coalesce("
        "current_schema()::text, (parse_ident(btrim(split_part(current_setting('search_path'), ',', 1))))[1])"
        " AS s) AS path");
    char* escaped = PQescapeIdentifier(connection_.get(), schema.c_str(), schema.size());
    const std::string identifier = escaped ? escaped : quoted(schema);
    PQfreemem(escaped);
    if (!replace) {
      escaped = PQescapeLiteral(connection_.get(), schema.c_str(), schema.size());
      const std::string literal = escaped ? escaped : "''";
      PQfreemem(escaped);
      const std::string held =
          single(("SELECT count(*) FROM pg_catalog.pg_tables WHERE schemaname = " + literal +
                  " AND tablename IN ('kvwork', 'parmcode')")
                     .c_str());
      if (held != "0") throw JobInTheWay(name_ + ", schema " + schema + " holds a job: --force replaces it");
    }
    run("CREATE SCHEMA IF NOT EXISTS " + identifier + "; SET LOCAL search_path TO " + identifier +
        "; DROP TABLE IF EXISTS parmcode, kvwork, region, pcode, sequence, label, poprice, price, bags "
        "CASCADE");
    std::string tables;
    splitSchema(kPostgresSchemaSql, tables, indexes_);
    run(tables);
    name_ += ", schema " + schema;
  }
  TableRows& rows(const std::string& table, const std::vector<std::string>& columns) override {
    auto& rows = tables_[table + "(" + columnList(columns) + ")"];
    if (!rows) rows = std::make_unique<CopyRows>(connection_.get(), name_, table, columns);
    return *rows;
  }
  void commit() override {
    for (auto& [table, rows] : tables_) rows->send();
    run(indexes_ + "COMMIT");
  }
  const std::string& name() const override { return name_; }

 private:
  void run(const std::string& sql) { store::executePostgres(connection_.get(), sql, name_); }
  std::string single(const char* sql) {
    store::PgResult result(PQexec(connection_.get(), sql));
    if (PQresultStatus(result.get()) == PGRES_TUPLES_OK && PQntuples(result.get()) == 1)
      return PQgetvalue(result.get(), 0, 0);
    std::string detail = PQresultErrorMessage(result.get());
    while (!detail.empty() && detail.back() == '\n') detail.pop_back();
    throw std::runtime_error(name_ + ": " + detail);
  }

  store::PgHandle connection_;
  std::string name_, indexes_;
  std::map<std::string, std::unique_ptr<CopyRows>> tables_;
};

}  // namespace

std::unique_ptr<JobSink> sqliteSink(const std::string& path) { return std::make_unique<SqliteSink>(path); }

std::unique_ptr<JobSink> postgresSink(const std::string& uri, bool replace) {
  return std::make_unique<PostgresSink>(uri, replace);
}

}  // namespace ms::sample
