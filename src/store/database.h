// The Mailsort Database, opened shared or exclusive: an SQLite file, or a
// schema on a PostgreSQL server named by a postgresql:// URI.
//
// Every open holds a lock that other programs of the suite respect: on a
// file an advisory flock(2) on the file itself, on a server an advisory lock
// of the session on a key naming the database and schema; shared for a
// shared open, exclusive (non-blocking) for an exclusive open. An open that
// cannot get its lock fails with Fault::InUse ("database in use").
//
// Saves made through recordsets are grouped into transactions that the store
// commits by itself at short intervals while it is used, when a walk ends,
// when a DDL statement runs, when the program is idle (idle()), on close and
// on destruction; callers never see transactions, except that a run holds
// all of its work in one (beginRun). One thread uses a database.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "store/table_def.h"

namespace ms::store {

class Recordset;
struct Connection;

// Look: a shared open for reading only, as the Start Dialog takes a look at
// the job: the store writes nothing (the journal mode is left as it is, a
// save fails), hands no gate over, and waits for a lock only as briefly as
// the exclusive check does.
enum class OpenMode { Shared, Exclusive, Look };

// Why a statement waits, as the store tells the wait hook: another program
// holds the database (a lock); the server does not answer (a second
// connection could not get an answer from it either); or nothing to tell
// (not known yet, or the engine is at work on the statement itself).
enum class WaitReason { Unknown, OtherProgram, Server };

// The file the suite's programs share, in the folder they work in.
inline const std::string kMailsortDatabase = "mailsort.mdb";

// The longest whole path of a database file, in bytes, with its symbolic
// links resolved, that SQLite opens: the names of its log and journal are 8
// bytes longer, and the engine takes none beyond 512.
inline constexpr std::size_t kLongestDatabasePath = 504;
// The whole path SQLite opens for `path`, with its links resolved, when it
// is longer than kLongestDatabasePath; empty when it is not.
std::string overlongDatabasePath(const std::string& path);
// The whole path of a database file, with its symbolic links resolved (as
// far as they can be), as SQLite opens it and as journals and logs name it.
std::string wholeDatabasePath(const std::string& path);

// The first 16 bytes of every SQLite database file: "SQLite format 3" and a
// zero. A file is known to be a database by them before the engine opens it
// (the engine would take an empty file for a new database and write one).
inline const std::string kSqliteHeader("SQLite format 3\0", 16);
// Whether the file at `path` begins with kSqliteHeader (false when it cannot
// be read).
bool beginsAsSqliteDatabase(const std::string& path);

class Database {
 public:
  // Opens an existing file (never creates one) or connects to the server a
  // URI names. Fails with Fault::NotFound when the file is missing,
  // Fault::InUse when its lock is held elsewhere, Fault::Io when the server
  // is down or refuses the login.
  static std::unique_ptr<Database> open(const std::string& path, OpenMode mode);
  ~Database();
  Database(const Database&) = delete;
  Database& operator=(const Database&) = delete;

  // A table-type recordset, positioned on its first record (rowid order until
  // an index is chosen). Fails with Fault::NotFound for an unknown table.
  std::unique_ptr<Recordset> openTable(const std::string& table);

  // Runs the one SQL statement the system uses, "DROP TABLE[bags]" (any
  // DROP TABLE of one table, its name in brackets, quotes or bare); fails
  // with Fault::Engine for anything else.
  void execute(const std::string& sql);

  // Creates a table from its definition. Fails when the table exists.
  void appendTableDef(const TableDef& def);

  // Writes the saves made so far to the database now. Fails when they cannot be
  // written (they are then lost, and the failure says so).
  void flush();
  // Tells the store that the program has nothing for it to do for a while
  // (call it every quarter second or so while idle): saves pending since the
  // last commit interval are committed, so that other programs see them and
  // a killed program loses none of them. Never fails; a commit that failed
  // fails the next operation.
  void idle();

