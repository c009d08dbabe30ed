#include "support/sample_run.h"

#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>

namespace ms::testing {

namespace {

const std::string kBin = MAILSORT_BINARY_DIR;

}  // namespace

std::string missingForSampleRun(bool needPdftotext) {
  if (!std::filesystem::exists(kBin + "/mailsort") || !std::filesystem::exists(kBin + "/mailsort-sample"))
    return "needs build/mailsort and build/mailsort-sample";
  if (needPdftotext && std::system("command -v pdftotext >/dev/null") != 0) return "needs pdftotext";
  return "";
}

int shellIn(const std::string& dir, const std::string& command) {
  const int status = std::system(("cd '" + dir + "' && " + command).c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

int runSampleJob(const std::string& dir, int records, int seed) {
  if (shellIn(dir, "'" + kBin + "/mailsort-sample' --out . --records " + std::to_string(records) +
                       " --seed " + std::to_string(seed) + " --chain >/dev/null") != 0)
    return -1;
  return shellIn(dir, "QT_QPA_PLATFORM=offscreen timeout 300 '" + kBin + "/mailsort' 2>/dev/null");
}

}  // namespace ms::testing
