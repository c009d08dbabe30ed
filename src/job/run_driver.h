// The Run Driver: one whole run of the Progress Window, from opening the
// Mailsort Database to handing over to the label program. It works against
// the Progress interface and the page sink that the caller puts into the run
// state, so that a run can be driven without any window.
#pragma once

#include <string>

#include "job/run_checks.h"
#include "store/database.h"

namespace ms {

struct RunState;

// How a run that got its Job Parameters stopped.
enum class RunStop {
  Finished,   // both steps ran to their end
  Cancelled,  // Cancel was confirmed during a pass
  Refused,    // the job was refused before the allocation, with a message
  Recovered,  // the last run in the folder had committed: its files were put in place, nothing more done
};

// Steps 1 to 14.1: finishes or clears what a killed run left in the folder,
// opens the database (`databasePath`, "mailsort.mdb" in the current
// directory for the program), reads the Job Parameters, derives the bag
// limits and checks what can be known before anything changes (the limits,
// the type of `seq`, that `mscode` holds only texts, room on the disk, that the folder and the database can
// be written); then allocates (step 1 of 2) and, unless cancelled,
// re-creates the bags table and prints the reports (step 2 of 2); then
// restores the pointer.
//
// The run is all or nothing: its saves and the new bags table are one
// transaction, and its files and pages are written aside. A run that
// finishes without a fault commits, puts its files in place and sends its
// pages to the printer (`run.published`); a run that is cancelled or meets a
// fault undoes all of it, so the database, the folder and the printer are as
// they were.
//
// Up to the derived limits nothing is guarded: a failure there (missing file
// or table, Null or non-numeric parameter) leaves as an exception, naming
// what failed, for the caller to report. From the allocation on, a failing
// statement is skipped and the run goes on; faults of the machine or of the
// database among them are kept in `run.faults` and end the run.
//
// `run.progress` must be set; `run.printer` may be null (nothing printed).
RunStop performRun(RunState& run, const std::string& databasePath = store::kMailsortDatabase);

// At the start of the program, before the Start Dialog waits for OK:
// settles what a run killed in the folder left, as performRun does first.
// True when that run had committed: its files are now in place, `run` holds
// it as a recovered run (RunStop::Recovered, for endRun and the summary),
// and no run is needed. Nothing is opened when no journal is left.
bool settleLastRun(RunState& run, const std::string& databasePath = store::kMailsortDatabase);

struct RunEnd {
  bool chainMode = false;            // the program ends now
  bool labelProgramStarted = false;  // kvprint.exe was started
  bool incomplete = false;           // the run met faults: `run.faults` says which
  std::string labelProblem;          // why the label program asked for was not started
};

// Starts a program at its whole path without waiting for it: how the label
// program is started. The program's own is app/qt_program_starter.h.
class ProgramStarter {
 public:
  virtual ~ProgramStarter() = default;
  // True when the program started.
  virtual bool startDetached(const std::string& path) = 0;
};

// Step 14.3, after the Progress Window has gone: in Chain Mode writes
// `RunAlone` and `RunReports` as "N" in one update, closes the database and,
// when `RunLabels` is "Y", the run was not cancelled and met no fault, starts
// `labelProgram` with `starter` (looked up in the absolute entries of PATH
// only, not waited for); `labelProblem` says why when it cannot. Outside Chain Mode nothing
// is changed and the database stays open.
RunEnd endRun(RunState& run, ProgramStarter& starter, const std::string& labelProgram = "kvprint.exe");

// The message for a label program that was asked for and could not be
// found in `path` (`found` empty) or started.
std::string labelProgramMessage(const std::string& program, const std::string& found,
                                const std::string& path);

// Where `program` is found in the absolute entries of PATH (a relative entry,
// "." or an empty one, never counts); the empty text when nowhere.
std::string findInPath(const std::string& program);

}  // namespace ms
