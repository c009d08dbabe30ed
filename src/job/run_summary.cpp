#include "job/run_summary.h"

#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>

#include "reports/common/publication.h"
#include "run/run_state.h"

namespace ms {

namespace {

std::string duration(double seconds) {
  char text[32];
  if (seconds < 60)
    std::snprintf(text, sizeof text, "%.1f s", seconds);
  else
    std::snprintf(text, sizeof text, "%d min %02d s", static_cast<int>(seconds) / 60,
                  static_cast<int>(seconds) % 60);
  return text;
}

// What a run that did not finish kept, and what to do (`brief`: for the
// window, where the message boxes have said the rest); empty for a run that
// put its files in place.
std::string unfinished(const RunState& run, RunStop stop, bool brief) {
  if (run.published) return {};
  if (stop == RunStop::Refused)
    return brief ? "The job was refused: nothing was changed."
                 : "The job was refused before anything changed: put right what the message says and run "
                   "it again.";
  if (!run.faults.empty())
    return brief ? "The run did not finish: nothing was changed and nothing printed."
                 : "The run did not finish: it changed nothing and printed nothing (the faults are listed "
                   "above).";
  return brief ? "The run was cancelled: nothing was changed and nothing printed."
               : "The run was cancelled: the work table, the bags table and the files in " + currentFolder() +
                     " are as they were, and nothing was printed. Run the job again to do it.";
}

}  // namespace

std::string currentFolder() {
  std::error_code code;
  return std::filesystem::current_path(code).string();
}

std::string recoveredMessage(const std::string& folder) {
  return "The last run in " + folder + " had finished; its files have now been put in place.";
}

std::vector<std::pair<std::string, std::string>> placedInOrder(const RunState& run) {
  std::vector<std::pair<std::string, std::string>> placed;
  for (const std::string& name : Publication::outputNames()) {
    const auto file = std::find_if(run.files.begin(), run.files.end(), [&](const std::string& path) {
      return std::filesystem::path(path).filename() == name;
    });
    if (file != run.files.end()) placed.emplace_back(name, *file);
  }
  return placed;
}

std::string groupedNumber(double value) {
  if (!std::isfinite(value)) return std::to_string(value);
  std::string digits = std::to_string(static_cast<long long>(std::llround(std::fabs(value))));
  for (int at = static_cast<int>(digits.size()) - 3; at > 0; at -= 3) digits.insert(at, ",");
  return (value <= -0.5 ? "-" : "") + digits;
}

namespace {

// A count and its noun, one or many: "1 address", "2 addresses".
std::string counted(double count, const char* one, const char* many) {
  return groupedNumber(count) + " " + (std::llround(std::fabs(count)) == 1 ? one : many);
}

}  // namespace

std::string runSummary(const RunState& run, RunStop stop, const std::string& pagesWent, double seconds) {
  if (run.recovered) return recoveredMessage(currentFolder()) + "\n";
  if (const std::string text = unfinished(run, stop, false); !text.empty())
    return text + " (" + duration(seconds) + ")\n";
  std::string text = "The run finished in " + duration(seconds) + ", in " + currentFolder() + ":\n";
  text += "  " + counted(run.processed, "address", "addresses") + " processed, " +
          groupedNumber(run.notmatched) + " of them not matched (listed in UNMATCHED.CSV)\n";
  text += "  " + counted(run.dirsels, "direct selection", "direct selections") + " (" +
          counted(run.diritems, "item", "items") + "), " +
          counted(run.ressels, "residue selection", "residue selections") + " (" +
          counted(run.resitems, "item", "items") + ")\n";
  text += "  " + counted(run.dirbags + run.resbags, "Mailsort bag", "Mailsort bags") + " (" +
          groupedNumber(run.dirbags) + " direct, " + groupedNumber(run.resbags) + " residue)\n";
  for (const auto& [name, path] : placedInOrder(run)) {
    struct stat info {};
    const double size = ::stat(path.c_str(), &info) == 0 ? static_cast<double>(info.st_size) : 0;
    char line[160];
    std::snprintf(line, sizeof line, "  %-14s %15s %s\n", name.c_str(), groupedNumber(size).c_str(),
                  size == 1 ? "byte" : "bytes");
    text += line;
  }
  if (!pagesWent.empty()) text += "  " + pagesWent + "\n";
  return text;
}

std::string runStatusLine(const RunState& run, RunStop stop, const std::string& pagesWent) {
  if (run.recovered) return recoveredMessage(currentFolder());
  if (const std::string text = unfinished(run, stop, true); !text.empty()) return text;
  const std::string line = "Finished: " + counted(run.processed, "address", "addresses") + ", " +
                           counted(run.dirbags + run.resbags, "Mailsort bag", "Mailsort bags");
  return line + (pagesWent.empty() ? "." : "; " + pagesWent + ".");
}

}  // namespace ms
