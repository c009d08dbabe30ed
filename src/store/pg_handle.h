// The thin layer over libpq that the store and the sample-job generator
// share: telling a PostgreSQL connection URI from a file name, naming a
// database in messages without its password, and connecting with a failure
// that says which server and database could not be reached.
#pragma once

#include <libpq-fe.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "values/fault.h"

namespace ms::store {

struct FinishConnection {
  void operator()(PGconn* connection) const { PQfinish(connection); }
};
struct ClearResult {
  void operator()(PGresult* result) const { PQclear(result); }
};
using PgHandle = std::unique_ptr<PGconn, FinishConnection>;
using PgResult = std::unique_ptr<PGresult, ClearResult>;

// The server's OIDs of the built-in types whose values are read as numbers
// (pg_type.oid; a built-in type keeps its OID in every server version).
namespace pg_type {
inline constexpr Oid kBool = 16;
inline constexpr Oid kInt8 = 20;
inline constexpr Oid kInt2 = 21;
inline constexpr Oid kInt4 = 23;
inline constexpr Oid kOid = 26;
inline constexpr Oid kFloat4 = 700;
inline constexpr Oid kFloat8 = 701;
inline constexpr Oid kNumeric = 1700;
}  // namespace pg_type

// Whether `database` is a PostgreSQL URI (postgresql://... or postgres://...)
// rather than the path of an SQLite file.
bool isPostgresUri(const std::string& database);

// The database as messages name it: a file by its path; a URI as
// "PostgreSQL database D on H" (H the host or the socket folder), never
// with its password.
std::string describeDatabase(const std::string& database);

// Connects to the server a URI names, with TCP keepalives and a connect
// timeout (the URI's own values win), and sets the session up the way the
// store relies on whatever the server, role, database or environment say
// (UTF-8, every digit of a double, no timeouts of the server's own; see
// src/store/README.md). Fails with Fault::Io, naming host and database (not
// the password), when the server is down or refuses the login.
PgHandle connectPostgres(const std::string& uri);

// A question put to the server on a short-lived connection of its own while
// another session of this program waits: does another session block that
// one (a lock it waits for)? Nothing in it blocks the thread: step() does
// what can be done at once (the connection's next move, the question, the
// answer) and tells whether the answer is in. A server that has not
// answered within the limit, or that cannot be reached at all, has given
// NoAnswer; a server that answered with an error has not said that the
// session is blocked. The URI's host name is looked up when the probe
// starts, as libpq does, and that alone may take a moment.
class BlockingProbe {
 public:
  enum class Answer { Pending, Blocked, NotBlocked, NoAnswer };
  BlockingProbe(const std::string& uri, int backendPid, std::chrono::milliseconds limit);
  Answer step();

 private:
  Answer end(Answer answer);

  PgHandle session_;
  std::string pid_;
  std::chrono::steady_clock::time_point until_;
  PostgresPollingStatusType polling_ = PGRES_POLLING_WRITING;  // libpq's first move of a connection
  bool asked_ = false;
  Answer answer_ = Answer::Pending;
};

// Runs statements outside pipeline mode, waiting for each answer at most
// `silence` after the server last sent anything; returns the last result.
// Fails with Fault::Io, naming the database (`name`), when the connection is
// lost or the server falls silent.
PgResult queryWithin(PGconn* connection, const std::string& sql, const std::vector<std::string>& parameters,
                     std::chrono::milliseconds silence, const std::string& name);

// Asks the server to cancel what the session is running, waiting at most
// `limit` for the request to be delivered; false when it was not.
bool requestCancel(PGconn* connection, std::chrono::milliseconds limit);

// The failures of a session whose connection broke, or whose server sent
// nothing for `silence`.
RunError lostConnection(PGconn* connection, const std::string& name);
RunError silentServer(const std::string& name, std::chrono::milliseconds silence);

// Runs one statement that returns no rows (outside pipeline mode); fails
// with Fault::Engine or the fault the SQLSTATE stands for.
void executePostgres(PGconn* connection, const std::string& sql, const std::string& where = {});

}  // namespace ms::store
