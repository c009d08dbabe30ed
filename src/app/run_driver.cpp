#include "app/run_driver.h"

#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <QProcess>
#include <QString>
#include <QStringList>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <limits>

#include "allocation/bags_table.h"
#include "allocation/region_lookups.h"
#include "allocation/selection_allocation.h"
#include "app/run_print_job.h"
#include "reports/common/output_file.h"
#include "reports/common/publication.h"
#include "reports/line/line_report.h"
#include "run/progress.h"
#include "run/run_state.h"
#include "values/fault.h"
#include "values/fault_log.h"
#include "values/stop_point.h"
#include "values/text_rules.h"

namespace ms {

namespace {

// Puts the run's own print job in front of the caller's sink for the length
// of a run, and gives the caller's sink back afterwards, also when the run
// leaves with an error.
class PrinterSwap {
 public:
  PrinterSwap(RunState& run, RunPrintJob& job) : run_(run), saved_(run.printer) { run_.printer = &job; }
  ~PrinterSwap() { run_.printer = saved_; }
  PrinterSwap(const PrinterSwap&) = delete;
  PrinterSwap& operator=(const PrinterSwap&) = delete;
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

// A job whose posting postcode gives no region ranks cannot be sequenced
// by region; without Regional Sequencing the ranks are not needed.
bool cannotRank(RunState& run) {
  bool inForce = false;
  attempt([&] { inForce = run.regionalSequencing(); });
  return inForce && run.sortcodes.empty();
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
bool commitWithJournal(RunState& run, Publication& publication, const std::string& token) {
  if (attempt([&] { run.mdb->commitRun(); })) return true;
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
void endPrintJob(RunState& run, RunPrintJob& job, Publication& publication) {
  setFaultPlace("the end of the run", 0);
  attempt([&] { job.finish(); });
  attempt([&] { run.mdb->flush(); });
  bool committed = false;
  if (run.cancelflag != "Y" && run.faults.empty()) {
    attempt([&] { handOverWithTheWork(run); });
    std::string token;
    writeJournal(run, publication, token);
    stopPoint("before-commit");
    committed = run.faults.empty() && commitWithJournal(run, publication, token);
  }
  if (committed) {
    stopPoint("after-commit");
    run.published = true;
    attempt([&] { publication.publish(); });
    run.files = publication.placed();
  } else {
    run.chainMode = run.labelsAsked = false;  // the flags were undone with the work
    run.mdb->rollbackRun();
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

// Megabytes, whole: what is needed rounded up, what is free rounded down, so
// that a refusal never shows the two alike.
std::string megabytes(double bytes, bool roundUp) {
  return plainText(roundUp ? std::ceil(bytes / 1e6) : std::floor(bytes / 1e6)) + " MB";
}

// Free room on the file system of `path`, in bytes, and the file system.
std::pair<double, dev_t> freeRoom(const std::string& path) {
  struct statvfs room {};
  struct stat where {};
  if (::statvfs(path.c_str(), &room) != 0 || ::stat(path.c_str(), &where) != 0) return {-1, 0};
  return {static_cast<double>(room.f_bavail) * static_cast<double>(room.f_frsize), where.st_dev};
}

// Whether the folder and the database have room for the run: the Post Office
// files and the PDF (about kOutputBytesPerRecord a record) in the folder,
// and, for a database file, its log, which may grow to the size of the file
// while the run holds its work. The text of the refusal; empty when there is
// room.
constexpr double kOutputBytesPerRecord = 160;
constexpr double kOutputBytesFixed = 4e6;

std::string roomRefusal(const std::string& databasePath, double records) {
  const std::string folder = std::filesystem::current_path().string();
  auto [folderFree, folderDevice] = freeRoom(".");
  double folderNeeds = kOutputBytesFixed + records * kOutputBytesPerRecord;
  std::error_code error;
  const auto size = std::filesystem::file_size(databasePath, error);
  if (!error) {
    std::string databaseFolder = std::filesystem::path(databasePath).parent_path().string();
    auto [databaseFree, databaseDevice] = freeRoom(databaseFolder.empty() ? "." : databaseFolder);
    if (databaseDevice == folderDevice)
      folderNeeds += static_cast<double>(size);
    else if (databaseFree >= 0 && databaseFree < static_cast<double>(size))
      return roomMessage(databasePath, static_cast<double>(size), databaseFree);
  }
  if (folderFree >= 0 && folderFree < folderNeeds) return roomMessage(folder, folderNeeds, folderFree);
  return {};
}

// Each file the run writes can be created in the folder: a temporary file
// beside each name is made and removed again. Fails naming the file.
void checkFilesCanBeWritten() {
  for (const std::string& name : Publication::outputNames()) {
    OutputFile probe;
    ::close(probe.create(name));
  }
}

// The limits that make a job, each a finite number above 0, read into
// `bagMax`, `weight` and `bundleMax`: items per bag and bundles per bag are
// counted from them. The text of the refusal; empty when they do.
std::string limitRefusal(RunState& run, double& bagMax, double& weight, double& bundleMax) {
  const std::pair<const char*, double*> limits[] = {
      {"BagMax", &bagMax}, {"Weight", &weight}, {"BundleMax", &bundleMax}};
  for (const auto& [name, value] : limits) {
    const Value field = run.parmrs->field(name);
    if (field.isNull()) return notNumberMessage(name, field);
    try {
      *value = field.number();
    } catch (const RunError&) {
      return notNumberMessage(name, field);
    }
    if (!(*value > 0) || !std::isfinite(*value)) return notPositiveMessage(name, *value);
  }
  if (bundleMax < 1) return smallBundleMessage(bundleMax);
  const double whole = std::trunc(bagMax / weight);
  if (!(whole <= std::numeric_limits<std::int32_t>::max())) return manyItemsMessage(bagMax, weight);
  return {};
}

}  // namespace

std::string cannotRankMessage(const std::string& postcode) {
  return "The posting postcode \"" + postcode +
         "\" finds no selection with region ranks, so this job cannot be sequenced by region. "
         "The run stops and nothing has been written.";
}

namespace {

std::string limitMessage(const std::string& field, const std::string& shown) {
  return field + " in parmcode is " + shown +
         ": it must be a number greater than 0 to make a job. The run stops and nothing has been written.";
}

}  // namespace

std::string notPositiveMessage(const std::string& field, double value) {
  return limitMessage(field, plainText(value));
}

std::string notNumberMessage(const std::string& field, const Value& value) {
  return limitMessage(field, value.isNull() ? "Null" : "\"" + value.text() + "\"");
}

std::string manyItemsMessage(double bagMax, double weight) {
  return "BagMax " + plainText(bagMax) + " with an item Weight of " + plainText(weight) +
         " gives more items per bag than can be counted. The run stops and nothing has been written.";
}

std::string smallBundleMessage(double bundleMax) {
  return "BundleMax in parmcode is " + plainText(bundleMax) +
         ": a bundle must hold at least one item. The run stops and nothing has been written.";
}

std::string textCodeMessage() {
  return "The field mscode of kvwork holds values that are not texts, so its selections would not come "
         "together. Change them into texts. The run stops and nothing has been written.";
}

std::string textSeqMessage() {
  return "The field seq of kvwork holds texts, not numbers, so the sort numbers would sort as texts. "
         "Change its type to a number type. The run stops and nothing has been written.";
}

std::string roomMessage(const std::string& place, double needs, double free) {
  return "There is not room enough for this run in " + place + ": it needs about " + megabytes(needs, true) +
         " and " + megabytes(free, false) +
         " are free. Make room and run the job again. "
         "The run stops and nothing has been written.";
}

std::string emptyBagMessage(double bagMax, double weight) {
  return "A bag holds no item: BagMax " + plainText(bagMax) + " with an item Weight of " + plainText(weight) +
         " leaves no whole item per bag. The run stops and nothing has been written.";
}

RunStop performRun(RunState& run, const std::string& databasePath) {
  FaultScope faultScope(run.faults);
  Progress& screen = *run.progress;
  RunPrintJob job(run.printer);
  PrinterSwap swap(run, job);
  run.published = false;
  run.files.clear();

  // Steps 1 to 10, not guarded.
  screen.setBusyPointer(true);
  screen.setVisible(Control::cmdCancel, true);
  run.cancelflag = "N";
  screen.setVisible(Control::lblPerc1, true);
  screen.setVisible(Control::lblPerc2, true);
  screen.setVisible(Control::lblPerc3, true);

  Publication publication;
  run.mdb = store::Database::open(databasePath, store::OpenMode::Shared);
  // What a killed run left in the folder is settled first, from what the
  // database says of it: a run that had committed has its files put in
  // place, and nothing more is done.
  if (settle(run, publication) == LastRun::Finished) {
    screen.setBusyPointer(false);
    return RunStop::Recovered;
  }
  // This run's files are staged until it has finished.
  PublicationScope publicationScope(publication);

  // While another program holds the database, or the server does not
  // answer, the window goes on; a confirmed Cancel stops the wait. The
  // operator is told why once a wait has lasted a second and the store
  // knows, once a run for each reason.
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

  getseq(run);
  if (cannotRank(run)) {
    std::string postcode;
    attempt([&] { postcode = run.parmrs->field("postcode").textOrEmpty(); });
    return refuse(run, cannotRankMessage(postcode));
  }
  // A weight, bag or bundle limit that is not a number, is 0 or below, or
  // is without end makes no job.
  double bagMax = 0, weight = 0, bundleMax = 0;
  if (const std::string refusal = limitRefusal(run, bagMax, weight, bundleMax); !refusal.empty())
    return refuse(run, refusal);
  run.bagitems = static_cast<std::int32_t>(std::trunc(bagMax / weight));

  run.bundlesperbag = divide(run.bagitems, bundleMax);
  run.roundin = run.bundlesperbag;
  run.roundplaces = 0;
  run.round();
  run.bundlesperbag = Val(run.roundout);

  run.parmrs->moveFirst();
  run.minsel = Val(parameter(run, "selection").text());
  run.totrecs = static_cast<double>(run.workrs->recordCount());

  screen.setVisible(Control::Line1, true);
  screen.setVisible(Control::Line2, true);
  screen.setVisible(Control::Line3, true);
  screen.setVisible(Control::Line4, true);

  // Nothing fits in a bag (a BagMax below the Weight, or a negative one):
  // bags could not be counted, so the job is refused before a record is
  // touched.
  if (run.bagitems < 1) return refuse(run, emptyBagMessage(bagMax, weight));
  // What can be known before anything changes: a sort number kept as text
  // would sort wrongly, and a run without room or a folder it may not write
  // could only fail at its end.
  if (!run.workrs->holdsNumbers("seq")) return refuse(run, textSeqMessage());
  // A code kept as a blob sorts after every text: its selection would be
  // split from the records that hold the same code as text.
  if (!run.workrs->holdsTexts("mscode")) return refuse(run, textCodeMessage());
  if (const std::string refusal = roomRefusal(databasePath, run.totrecs); !refusal.empty())
    return refuse(run, refusal);
  checkFilesCanBeWritten();
  // From here on the run's work is one transaction. A database that cannot
  // be written, or a Cancel or the end of the wait for the write lock, ends
  // the run before it begins.
  setFaultPlace("the start of the run", 0);
  attempt([&] { run.mdb->beginRun(); });
  if (!run.stopping()) allocateAndPrint(run);

  endPrintJob(run, job, publication);
  if (PageSink* sink = swap.sink()) {
    // Where the pages went, for the record of the run.
    run.pageswent = sink->whereThePagesWent();
    run.printedon = sink->printedOn();
    run.pagesprinted = sink->pagesPrinted();
  }
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

RunEnd endRun(RunState& run, const std::string& labelProgram) {
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
      end.labelProgramStarted =
          !program.empty() && QProcess::startDetached(QString::fromStdString(program), {});
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
