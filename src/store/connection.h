// One open Mailsort Database, whichever engine holds it: the prepared
// statements and table layouts kept for the life of the open, and the
// grouping of saves into short transactions. The store is used from one
// thread: the program's own rhythm commits (the passes' calls, an idle timer
// of the window, close and exit). Each engine implements it: an SQLite file
// (SqliteConnection) or a PostgreSQL server (PgConnection).
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "store/database.h"
#include "store/deferred_saves.h"
#include "store/statement.h"
#include "store/table_layout.h"
#include "values/fault.h"

namespace ms::store {

class Connection {
 public:
  using Clock = std::chrono::steady_clock;
  // Saves are committed once their transaction has been open this long.
  static constexpr std::chrono::milliseconds kCommitInterval{900};
  // How long a connection waits in all, over its life, while other programs
  // hold the database: a run that meets a lock held for good fails once,
  // after a minute, rather than once per statement.
  static constexpr std::chrono::milliseconds kBusyWait{60000};
  // An exclusive open is a momentary check: it waits for another program's
  // lock only this long.
  static constexpr std::chrono::milliseconds kCheckWait{2000};
  // How long a server may send nothing while the store waits for it (beyond
  // a lock wait it was allowed) before the connection counts as dead.
  static constexpr std::chrono::milliseconds kSilenceLimit{60000};

  // Opens an SQLite file, or a PostgreSQL database when `database` is a
  // postgresql:// URI; see Database::open.
  static std::shared_ptr<Connection> open(const std::string& database, OpenMode mode);
  virtual ~Connection();
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  // Fails when the database has been closed, or with the fault that ended
  // the session (a server that fell silent or was lost).
  void requireOpen() const;
  virtual bool isOpen() const = 0;
  virtual const Dialect& dialect() const = 0;

  // A statement prepared once per open and kept; `table` names the table
  // its failures name.
  virtual Statement* prepare(const std::string& sql, const std::string& table) = 0;
  // The statement that saves `columns` (positions in the layout) of the
  // record with rowid ?n+1, the values being ?1 to ?n.
  virtual Statement* prepareEdit(const TableLayout& layout, const std::vector<std::size_t>& columns);
  // Whether every value of layout column `column` is a text or Null. A
  // column of a text type holds nothing else, as on PostgreSQL; SQLite
  // keeps a blob or a number whatever the type says, and looks.
  virtual bool holdsTexts(const TableLayout& layout, std::size_t column) {
    return layout.affinities[column] == Affinity::Text;
  }

  // The layout of a table, read once and kept until the next DDL statement.
  // Fails with Fault::NotFound for an unknown table.
  std::shared_ptr<const TableLayout> table(const std::string& name);

  // Before every read or write: the first opens a transaction; a
  // transaction open longer than the commit interval is committed first.
  // After a write, the same check. Either fails when saves made earlier
  // were lost (a commit that failed, a transaction that the engine rolled
  // back), so that the loss is never silent.
  virtual void enter() = 0;
  void afterWrite() { checkSaves(); }
  // Commits what is pending now (a walk reached its end).
  void commitSoon() {
    if (inTransaction_ && !holding_) tryCommit();
  }
  // The program has nothing for the store to do: saves pending for a commit
  // interval are committed. Never fails; a save that could not be committed
  // fails the next operation.
  virtual void idle() = 0;
  // Commits what is pending before DDL or close; fails when it cannot.
  virtual void commitNow() = 0;

  // Runs DDL outside any pending transaction (inside the run's, while a run
  // holds its saves) and forgets the table layouts.
  void executeDdl(const std::vector<std::string>& statements);

  // A run's work as one transaction: from beginRun() nothing is committed
  // (no interval, walk end, idle call, DDL or flush commits) until
  // commitRun() makes all of it visible at once or rollbackRun() undoes all
  // of it, DDL included. beginRun() commits what is pending first and takes
  // the engine's write lock at once, waiting for other programs as any
  // statement does; it fails when the database cannot be written.
  // commitRun() fails when the transaction cannot be committed, after
  // rolling it back. A process that ends without either loses the run's
  // work: the engine rolls it back.
  void beginRun();
  void commitRun();
  void rollbackRun() noexcept;
  bool holding() const { return holding_; }
  // See Database::markRun, runCommitted and identity.
  virtual std::string markRun() = 0;
  virtual bool runCommitted(const std::string& token) = 0;
  virtual std::string identity() const = 0;