  // A run's work as one transaction: from beginRun() on, the saves and the
  // DDL become visible together at commitRun() or are undone together by
  // rollbackRun(), also when the program ends or is killed before either.
  // beginRun() takes the write lock at once (waiting for other programs as
  // a statement does) and fails, changing nothing, when the database may not
  // be written; commitRun() fails, after rolling back, when the work cannot
  // be committed or a save was lost on the way.
  void beginRun();
  void commitRun();
  void rollbackRun() noexcept;
  // Between beginRun() and its commit or rollback.
  bool holdingRun() const;
  // The evidence that a run committed, for its files' journal. Within a run,
  // markRun() writes a token into the run's transaction and returns it (a
  // text without tab or line end): the token is in the database exactly
  // when the run has committed, and stays there until the next run marks
  // its own. runCommitted() tells from the database whether the run that
  // was given `token` committed; it fails, naming the database, when that
  // cannot be told (a token this engine does not make, a transaction the
  // server still holds open after a wait of some seconds, a transaction so
  // old that the server has forgotten it).
  std::string markRun();
  bool runCommitted(const std::string& token);
  // The database as a journal names it: the file's whole path, or the
  // server, database and schema. Without tab or line end.
  std::string identity() const;
  // Within a run: index `index` of `table` (named as setIndex names it) is
  // dropped until writeDeferred() or commitRun() builds it again, once. A
  // pass that moves most records' entries in that index saves the work; a
  // rollback leaves the index as it was. Does nothing outside a run, for a
  // unique index, or on PostgreSQL (an index built in the transaction that
  // updated the table is not used until that transaction ends).
  void deferIndex(const std::string& table, const std::string& index);
  // Within a run: the saves of `columns` (at most two, held by no index that
  // is not deferred) into existing records of `table` are kept in memory
  // and written all at once in the file's order by writeDeferred(),
  // commitRun() or the next DDL; the recordsets read the kept values
  // meanwhile, and a rollback drops them. A pass that saves into nearly
  // every record in another order than the file's saves most of the cost
  // of those writes. Such a save does not tell that its record has been
  // deleted. Does nothing outside a run, or on PostgreSQL.
  // At most `limit` records' saves are kept at once (24 bytes each); then
  // they are written and the keeping starts again.
  void deferSaves(const std::string& table, const std::vector<std::string>& columns,
                  std::size_t limit = std::size_t{1} << 20);
  // Writes the deferred saves, then builds the deferred indexes.
  void writeDeferred();

  // Commits what is pending and closes the database; recordsets opened from it
  // fail from then on. Closing twice is harmless.
  void close();

  // For an exclusive open: from its close until this process next opens the
  // same file shared, no other program's exclusive open can succeed, so the
  // run that follows the Start Dialog's check gets in before anyone else.
  void handOver();

  // While another program holds the database, a statement waits for it,
  // calling `hook` every 20 ms or so with how long this wait has lasted and
  // why it waits, so that a window can repaint and answer its buttons (and,
  // with 0 and Unknown, while a deferred index is built, which goes on
  // whatever it returns). The hook returns false to stop waiting (Cancel
  // confirmed): the statement then fails at once with Fault::Interrupted. A
  // connection waits at most `wait` (60 s unless set) in all over its life;
  // a statement that meets a lock after that fails with Fault::Busy at once,
  // so a lock held for good costs one minute, not one per statement. On
  // SQLite every wait is for another program. On PostgreSQL the hook also
  // runs while the server has not answered, with Unknown until the store
  // has found out why: a second past the start of a wait it asks the server
  // on a connection of its own whether another session blocks this one
  // (OtherProgram), and a server that gives that question no answer within
  // two seconds is one that does not answer (Server). A server that sends
  // nothing for `silence` (60 s unless set) beyond a lock wait it was
  // allowed fails the statement with Fault::Io and ends the session (the
  // server rolls back what was not committed).
  using WaitHook = std::function<bool(std::chrono::milliseconds waited, WaitReason why)>;
  void setWaitHook(WaitHook hook);
  void setBusyWait(std::chrono::milliseconds wait);
  void setSilenceLimit(std::chrono::milliseconds silence);
  bool isOpen() const;

 private:
  explicit Database(std::shared_ptr<Connection> connection);
  std::shared_ptr<Connection> connection_;
};

}  // namespace ms::store
