#include "job/run_driver.h"

#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>

#include "allocation/bags_table.h"
#include "allocation/region_lookups.h"
#include "allocation/selection_allocation.h"
#include "job/run_print_job.h"
#include "reports/common/publication.h"
#include "reports/line/line_report.h"
#include "run/progress.h"
#include "run/run_state.h"
#include "store/run_transaction.h"
#include "values/fault.h"
#include "values/fault_log.h"
#include "values/stop_point.h"
#include "values/text_rules.h"

namespace ms {

namespace {

// For the length of a run: the run's own print job in front of the caller's
// sink, and the run's publication in the run state. The caller's sink is
// given back afterwards, also when the run leaves with an error.
class RunScope {
 public:
  RunScope(RunState& run, RunPrintJob& job, Publication& publication) : run_(run), saved_(run.printer) {
    run_.printer = &job;
    run_.publication = &publication;
  }
  ~RunScope() {
    run_.printer = saved_;
    run_.publication = nullptr;
  }
  RunScope(const RunScope&) = delete;
  RunScope& operator=(const RunScope&) = delete;
  // The caller's sink.
  PageSink* sink() const { return saved_; }

 private:
  RunState& run_;
  PageSink* saved_;
};

// A Job Parameter that a start-up step needs, naming it when it cannot be had.
Value parameter(RunState& run, const char* name) {
  Value value = run.parmrs->field(name);
  if (value.isNull()) throw RunError(Fault::InvalidUseOfNull, std::string(name) + " in parmcode is Null");
  return value;
}

// Steps 12 and 13: every statement is skipped when it fails. A fault met
// in the allocation ends the run there: the printing would only meet its
// consequences and report them in its place.
void allocateAndPrint(RunState& run) {
  attempt([&] { allocate(run); });
  if (!run.stopping()) {
    setFaultPlace("the start of step 2 (Printing)", 0);
    attempt([&] { clearperc(run); });
    attempt([&] { run.progress->setCaption(Control::lblPerc1, "  Printing "); });
    attempt([&] { run.progress->setCaption(Control::lblPerc3, "percent complete (step 2 of 2)"); });
    attempt([&] { newfile(run); });
    attempt([&] { linerep(run); });
  }
}

// The hand-over a journal records for the run.
const std::string& handOver(const RunState& run) {
  if (!run.chainMode) return kNoHandOver;
  return run.labelsAsked ? kHandOverWithLabels : kHandOver;
}

// Step 14.3's flags, for a Chain Mode run that is about to commit: written
// with its work, so that they are cleared exactly when the work is saved.
void handOverWithTheWork(RunState& run) {
  run.chainMode = isY(run.parmrs->field("RunAlone"));
  if (!run.chainMode) return;
  run.labelsAsked = isY(run.parmrs->field("RunLabels"));
  run.parmrs->edit();
  run.parmrs->set("RunAlone", "N");
  run.parmrs->set("RunReports", "N");
  run.parmrs->update();
}

// Marks the run's transaction and writes the journal that names the mark.
// Never skipped silently: a journal that is not written is a fault of the
// run, which then does not commit.
void writeJournal(RunState& run, Publication& publication, std::string& token) {
  try {
    token = run.mdb->markRun();
    publication.prepare(run.mdb->identity(), token, handOver(run));
  } catch (const std::exception& e) {
    const auto* error = dynamic_cast<const RunError*>(&e);
    recordFault(RunError(error && isRecorded(error->fault()) ? error->fault() : Fault::Io,
                         std::string("the run's journal could not be written: ") + e.what(),
                         error ? error->where() : std::string()));
  }
}

// Commits a run whose journal is written. A commit that fails is asked
// about: the database tells whether it happened after all; when it cannot
// (the server is gone), the run is left to the next start, which can.
bool commitWithJournal(RunState& run, store::RunTransaction& transaction, Publication& publication,
                       const std::string& token) {
  if (attempt([&] { transaction.commit(); })) return true;
  bool committed = false;
  if (attempt([&] { committed = run.mdb->runCommitted(token); })) return committed;
  run.undecided = true;
  publication.leaveForRecovery();
  return false;
}

// Step 14.1: the print job is ended and the run judged. A run that finished
// without a fault writes its journal, commits its work and then puts its
// files in place and sends its pages to the printer; any other run undoes
// its work and throws its files and pages away, so the database, the folder
// and the printer are as they were before it. A kill at any instant leaves
// the journal to tell the next start which of the two it was.
void endPrintJob(RunState& run, RunPrintJob& job, store::RunTransaction& transaction,
                 Publication& publication) {
  setFaultPlace("the end of the run", 0);
  attempt([&] { job.finish(); });
  attempt([&] { run.mdb->flush(); });
  bool committed = false;
  if (run.cancelflag != "Y" && run.faults.empty()) {
    attempt([&] { handOverWithTheWork(run); });
    std::string token;
    writeJournal(run, publication, token);
    stopPoint("before-commit");
    committed = run.faults.empty() && commitWithJournal(run, transaction, publication, token);
  }
  if (committed) {
    stopPoint("after-commit");
    run.published = true;
    attempt([&] { publication.publish(); });
    run.files = publication.placed();
  } else {
    run.chainMode = run.labelsAsked = false;  // the flags were undone with the work
    transaction.rollback();
    publication.discard();
  }
  attempt([&] { run.progress->setBusyPointer(false); });
}

// The Job Parameters' JobRef, for the record of the run; empty when it
// cannot be read (the run itself does not depend on it).
std::string jobRef(store::Recordset& parameters) noexcept {
  try {
    return parameters.field("JobRef").textOrEmpty();
  } catch (...) {
    return {};
  }
}

LastRun settle(RunState& run, Publication& publication) {
  run.database = run.mdb->identity();
  Journal journal;
  const LastRun last = publication.recover(
      run.mdb->identity(), [&](const std::string& token) { return run.mdb->runCommitted(token); }, &journal);
  if (last == LastRun::Finished) {
    run.published = run.recovered = true;
    run.files = publication.placed();
    run.chainMode = journal.handOver != kNoHandOver;
    run.labelsAsked = journal.handOver == kHandOverWithLabels;
    try {
      if (auto parameters = run.mdb->openTable("parmcode"); !parameters->eof())
        run.jobref = jobRef(*parameters);
    } catch (...) {
      // The record of the run goes without it.
    }
  }
  return last;
}

// A job the run cannot do: the operator is told why and the run ends as a
// cancelled one, before any record is touched.
RunStop refuse(RunState& run, const std::string& text) {
  run.progress->message(text);
  run.cancelflag = "Y";
  attempt([&] { run.progress->setBusyPointer(false); });
  return RunStop::Refused;
}

}  // namespace

namespace {

// Steps 1 to 3: the busy pointer, Cancel and the captions of the bar.
void showTheRun(RunState& run) {
  Progress& screen = *run.progress;
  screen.setBusyPointer(true);
  screen.setVisible(Control::cmdCancel, true);
  run.cancelflag = "N";
  screen.setVisible(Control::lblPerc1, true);
  screen.setVisible(Control::lblPerc2, true);
  screen.setVisible(Control::lblPerc3, true);
}

// Steps 4 and 5: the work table in its order and the Job Parameters. While
// another program holds the database, or the server does not answer, the
// window goes on; a confirmed Cancel stops the wait. The operator is told
// why once a wait has lasted a second and the store knows, once a run for
// each reason.
void openTheJob(RunState& run) {
  run.mdb->setWaitHook([&run, told = std::array<bool, 3>{}](std::chrono::milliseconds waited,
                                                            store::WaitReason why) mutable {
    if (run.progress) attempt([&] { run.progress->yield(); });
    bool& toldWhy = told[static_cast<std::size_t>(why)];
    if (why != store::WaitReason::Unknown && !toldWhy && waited >= std::chrono::seconds(1) && run.progress) {
      toldWhy = true;
      attempt([&] { run.progress->waitingForDatabase(why); });
    }
    // A cancelled run stops waiting while it holds its work (it is undone
    // anyway); the Chain Mode flags after it are written all the same.
    return run.cancelflag != "Y" || !run.mdb->holdingRun();
  });
  run.workrs = run.mdb->openTable("kvwork");
  run.workrs->setIndex("Key1");
  run.parmrs = run.mdb->openTable("parmcode");
  if (run.parmrs->eof())
    throw RunError(Fault::NotFound, "parmcode holds no record: the job has no Job Parameters", "parmcode");
  run.jobref = jobRef(*run.parmrs);
}

// Steps 6 to 10: the region ranks, the bag limits derived from the Job
// Parameters and what can be known before anything changes. The text of the
// refusal of a job the run cannot do; empty when it can.
std::string checkTheJob(RunState& run, const std::string& databasePath) {
  getseq(run);
  if (cannotRank(run)) {
    std::string postcode;
    attempt([&] { postcode = run.parmrs->field("postcode").textOrEmpty(); });
    return cannotRankMessage(postcode);
  }
  // A weight, bag or bundle limit that is not a number, is 0 or below, or
  // is without end makes no job.
  double bagMax = 0, weight = 0, bundleMax = 0;
  if (std::string refusal = limitRefusal(run, bagMax, weight, bundleMax); !refusal.empty()) return refusal;
  run.bagitems = static_cast<std::int32_t>(std::trunc(bagMax / weight));

  run.bundlesperbag = divide(run.bagitems, bundleMax);
  run.roundin = run.bundlesperbag;
  run.roundplaces = 0;
  run.round();
  run.bundlesperbag = Val(run.roundout);

  run.parmrs->moveFirst();
  run.minsel = Val(parameter(run, "selection").text());
  run.totrecs = static_cast<double>(run.workrs->recordCount());

  Progress& screen = *run.progress;
  screen.setVisible(Control::Line1, true);
  screen.setVisible(Control::Line2, true);
  screen.setVisible(Control::Line3, true);
  screen.setVisible(Control::Line4, true);

  // Nothing fits in a bag (a BagMax below the Weight, or a negative one):
  // bags could not be counted, so the job is refused before a record is
  // touched.
  if (run.bagitems < 1) return emptyBagMessage(bagMax, weight);
  // What can be known before anything changes: a sort number kept as text
  // would sort wrongly, and a run without room or a folder it may not write
  // could only fail at its end.
  if (!run.workrs->holdsNumbers("seq")) return textSeqMessage();
  // A code kept as a blob sorts after every text: its selection would be
  // split from the records that hold the same code as text.
  if (!run.workrs->holdsTexts("mscode")) return textCodeMessage();
  return roomRefusal(databasePath, run.totrecs);
}

// Where the pages went, for the record of the run.
void notePages(RunState& run, const PageSink* sink) {
  if (!sink) return;
  run.pageswent = sink->whereThePagesWent();
  run.printedon = sink->printedOn();
  run.pagesprinted = sink->pagesPrinted();
}

}  // namespace

RunStop performRun(RunState& run, const std::string& databasePath) {
  FaultScope faultScope(run.faults);
  run.published = false;
  run.files.clear();
  showTheRun(run);

  Publication publication;
  run.mdb = store::Database::open(databasePath, store::OpenMode::Shared);
  // What a killed run left in the folder is settled first, from what the
  // database says of it: a run that had committed has its files put in
  // place, and nothing more is done.
  if (settle(run, publication) == LastRun::Finished) {
    run.progress->setBusyPointer(false);
    return RunStop::Recovered;
  }
  // This run's files and pages are staged with its publication until it
  // has finished.
  RunPrintJob job(run.printer, &publication);
  RunScope scope(run, job, publication);

  openTheJob(run);
  if (const std::string refusal = checkTheJob(run, databasePath); !refusal.empty())
    return refuse(run, refusal);
  checkFilesCanBeWritten();

  // From here on the run's work is one transaction. A database that cannot
  // be written, or a Cancel or the end of the wait for the write lock, ends
  // the run before it begins.
  store::RunTransaction transaction(*run.mdb);
  setFaultPlace("the start of the run", 0);
  attempt([&] { transaction.begin(); });
  if (!run.stopping()) allocateAndPrint(run);
  endPrintJob(run, job, transaction, publication);

  notePages(run, scope.sink());
  return run.cancelflag == "Y" ? RunStop::Cancelled : RunStop::Finished;
}

bool settleLastRun(RunState& run, const std::string& databasePath) {
  std::error_code error;
  if (!std::filesystem::exists(std::filesystem::symlink_status(Publication::kJournalName, error)))
    return false;
  Publication publication;
  run.mdb = store::Database::open(databasePath, store::OpenMode::Shared);
  return settle(run, publication) == LastRun::Finished;
}

RunEnd endRun(RunState& run, ProgramStarter& starter, const std::string& labelProgram) {
  FaultScope faultScope(run.faults);
  RunEnd end;
  // A run that committed wrote its hand-over with its work; any other
  // Chain Mode run writes it now. Outside Chain Mode, or when the run never
  // got its Job Parameters, the flags are left as they are.
  const bool committed = run.published;
  if (committed ? run.chainMode
                : run.parmrs && run.mdb && test([&] { return isY(run.parmrs->field("RunAlone")); })) {
    end.chainMode = true;
    const bool labels =
        committed ? run.labelsAsked
                  : test([&] { return isY(run.parmrs->field("RunLabels")) && run.cancelflag != "Y"; });
    // Written here unless they were written with the work.
    if (!committed || (run.parmrs && test([&] { return isY(run.parmrs->field("RunAlone")); }))) {
      attempt([&] { run.parmrs->edit(); });
      attempt([&] { run.parmrs->set("RunAlone", "N"); });
      attempt([&] { run.parmrs->set("RunReports", "N"); });
      attempt([&] { run.parmrs->update(); });
    }
    if (run.mdb) attempt([&] { run.mdb->close(); });
    // A run that met a fault hands nothing on, as a cancelled run.
    if (labels && run.faults.empty()) {
      const std::string program = findInPath(labelProgram);
      end.labelProgramStarted = !program.empty() && starter.startDetached(program);
      if (!end.labelProgramStarted) {
        const char* path = std::getenv("PATH");
        end.labelProblem = labelProgramMessage(labelProgram, program, path ? path : "");
      }
    }
  }
  end.incomplete = !run.faults.empty();
  return end;
}

std::string labelProgramMessage(const std::string& program, const std::string& found,
                                const std::string& path) {
  const std::string what = found.empty()
                               ? "The label program " + program + " was not found in PATH (" + path + ")"
                               : "The label program " + found + " could not be started";
  return what +
         ", so the labels were not started. The run's paperwork is complete and in place; "
         "start the label program by hand.";
}

std::string findInPath(const std::string& program) {
  const char* path = std::getenv("PATH");
  std::string entries = path ? path : "";
  for (std::size_t start = 0; start <= entries.size();) {
    std::size_t end = entries.find(':', start);
    if (end == std::string::npos) end = entries.size();
    const std::string folder = entries.substr(start, end - start);
    start = end + 1;
    if (folder.empty() || folder[0] != '/') continue;
    const std::string candidate = folder + "/" + program;
    struct stat status {};
    if (::stat(candidate.c_str(), &status) == 0 && S_ISREG(status.st_mode) &&
        ::access(candidate.c_str(), X_OK) == 0)
      return candidate;
  }
  return {};
}

}  // namespace ms
