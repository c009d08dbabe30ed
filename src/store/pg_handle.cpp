#include "store/pg_handle.h"

#include <cstdlib>

#include "values/fault.h"

namespace ms::store {

namespace {

bool startsWith(const std::string& text, const char* prefix) { return text.rfind(prefix, 0) == 0; }

// Host and database name of a URI, as libpq reads them (environment and
// defaults included), with `fallback` when the URI cannot be read.
std::string hostAndDatabase(const std::string& uri) {
  char* error = nullptr;
  PQconninfoOption* options = PQconninfoParse(uri.c_str(), &error);
  if (error) PQfreemem(error);
  if (!options) return "PostgreSQL database (an unreadable URI)";
  std::string host, database, user;
  for (PQconninfoOption* option = options; option->keyword; ++option) {
    const std::string value = option->val ? option->val : "";
    const std::string keyword = option->keyword;
    if (keyword == "host") host = value;
    if (keyword == "dbname") database = value;
    if (keyword == "user") user = value;
  }
  PQconninfoFree(options);
  auto fromEnvironment = [](const char* name) {
    const char* value = std::getenv(name);
    return std::string(value ? value : "");
  };
  if (host.empty()) host = fromEnvironment("PGHOST");
  if (host.empty()) host = "the local socket";
  if (user.empty()) user = fromEnvironment("PGUSER");
  if (database.empty()) database = fromEnvironment("PGDATABASE");
  if (database.empty()) database = user;
  if (database.empty()) database = "(the user's)";
  return "PostgreSQL database " + database + " on " + host;
}

}  // namespace

bool isPostgresUri(const std::string& database) {
  return startsWith(database, "postgresql://") || startsWith(database, "postgres://");
}

std::string describeDatabase(const std::string& database) {
  return isPostgresUri(database) ? hostAndDatabase(database) : database;
}

PgHandle connectPostgres(const std::string& uri) {
  PgHandle connection(PQconnectdb(uri.c_str()));
  if (connection && PQstatus(connection.get()) == CONNECTION_OK) return connection;
  std::string detail = connection ? PQerrorMessage(connection.get()) : "out of memory";
  while (!detail.empty() && (detail.back() == '\n' || detail.back() == ' ')) detail.pop_back();
  const std::string name = describeDatabase(uri);
  throw RunError(Fault::Io, "Cannot connect to the " + name + ": " + detail, name);
}

void executePostgres(PGconn* connection, const std::string& sql, const std::string& where) {
  PgResult result(PQexec(connection, sql.c_str()));
  const auto status = PQresultStatus(result.get());
  if (status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK) return;
  std::string detail = PQresultErrorMessage(result.get());
  while (!detail.empty() && detail.back() == '\n') detail.pop_back();
  throw RunError(Fault::Engine, (where.empty() ? "" : where + ": ") + detail, where);
}

}  // namespace ms::store
