// The pipeline of a PostgreSQL session: statements are sent without
// waiting, the results the server owes are kept in the order they were
// sent, and a sync point collects them (PgConnection::settle). Every wait
// for an answer has its limits: the wait hook may stop it with a cancel,
// and a server that stays silent, or does not answer the cancel, has its
// session dropped.
//
// The pipeline is the part of PgConnection implemented in pg_pipeline.cpp,
// not a class of its own: what it meets while it waits changes the state
// of the connection's transaction (the saves lost, the wait spent on other
// programs' locks, the session ended), which the Connection base holds, and
// the sending flushes the connection's gathered edits first. A class apart
// would hand all of that back through as many calls as it has members.
#pragma once

#include <string>

#include "values/fault.h"

namespace ms::store {

// The kind of failure a PostgreSQL SQLSTATE stands for.
Fault faultOfState(const std::string& state);

// A message of libpq or the server without its closing line break.
std::string trimmedMessage(const char* message);

}  // namespace ms::store
