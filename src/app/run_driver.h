// The Run Driver: one whole run of the Progress Window, from opening the
// Mailsort Database to handing over to the label program. It works against
// the Progress interface and the page sink that the caller puts into the run
// state, so that a run can be driven without any window.
#pragma once

#include <string>

#include "store/database.h"

namespace ms {

struct RunState;

// Texts of the jobs the run refuses before it touches a record.
std::string cannotRankMessage(const std::string& postcode);
std::string emptyBagMessage(double bagMax, double weight);
std::string notPositiveMessage(const std::string& field, double value);

// How a run that got its Job Parameters stopped.
enum class RunStop {
  Finished,   // both steps ran to their end
  Cancelled,  // Cancel was confirmed during a pass
  Refused,    // the job was refused before the allocation, with a message
};

// Steps 1 to 14.1: opens the database (`databasePath`, "mailsort.mdb" in the
// current directory for the program), reads the Job Parameters, derives the
// bag limits, allocates (step 1 of 2) and, unless cancelled, re-creates the
// bags table and prints the reports (step 2 of 2); then restores the pointer.
//
// Up to the derived limits nothing is guarded: a failure there (missing file
// or table, Null or non-numeric parameter) leaves as an exception, naming
// what failed, for the caller to report. From the allocation on, a failing
// statement is skipped and the run goes on; faults of the machine or of the
// database among them are kept in `run.faults`.
//
// `run.progress` must be set; `run.printer` may be null (nothing printed).
// Whatever the run printed is ended as one job before this returns, also
// when the run was cancelled.
RunStop performRun(RunState& run, const std::string& databasePath = store::kMailsortDatabase);

struct RunEnd {
  bool chainMode = false;            // the program ends now
  bool labelProgramStarted = false;  // kvprint.exe was started
  bool incomplete = false;           // the run met faults: `run.faults` says which
};

// Step 14.3, after the Progress Window has gone: in Chain Mode writes
// `RunAlone` and `RunReports` as "N" in one update, closes the database and,
// when `RunLabels` is "Y", the run was not cancelled and met no fault, starts
// `labelProgram` (looked up in the absolute entries of PATH only, not waited
// for). Outside Chain Mode nothing is changed and the database stays open.
RunEnd endRun(RunState& run, const std::string& labelProgram = "kvprint.exe");

// Where `program` is found in the absolute entries of PATH (a relative entry,
// "." or an empty one, never counts); the empty text when nowhere.
std::string findInPath(const std::string& program);

}  // namespace ms
