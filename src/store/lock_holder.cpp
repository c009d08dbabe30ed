#include "store/lock_holder.h"

#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <set>
#include <sstream>

#include "store/pg_handle.h"

namespace ms::store {

namespace {

// What a process of this machine is called: "another mailsort" for one of
// ours, else its command name.
std::string processName(long pid) {
  if (pid == static_cast<long>(::getpid())) return "this mailsort";
  std::ifstream comm("/proc/" + std::to_string(pid) + "/comm");
  std::string name;
  std::getline(comm, name);
  if (name.empty()) return "a program";
  return name == "mailsort" ? "another mailsort" : name;
}

std::string fileHolders(const std::string& path) {
  struct stat status {};
  if (::stat(path.c_str(), &status) != 0) return {};
  // /proc/locks: "ID: KIND ADVISORY MODE PID MAJ:MIN:INODE START END"; a
  // waiter's line has "->" before its kind. OFD locks show no process (-1).
  char device[32];
  std::snprintf(device, sizeof device, "%02x:%02x:", ::major(status.st_dev), ::minor(status.st_dev));
  const std::string file = device + std::to_string(status.st_ino);
  std::ifstream locks("/proc/locks");
  std::set<long> pids;
  std::string holders;
  for (std::string line; std::getline(locks, line) && pids.size() < 8;) {
    std::istringstream fields(line);
    std::string id, kind, advisory, mode, where;
    long pid = -1;
    if (!(fields >> id >> kind) || kind == "->") continue;
    if (!(fields >> advisory >> mode >> pid >> where) || where != file || pid <= 0) continue;
    if (!pids.insert(pid).second) continue;
    holders += (holders.empty() ? "" : "; ") + processName(pid) + ", process " + std::to_string(pid) +
               ", on this machine";
  }
  return holders;
}

// The sessions holding the gate's advisory key (granted, not this one's):
// application name, client address and server process. A role that may not
// see other users' sessions gets no name or address for them.
constexpr const char* kHoldersQuery =
    "WITH k AS (SELECT hashtextextended('mailsort:' || current_database() || '.' || "
    "coalesce(current_schema(), ''), 0) AS key) "
    "SELECT DISTINCT coalesce(a.application_name, ''), coalesce(host(a.client_addr), ''), l.pid "
    "FROM k, pg_locks l LEFT JOIN pg_stat_activity a ON a.pid = l.pid "
    "WHERE l.locktype = 'advisory' AND l.granted AND l.pid <> pg_backend_pid() "
    "AND l.database = (SELECT oid FROM pg_database WHERE datname = current_database()) "
    "AND l.classid = ((k.key >> 32) & 4294967295)::oid AND l.objid = (k.key & 4294967295)::oid "
    "AND l.objsubid = 1 ORDER BY l.pid LIMIT 8";

std::string serverHolders(const std::string& uri) {
  PgHandle session = connectPostgres(uri);
  PgResult rows =
      queryWithin(session.get(), kHoldersQuery, {}, std::chrono::seconds(2), describeDatabase(uri));
  if (PQresultStatus(rows.get()) != PGRES_TUPLES_OK) return {};
  std::string holders;
  for (int row = 0; row < PQntuples(rows.get()); ++row) {
    const std::string name = PQgetvalue(rows.get(), row, 0), address = PQgetvalue(rows.get(), row, 1);
    std::string holder = name.empty() ? "a session" : name == "mailsort" ? "another mailsort" : name;
    holder += address.empty() ? " through the server's local socket" : " at " + address;
    holder += ", server process " + std::string(PQgetvalue(rows.get(), row, 2));
    holders += (holders.empty() ? "" : "; ") + holder;
  }
  return holders;
}

}  // namespace

std::string lockHolders(const std::string& database) {
  try {
    return isPostgresUri(database) ? serverHolders(database) : fileHolders(database);
  } catch (const std::exception&) {
    return {};  // best effort: the gate's message stands alone
  }
}

}  // namespace ms::store
