// bench_run: times the two long passes of a run on a generated job.
//
// Generates a job of N coded addresses (default 1,000,000) in a temporary
// folder, opens it the way the run driver does, then times
//   step 1: the allocation (allocate) alone, and
//   step 2: newfile and the line report (linerep, which goes on into the
//           planning report), printing into a sink that keeps nothing,
// and prints records per second and the peak resident memory of each step,
// with the size of POADDR.CSV.
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>

#include "allocation/bags_table.h"
#include "allocation/region_lookups.h"
#include "allocation/selection_allocation.h"
#include "reports/common/page_sink.h"
#include "reports/line/line_report.h"
#include "run/progress.h"
#include "run/run_state.h"
#include "sample_database.h"
#include "store/database.h"
#include "store/recordset.h"
#include "values/text_rules.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// A Progress Window that shows nothing and is never cancelled.
class QuietProgress : public ms::Progress {
 public:
  void setCellVisible(int, bool) override {}
  void setVisible(ms::Control, bool) override {}
  void setCaption(ms::Control, const std::string&) override {}
  void setBusyPointer(bool) override {}
  void yield() override { ++yields; }
  ms::Answer confirmCancel() override { return ms::Answer::No; }
  void message(const std::string& text) override { std::cerr << "bench_run: run message: " << text << "\n"; }
  long long yields = 0;
};

// A printer that counts what it is given and keeps nothing, so the report
// costs what the procedures cost and not a page store.
class CountingSink : public ms::PageSink {
 public:
  void setFontName(const std::string&) override {}
  void setFontSize(double) override {}
  void setEmphasis(bool) override {}
  void printLine(const std::string&) override { ++lines; }
  void newPage() override { ++pages; }
  int page() const override { return pages; }
  void endDoc() override { ++endDocs; }
  long long lines = 0;
  int pages = 1;
  int endDocs = 0;
};

struct Options {
  long long records = 1000000;
  std::uint64_t seed = 1;
  bool geog = false;
  std::string dir;  // keep the job here instead of a removed temporary folder
};

const char* const kUsage =
    "usage: bench_run [--records N] [--seed S] [--geog] [--keep DIR]\n"
    "  --records N  addresses in the generated job (default 1000000)\n"
    "  --seed S     seed of the generated job (default 1)\n"
    "  --geog       a Regional Sequencing job (service M1, Geog Y)\n"
    "  --keep DIR   build the job in DIR and leave it there with the PO files\n";

bool parse(int argc, char** argv, Options& options) {
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    bool hasValue = i + 1 < argc;
    if (arg == "--records" && hasValue) {
      options.records = std::atoll(argv[++i]);
      if (options.records < 0) return false;
    } else if (arg == "--seed" && hasValue) {
      options.seed = std::strtoull(argv[++i], nullptr, 10);
    } else if (arg == "--keep" && hasValue) {
      options.dir = argv[++i];
    } else if (arg == "--geog") {
      options.geog = true;
    } else {
      return false;
    }
  }
  return true;
}

// Peak resident memory of the process in kB (VmHWM), 0 when unknown.
long long peakKb() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind("VmHWM:", 0) == 0) return std::atoll(line.c_str() + 6);
  return 0;
}

// Starts a new peak from the present resident size, where the kernel allows
// it; otherwise the figures are peaks since the program started.
bool resetPeak() {
  std::ofstream clear("/proc/self/clear_refs");
  clear << "5";
  clear.flush();
  return static_cast<bool>(clear);
}

double secondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

void reportStep(const char* name, double seconds, double records, long long peak, bool peakOfStep) {
  std::printf("%-34s %9.2f s %12.0f records/s   peak RSS %8.1f MB%s\n", name, seconds,
              seconds > 0 ? records / seconds : 0.0, peak / 1024.0, peakOfStep ? "" : " (since start)");
}

