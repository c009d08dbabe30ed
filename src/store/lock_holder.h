// Who holds a job that the gate found in use, where the system can tell:
// best effort, bounded, never waiting for a lock.
#pragma once

#include <string>

namespace ms::store {

// The programs that hold the job's lock, as a message names them ("flock,
// process 4242, on this machine", "another mailsort, process 4242, on this
// machine"; for PostgreSQL "another mailsort at 192.0.2.7, server process
// 4242"), several joined by "; "; empty when none can be told. A file's
// holders are read from /proc/locks (the flock(2) and POSIX locks on the
// file's inode) and /proc/PID/comm; a PostgreSQL job's from pg_locks and
// pg_stat_activity on a connection of its own, for the gate's advisory key.
std::string lockHolders(const std::string& database);

}  // namespace ms::store