  // Within a run: drops a table's index (not a unique one) until
  // writeDeferred() or the run's commit builds it again, once, from the
  // engine's own definition of it. A pass that moves most records' entries
  // in an order it does not walk saves that work; a rollback, or a process
  // that ends before the commit, leaves the index as it was. Outside a run,
  // or for an index the engine cannot define again, it does nothing.
  void deferIndex(const std::string& table, const std::string& storeName);
  // Within a run, on an engine that can: the saves of `columns` (at most
  // two, held by no index) into the table's existing records are kept back
  // (see DeferredSaves) until writeDeferred(), the run's commit, or DDL
  // writes them in rowid order; the cursors read them meanwhile. A rollback
  // drops them. Otherwise it does nothing.
  void deferSaves(const std::string& table, const std::vector<std::string>& columns, std::size_t limit);
  // The saves being kept back, if any.
  DeferredSaves* deferredSaves() { return saves_.get(); }
  // Keeps a save of record `rowid` (see DeferredSaves::keep), writing what is
  // kept first when the limit is reached.
  void keepSave(std::int64_t rowid, const std::vector<Value>& values, const std::vector<bool>& changed);
  // Writes the saves kept back, then builds the deferred indexes.
  void writeDeferred();

  // Commits and closes the database and its lock. Fails (after closing)
  // when pending saves could not be committed.
  virtual void close() = 0;

  // See Database::handOver.
  virtual void handOver() = 0;

  // Changes whenever anything is written, committed or rolled back, so that
  // rows read earlier can tell whether they may still stand.
  std::uint64_t stamp() const { return stamp_; }

  // Called every 20 ms or so while a statement waits for another program or
  // for a server that has not answered, on the thread that opened the
  // database (the window repaints, Cancel answers), with how long this wait
  // has lasted and why it waits (see Database::setWaitHook); with 0 and
  // Unknown while the engine builds a deferred index, which it does not
  // stop. False stops the wait: the statement fails with Fault::Interrupted.
  // It must not throw (an exception counts as true).
  using WaitHook = Database::WaitHook;
  WaitHook waitHook;
  std::chrono::milliseconds busyWait = kBusyWait;
  std::chrono::milliseconds silenceLimit = kSilenceLimit;

 protected:
  Connection() = default;
  // The layout of a table as the engine declares it; null when there is no
  // such table.
  virtual std::shared_ptr<TableLayout> readLayout(const std::string& name) = 0;
  // Runs DDL statements, more than one as one transaction (one savepoint
  // inside an open transaction, where each failure is undone alone).
  virtual void runDdl(const std::vector<std::string>& statements) = 0;
  // The statement that creates the index the engine names so; empty when
  // there is none (an index the engine made for a constraint).
  virtual std::string indexDefinition(const std::string& engineName) = 0;
  // Runs the CREATE INDEX statements of deferred indexes.
  virtual void buildIndexes(const std::vector<std::string>& definitions) { executeDdl(definitions); }
  // Whether the engine can keep saves back, and the write of what is kept
  // (sorted in place); an engine that can overrides both.
  virtual bool canDeferSaves() const { return false; }
  virtual void writeSaves(DeferredSaves& /*saves*/) {}
  // Writes the saves kept back so far, if any; the keeping goes on.
  void writeKept();
  // Opens the transaction that holds a run, with the write lock taken.
  virtual void beginHeld() = 0;
  // Undoes the open transaction, if any. Never fails.
  virtual void rollback() noexcept = 0;
  // Commits the open transaction; false when it could not (a busy file
  // keeps it open to be tried again; saves that are lost are noted).
  virtual bool tryCommit() = 0;
  // Notes a transaction the engine rolled back by itself, if it can tell.
  virtual void noteRollback() {}
  // Commits a transaction open past the interval (the clock is read every
  // 64 operations: a pass makes thousands a second), then fails with saves
  // noted as lost, if any.
  void checkSaves();
  // Notes saves that could not be written, to fail the next operation.
  void lose(const RunError& why) {
    if (!lost_) lost_ = std::make_unique<RunError>(why);
  }
  // Unregisters from the exit hook (every engine's close calls it).
  void closing();
  void registerOpen();
  // Asks the wait hook whether to go on waiting; true without a hook.
  bool askToWait(Clock::duration waited, WaitReason why);
  // The failure of a statement that found the database held by another
  // program once the wait is spent: `database` names the database, `table`
  // the table when known.
  RunError busyError(const std::string& database, const std::string& table) const;
  RunError interruptedError(const std::string& database, const std::string& table) const;
  // How long this connection has waited for other programs' locks so far.
  Clock::duration waitedForOthers() const { return waitedForOthers_; }

  Clock::duration waitedForOthers_{};
  std::unique_ptr<RunError> ended_;  // why the session ended by itself: every later use fails with it

  std::uint64_t stamp_ = 0;
  NoCaseMap<std::shared_ptr<const TableLayout>> tables_;
  bool inTransaction_ = false;
  bool holding_ = false;               // a run holds its saves until commitRun()
  std::vector<std::string> deferred_;  // the definitions of the indexes a run has dropped
  std::unique_ptr<DeferredSaves> saves_;
  bool wrote_ = false;              // the open transaction holds saves
  std::unique_ptr<RunError> lost_;  // saves that could not be written, not yet reported
  Clock::time_point transactionStart_;
  unsigned calls_ = 0;  // operations since the clock was last read
};

// "name" with embedded quotes doubled.
std::string quoteName(const std::string& name);
std::string lowerCase(std::string text);

}  // namespace ms::store
