// A run's work as one transaction, held by a guard: begin() starts it
// (Database::beginRun), commit() makes all of it visible at once
// (Database::commitRun), and a guard that goes out of scope uncommitted
// undoes it (Database::rollbackRun), also after a beginning that failed, so
// that what the failure left is undone with it.
#pragma once

#include "store/database.h"

namespace ms::store {

class RunTransaction {
 public:
  explicit RunTransaction(Database& database) : database_(database) {}
  ~RunTransaction() { rollback(); }
  RunTransaction(const RunTransaction&) = delete;
  RunTransaction& operator=(const RunTransaction&) = delete;

  // Fails as Database::beginRun does; the guard still rolls back.
  void begin() {
    begun_ = true;
    database_.beginRun();
  }
  // Fails as Database::commitRun does (after rolling back); the guard then
  // rolls back once more when it ends or is told to.
  void commit() {
    database_.commitRun();
    ended_ = true;
  }
  // Undoes the run's work now, unless it committed or was undone already.
  void rollback() noexcept {
    if (!begun_ || ended_) return;
    ended_ = true;
    database_.rollbackRun();
  }

 private:
  Database& database_;
  bool begun_ = false;
  bool ended_ = false;
};

}  // namespace ms::store
