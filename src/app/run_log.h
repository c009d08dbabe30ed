// The record of every run: one line appended to MAILSORT.LOG in the job's
// folder for each run, finished or not, by the batch run and the window
// alike, once the run's end is known (after its files were put in place or
// its work undone). Each line is one JSON object; the lines of earlier runs
// are never rewritten. A log that cannot be written is said, and changes
// nothing of the run.
#pragma once

#include <string>

#include "job/run_driver.h"

namespace ms {

struct RunState;

// The log's name in the folder.
inline constexpr const char* kRunLogName = "MAILSORT.LOG";

// The exit status of a batch run that stopped as `stop` and ended as `end`
// (BatchStatus): a run that met faults, or whose label program could not be
// started, has failed; otherwise as it stopped.
int runStatus(RunStop stop, const RunEnd& end);

// The record of a run that got as far as `stop`, with the program's `status`:
// the time, user and host, the folder, the database, JobRef, the outcome
// and the status; for a run that finished, the addresses (matched and not),
// the direct and residue selections with their items, the bags, the costs
// as the Planning Report printed them; the printer and the pages printed;
// each file put in place with its size and SHA-256; and the faults met.
// `database` names the database when the run never opened it. One line,
// ended by a line feed.
std::string runLogLine(const RunState& run, RunStop stop, int status, const std::string& database);

// The record of a run that could not start: `error` says why.
std::string failedRunLogLine(const RunState& run, const std::string& error, int status,
                             const std::string& database);

// Appends `line` to MAILSORT.LOG in the current folder, creating it when it
// is not there: one write of the whole line, then synced to the disk. The
// operator's message when it could not be written (naming the log's whole
// path and why); empty when it was.
std::string appendRunLog(const std::string& line);

// A text as a JSON string, quotes included: quotes, backslashes and control
// characters escaped, other characters as UTF-8 (a byte that is not part of
// valid UTF-8 becomes U+FFFD).
std::string jsonString(const std::string& text);

// The SHA-256 of the file at `path` in lower-case hex; empty when it cannot
// be read.
std::string fileSha256(const std::string& path);

}  // namespace ms
