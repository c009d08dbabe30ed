#include "store/pg_handle.h"

#include <poll.h>

#include <cstdlib>
#include <future>
#include <thread>

#include "values/fault.h"

namespace ms::store {

namespace {

// The connection's settings given before the URI ("dbname" is the URI).
// The session is named "mailsort" in pg_stat_activity unless the URI or
// PGAPPNAME names it, so that a job held is named by who holds it.
const char* const kConnectKeywords[] = {"connect_timeout",           "keepalives",       "keepalives_idle",
                                        "keepalives_interval",       "keepalives_count", "tcp_user_timeout",
                                        "fallback_application_name", "dbname",           nullptr};

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
  // A connection never hangs on a dead network: the connect gives up after
  // 15 s; an idle connection is probed after 30 s and then every 10 s, and
  // three probes unanswered, or data unacknowledged for 60 s, end it. Set
  // before the URI, so that the URI's own values win.
  const char* values[] = {"15", "1", "30", "10", "3", "60000", "mailsort", uri.c_str(), nullptr};
  PgHandle connection(PQconnectdbParams(kConnectKeywords, values, 1));
  const std::string name = describeDatabase(uri);
  if (!connection || PQstatus(connection.get()) != CONNECTION_OK) {
    std::string detail = connection ? PQerrorMessage(connection.get()) : "out of memory";
    while (!detail.empty() && (detail.back() == '\n' || detail.back() == ' ')) detail.pop_back();
    throw RunError(Fault::Io, "Cannot connect to the " + name + ": " + detail, name);
  }
  // What the store relies on, whatever the server, the role, the database,
  // PGOPTIONS or PGCLIENTENCODING say (src/store/README.md says why).
  std::string settings =
      "SET client_encoding = 'UTF8'; SET extra_float_digits = 3; SET standard_conforming_strings = on; "
      "SET array_nulls = on; SET bytea_output = 'hex'; SET DateStyle = 'ISO, YMD'; "
      "SET IntervalStyle = 'postgres'; SET statement_timeout = 0; "
      "SET idle_in_transaction_session_timeout = 0; SET default_transaction_isolation = 'read committed'; "
      "SET default_transaction_read_only = off; SET client_min_messages = warning";
  // Every statement of the store is a lookup or a walk in the order of one index: planned once
  // for any values and without a bitmap scan, it reads the records in that order and stops at
  // its limit. Planned for the values at hand, with statistics that the run's own saves have
  // made stale, it may read every record of a key into a bitmap and sort them, on every move
  // of a walk (a 50,000-record residue walk took 10 s instead of 1.3).
  if (PQserverVersion(connection.get()) >= 120000)
    settings += "; SET plan_cache_mode = force_generic_plan; SET enable_bitmapscan = off";
  if (PQserverVersion(connection.get()) >= 140000) settings += "; SET idle_session_timeout = 0";
  if (PQserverVersion(connection.get()) >= 170000) settings += "; SET transaction_timeout = 0";
  PgResult set = queryWithin(connection.get(), settings, {}, std::chrono::seconds(60), name);
  if (PQresultStatus(set.get()) != PGRES_COMMAND_OK) {
    std::string detail = PQresultErrorMessage(set.get());
    while (!detail.empty() && detail.back() == '\n') detail.pop_back();
    throw RunError(Fault::Io, "Cannot set up the session with the " + name + ": " + detail, name);
  }
  return connection;
}

RunError lostConnection(PGconn* connection, const std::string& name) {
  std::string detail = connection ? PQerrorMessage(connection) : "";
  while (!detail.empty() && (detail.back() == '\n' || detail.back() == ' ')) detail.pop_back();
  return RunError(
      Fault::Io, "the connection to the " + name + " was lost" + (detail.empty() ? "" : ": " + detail), name);
}

RunError silentServer(const std::string& name, std::chrono::milliseconds silence) {
  return RunError(Fault::Io,
                  "the " + name + " sent nothing for " + std::to_string((silence.count() + 999) / 1000) +
                      " s; the connection was closed",
                  name);
}

PgResult queryWithin(PGconn* connection, const std::string& sql, const std::vector<std::string>& parameters,
                     std::chrono::milliseconds silence, const std::string& name) {
  std::vector<const char*> values;
  for (const auto& parameter : parameters) values.push_back(parameter.c_str());
  const int sent = parameters.empty()
                       ? PQsendQuery(connection, sql.c_str())
                       : PQsendQueryParams(connection, sql.c_str(), static_cast<int>(values.size()), nullptr,
                                           values.data(), nullptr, nullptr, 0);
  if (sent != 1) throw lostConnection(connection, name);
  PgResult last;
  auto heard = std::chrono::steady_clock::now();
  for (;;) {
    const int flushed = PQflush(connection);
    if (flushed < 0) throw lostConnection(connection, name);
    if (flushed == 0 && !PQisBusy(connection)) {
      PGresult* result = PQgetResult(connection);
      if (!result) return last;
      // The first failure stands; the statements after it did not run.
      if (!last || PQresultStatus(last.get()) == PGRES_COMMAND_OK ||
          PQresultStatus(last.get()) == PGRES_TUPLES_OK)
        last.reset(result);
      else
        PQclear(result);
      continue;
    }
    pollfd socket{PQsocket(connection), static_cast<short>(POLLIN | (flushed ? POLLOUT : 0)), 0};
    const auto now = std::chrono::steady_clock::now();
    if (::poll(&socket, 1, 100) > 0) {
      if ((socket.revents & ~POLLOUT) && PQconsumeInput(connection) != 1)
        throw lostConnection(connection, name);
      heard = std::chrono::steady_clock::now();
    } else if (now - heard >= silence) {
      throw silentServer(name, silence);
    }
  }
}

BlockingProbe::BlockingProbe(const std::string& uri, int backendPid, std::chrono::milliseconds limit)
    : pid_(std::to_string(backendPid)), until_(std::chrono::steady_clock::now() + limit) {
  const char* values[] = {"2", "1", "30", "10", "3", "2000", "mailsort", uri.c_str(), nullptr};
  session_.reset(PQconnectStartParams(kConnectKeywords, values, 1));
  if (!session_ || PQstatus(session_.get()) == CONNECTION_BAD) end(Answer::NoAnswer);
}

BlockingProbe::Answer BlockingProbe::end(Answer answer) {
  session_.reset();
  return answer_ = answer;
}

BlockingProbe::Answer BlockingProbe::step() {
  if (answer_ != Answer::Pending) return answer_;
  PGconn* session = session_.get();
  pollfd socket{PQsocket(session), 0, 0};
  if (!asked_) {
    socket.events = polling_ == PGRES_POLLING_READING ? POLLIN : POLLOUT;
    if (::poll(&socket, 1, 0) > 0) polling_ = PQconnectPoll(session);
    if (polling_ == PGRES_POLLING_FAILED) return end(Answer::NoAnswer);
    if (polling_ == PGRES_POLLING_OK) {
      const char* values[] = {pid_.c_str()};
      asked_ = PQsetnonblocking(session, 1) == 0 &&
               PQsendQueryParams(session, "SELECT cardinality(pg_blocking_pids($1::integer))", 1, nullptr,
                                 values, nullptr, nullptr, 0) == 1;
      if (!asked_) return end(Answer::NoAnswer);
    }
  } else {
    const int flushed = PQflush(session);
    if (flushed < 0) return end(Answer::NoAnswer);
    socket.events = static_cast<short>(POLLIN | (flushed ? POLLOUT : 0));
    if (::poll(&socket, 1, 0) > 0 && (socket.revents & ~POLLOUT) && PQconsumeInput(session) != 1)
      return end(Answer::NoAnswer);
    if (!PQisBusy(session)) {
      PgResult result(PQgetResult(session));
      const bool blocked = PQresultStatus(result.get()) == PGRES_TUPLES_OK && PQntuples(result.get()) == 1 &&
                           std::string(PQgetvalue(result.get(), 0, 0)) != "0";
      return end(blocked ? Answer::Blocked : Answer::NotBlocked);
    }
  }
  if (std::chrono::steady_clock::now() >= until_) return end(Answer::NoAnswer);
  return Answer::Pending;
}

bool requestCancel(PGconn* connection, std::chrono::milliseconds limit) {
  PGcancel* cancel = PQgetCancel(connection);
  if (!cancel) return false;
  // PQcancel connects to the server afresh and cannot be given a limit:
  // it runs on a thread of its own, which outlives a request that hangs.
  auto delivered = std::make_shared<std::promise<bool>>();
  std::future<bool> answer = delivered->get_future();
  std::thread([cancel, delivered] {
    char error[256];
    delivered->set_value(PQcancel(cancel, error, sizeof error) == 1);
    PQfreeCancel(cancel);
  }).detach();
  return answer.wait_for(limit) == std::future_status::ready && answer.get();
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
