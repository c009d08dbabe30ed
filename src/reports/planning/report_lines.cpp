#include "reports/planning/report_lines.h"

#include "reports/common/page_sink.h"
#include "run/run_state.h"
#include "values/fault.h"

namespace ms {

namespace {

// The run's printer; a run without one fails every printer statement.
PageSink& printerOf(RunState& run) {
  if (!run.printer) throw RunError(Fault::Engine, "No printer");
  return *run.printer;
}

}  // namespace

void ReportLines::setFont(const std::string& name, double points) {
  attempt([&] { printerOf(run_).setFontName(name); });
  attempt([&] { printerOf(run_).setFontSize(points); });
}

void ReportLines::line(const std::string& text) {
  attempt([&] { printerOf(run_).printLine(text); });
}

void ReportLines::heading(const std::string& text) {
  attempt([&] { printerOf(run_).setEmphasis(true); });
  line(text);
  attempt([&] { printerOf(run_).setEmphasis(false); });
}

void ReportLines::endDoc() {
  attempt([&] { printerOf(run_).endDoc(); });
}

}  // namespace ms