// Steps 3 to 9 of the run driver: the database shared, the work table in
// "Key1" order, the Job Parameters, the region ranks and the derived limits.
void openLikeTheDriver(ms::RunState& run, const std::string& path) {
  run.cancelflag = "N";
  run.mdb = ms::store::Database::open(path, ms::store::OpenMode::Shared);
  run.workrs = run.mdb->openTable("kvwork");
  run.workrs->setIndex("Key1");
  run.parmrs = run.mdb->openTable("parmcode");
  ms::getseq(run);
  double bagMax = run.parmrs->field("BagMax").number();
  double weight = run.parmrs->field("Weight").number();
  run.bagitems = static_cast<std::int32_t>(bagMax / weight);
  run.bundlesperbag = run.bagitems / run.parmrs->field("BundleMax").number();
  run.roundin = run.bundlesperbag;
  run.roundplaces = 0;
  run.round();
  run.bundlesperbag = ms::Val(run.roundout);
  run.parmrs->moveFirst();
  run.minsel = ms::Val(run.parmrs->field("selection").text());
  run.totrecs = static_cast<double>(run.workrs->recordCount());
}

int benchmark(const Options& options) {
  fs::path dir;
  if (options.dir.empty()) {
    std::string pattern = (fs::temp_directory_path() / "mailsort-bench-XXXXXX").string();
    if (!mkdtemp(pattern.data())) {
      std::perror("bench_run: cannot make a temporary folder");
      return 1;
    }
    dir = pattern;
  } else {
    dir = fs::absolute(options.dir);
  }
  struct Cleanup {
    fs::path dir;
    bool remove;
    ~Cleanup() {
      std::error_code ignored;
      if (remove) fs::remove_all(dir, ignored);
    }
  } cleanup{dir, options.dir.empty()};

  ms::sample::SampleOptions job;
  job.outDir = dir.string();
  job.records = options.records;
  job.seed = options.seed;
  job.geog = options.geog;
  job.force = true;  // --keep DIR makes its job anew on every run
  auto start = Clock::now();
  ms::sample::SampleSummary summary = ms::sample::writeSampleJob(job);
  std::printf("%-34s %9.2f s   %lld addresses in %s\n", "generate job", secondsSince(start), summary.records,
              dir.c_str());

  // The PO files go to the current folder, as they do for the program.
  fs::current_path(dir);

  QuietProgress progress;
  CountingSink printer;
  ms::RunState run;
  run.progress = &progress;
  run.printer = &printer;
  run.rundate = "06/12/2026";
  openLikeTheDriver(run, summary.path);
  std::printf("%-34s %9.0f records, bagitems %d, bundlesperbag %g, minsel %g\n", "job", run.totrecs,
              run.bagitems, run.bundlesperbag, run.minsel);

  bool stepPeak = resetPeak();
  start = Clock::now();
  ms::allocate(run);
  reportStep("step 1: allocate", secondsSince(start), run.totrecs, peakKb(), stepPeak);

  if (run.cancelflag == "Y") {
    std::printf("the allocation was cancelled: step 2 not run\n");
    return 1;
  }
  stepPeak = resetPeak();
  start = Clock::now();
  ms::newfile(run);
  ms::linerep(run);
  reportStep("step 2: newfile + linerep", secondsSince(start), run.totrecs, peakKb(), stepPeak);

  std::error_code missing;
  auto size = fs::file_size(dir / "POADDR.CSV", missing);
  if (missing)
    std::printf("%-34s not written\n", "POADDR.CSV");
  else
    std::printf("%-34s %12ju bytes (%.1f MB)\n", "POADDR.CSV", static_cast<std::uintmax_t>(size),
                static_cast<double>(size) / (1024.0 * 1024.0));
  std::printf(
      "%-34s processed %.0f, direct %.0f selections / %.0f items, residue %.0f / %.0f, not matched %.0f\n",
      "line report counters", run.processed, run.dirsels, run.diritems, run.ressels, run.resitems,
      run.notmatched);
  std::printf("%-34s %lld lines on %d pages, ended %d time(s); %lld yields to the window system\n", "printed",
              printer.lines, printer.pages, printer.endDocs, progress.yields);
  std::printf("%-34s %8.1f MB\n", "peak RSS of the whole program", peakKb() / 1024.0);

  run.workrs.reset();
  run.parmrs.reset();
  run.mdb->close();
  fs::current_path(dir.parent_path());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!parse(argc, argv, options)) {
    std::cerr << kUsage;
    return 2;
  }
  try {
    return benchmark(options);
  } catch (const std::exception& failure) {
    std::cerr << "bench_run: " << failure.what() << "\n";
    return 1;
  }
}
