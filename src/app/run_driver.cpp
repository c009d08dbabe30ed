#include "app/run_driver.h"

#include <QProcess>
#include <QString>
#include <QStringList>
#include <cmath>
#include <cstdint>
#include <limits>

#include "allocation/bags_table.h"
#include "allocation/region_lookups.h"
#include "allocation/selection_allocation.h"
#include "app/run_print_job.h"
#include "reports/common/text_rules.h"
#include "reports/line/line_report.h"
#include "run/progress.h"
#include "run/run_state.h"
#include "store/fault.h"

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

 private:
  RunState& run_;
  PageSink* saved_;
};

std::int32_t wholeBagItems(double bagMax, double weight) {
  double whole = std::trunc(divide(bagMax, weight));
  if (!(whole >= std::numeric_limits<std::int32_t>::min() &&
        whole <= std::numeric_limits<std::int32_t>::max()))
    throw RunError(Fault::Overflow, "Overflow");
  return static_cast<std::int32_t>(whole);
}

// A job whose posting postcode gives no region ranks cannot be sequenced
// by region; without Regional Sequencing the ranks are not needed.
bool cannotRank(RunState& run) {
  bool inForce = false;
  attempt([&] { inForce = run.regionalSequencing(); });
  return inForce && run.sortcodes.empty();
}

void stopBeforeAllocation(RunState& run, const std::string& text) {
  run.progress->message(text);
  run.cancelflag = "Y";
}

// Steps 12 and 13: every statement is skipped when it fails.
void allocateAndPrint(RunState& run) {
  attempt([&] { allocate(run); });
  if (test([&] { return run.cancelflag != "Y"; })) {
    attempt([&] { clearperc(run); });
    attempt([&] { run.progress->setCaption(Control::lblPerc1, "  Printing "); });
    attempt([&] { run.progress->setCaption(Control::lblPerc3, "percent complete (step 2 of 2)"); });
    attempt([&] { newfile(run); });
    attempt([&] { linerep(run); });
  }
}

}  // namespace

std::string cannotRankMessage(const std::string& postcode) {
  return "The posting postcode \"" + postcode +
         "\" finds no selection with region ranks, so this job cannot be sequenced by region. "
         "The run stops and nothing has been written.";
}

std::string emptyBagMessage(double bagMax, double weight) {
  return "A bag holds no item: BagMax " + plainText(bagMax) + " with an item Weight of " + plainText(weight) +
         " leaves no whole item per bag. The run stops and nothing has been written.";
}

void performRun(RunState& run, const std::string& databasePath) {
  Progress& screen = *run.progress;
  RunPrintJob job(run.printer);
  PrinterSwap swap(run, job);

  // Steps 1 to 10, not guarded.
  screen.setBusyPointer(true);
  screen.setVisible(Control::cmdCancel, true);
  run.cancelflag = "N";
  screen.setVisible(Control::lblPerc1, true);
  screen.setVisible(Control::lblPerc2, true);
  screen.setVisible(Control::lblPerc3, true);

  run.mdb = store::Database::open(databasePath, store::OpenMode::Shared);
  run.workrs = run.mdb->openTable("kvwork");
  run.workrs->setIndex("Key1");
  run.parmrs = run.mdb->openTable("parmcode");

  getseq(run);
  if (cannotRank(run)) {
    std::string postcode;
    attempt([&] { postcode = run.parmrs->field("postcode").textOrEmpty(); });
    stopBeforeAllocation(run, cannotRankMessage(postcode));
  } else {
    double bagMax = run.parmrs->field("BagMax").number();
    double weight = run.parmrs->field("Weight").number();
    run.bagitems = wholeBagItems(bagMax, weight);

    run.bundlesperbag = divide(run.bagitems, run.parmrs->field("BundleMax").number());
    run.roundin = run.bundlesperbag;
    run.roundplaces = 0;
    run.round();
    run.bundlesperbag = Val(run.roundout);

    run.parmrs->moveFirst();
    run.minsel = Val(run.parmrs->field("selection").text());
    run.totrecs = static_cast<double>(run.workrs->recordCount());

    screen.setVisible(Control::Line1, true);
    screen.setVisible(Control::Line2, true);
    screen.setVisible(Control::Line3, true);
    screen.setVisible(Control::Line4, true);

    // Nothing fits in a bag (a BagMax below the Weight, or a negative one):
    // bags could not be counted, so the job is refused before a record is
    // touched.
    if (run.bagitems < 1)
      stopBeforeAllocation(run, emptyBagMessage(bagMax, weight));
    else
      allocateAndPrint(run);
  }

  // Step 14.1; the pages printed so far come out, cancelled or not.
  attempt([&] { job.finish(); });
  attempt([&] { screen.setBusyPointer(false); });
}

RunEnd endRun(RunState& run, const std::string& labelProgram) {
  RunEnd end;
  if (!run.parmrs || !run.mdb) return end;  // the run never got its Job Parameters
  if (!test([&] { return isY(run.parmrs->field("RunAlone")); })) return end;

  end.chainMode = true;
  bool labels = test([&] { return isY(run.parmrs->field("RunLabels")) && run.cancelflag != "Y"; });
  attempt([&] { run.parmrs->edit(); });
  attempt([&] { run.parmrs->set("RunAlone", "N"); });
  attempt([&] { run.parmrs->set("RunReports", "N"); });
  attempt([&] { run.parmrs->update(); });
  attempt([&] { run.mdb->close(); });
  if (labels) end.labelProgramStarted = QProcess::startDetached(QString::fromStdString(labelProgram), {});
  return end;
}

}  // namespace ms
