#include "app/batch_run.h"

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <memory>

#include "app/qt_page_sink.h"
#include "app/qt_program_starter.h"
#include "app/run_log.h"
#include "app/short_date.h"
#include "job/batch_progress.h"
#include "job/command_line.h"
#include "job/run_driver.h"
#include "job/run_summary.h"
#include "job/start_gate.h"
#include "run/run_state.h"
#include "values/fault_log.h"

namespace ms {

int runBatch(const std::string& databasePath, const PrintOn& printOn) {
  const auto start = std::chrono::steady_clock::now();
  watchCancelSignals();
  // Chain Mode or not, the run starts at once; the gate still holds.
  if (startGate(databasePath) == GateResult::Refused) {
    std::fprintf(stderr, "%s\n", gateRefusalMessage(databasePath).c_str());
    return kGateRefused;
  }

  StreamProgress progress(stderr, ::isatty(STDERR_FILENO) == 1);
  RunState run;
  progress.attach(run);
  run.progress = &progress;
  // The same pages as the window's run: MAILSORT.PDF and the printer.
  auto printer = std::make_unique<QtPageSink>("MAILSORT.PDF", printOn);
  run.printer = printer.get();
  run.rundate = todayShortDate();

  RunStop stop;
  try {
    stop = performRun(run, databasePath);
  } catch (const std::exception& e) {
    progress.setBusyPointer(false);
    std::fprintf(stderr, "Run-time error: %s\nThe run did not start: nothing was changed.\n",
                 describeFailure(e).c_str());
    if (const std::string problem =
            appendRunLog(failedRunLogLine(run, describeFailure(e), kFailed, databasePath));
        !problem.empty())
      std::fprintf(stderr, "%s\n", problem.c_str());
    return kFailed;
  }
  const std::string pagesWent = printer->whereThePagesWent();
  printer.reset();  // the job is over: the printer and the PDF are released

  QtProgramStarter labels;
  const RunEnd end = endRun(run, labels);
  const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
  if (end.incomplete) std::fprintf(stderr, "%s\n", run.faults.report(run.kept()).c_str());
  std::fputs(runSummary(run, stop, pagesWent, took.count()).c_str(), stderr);
  if (!end.labelProblem.empty()) std::fprintf(stderr, "%s\n", end.labelProblem.c_str());
  // The record of the run; one that cannot be written is said and changes
  // nothing of the run, nor its status.
  const int status = runStatus(stop, end);
  if (const std::string problem = appendRunLog(runLogLine(run, stop, status, databasePath)); !problem.empty())
    std::fprintf(stderr, "%s\n", problem.c_str());
  return status;
}

}  // namespace ms
