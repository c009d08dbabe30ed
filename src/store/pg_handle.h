// The thin layer over libpq that the store and the sample-job generator
// share: telling a PostgreSQL connection URI from a file name, naming a
// database in messages without its password, and connecting with a failure
// that says which server and database could not be reached.
#pragma once

#include <libpq-fe.h>

#include <memory>
#include <string>

namespace ms::store {

struct FinishConnection {
  void operator()(PGconn* connection) const { PQfinish(connection); }
};
struct ClearResult {
  void operator()(PGresult* result) const { PQclear(result); }
};
using PgHandle = std::unique_ptr<PGconn, FinishConnection>;
using PgResult = std::unique_ptr<PGresult, ClearResult>;

// Whether `database` is a PostgreSQL URI (postgresql://... or postgres://...)
// rather than the path of an SQLite file.
bool isPostgresUri(const std::string& database);

// The database as messages name it: a file by its path; a URI as
// "PostgreSQL database D on H" (H the host or the socket folder), never
// with its password.
std::string describeDatabase(const std::string& database);

// Connects to the server a URI names. Fails with Fault::Io, naming host and
// database (not the password), when the server is down or refuses the login.
PgHandle connectPostgres(const std::string& uri);

// Runs one statement that returns no rows (outside pipeline mode); fails
// with Fault::Engine or the fault the SQLSTATE stands for.
void executePostgres(PGconn* connection, const std::string& sql, const std::string& where = {});

}  // namespace ms::store
