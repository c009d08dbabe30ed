#include "app/run_fixture.h"

#include <sys/wait.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

namespace ms::testing {

void JobFolder::addJob(const std::vector<std::string>& codes) {
  for (const std::string& code : codes) {
    db_.exec(
        "INSERT INTO kvwork (mscode, rscode, seq, rgcode, sflag, pcflag, Name, Address1, town, postcode) "
        "VALUES ('" +
        code + "', '', 0, '', 'N', 'F', 'A Person', '1 High Street', 'Aberdeen', 'AB12 3CD')");
    db_.exec("INSERT OR IGNORE INTO region (code, mdreg) VALUES ('" + code.substr(0, 3) + "', 1)");
    db_.exec("INSERT OR IGNORE INTO label (code, mdlab) VALUES ('" + code + "', 'Selection " + code + "')");
  }
}

// On PATH before any test runs.
static const TempDir labelProgramBin;
static const bool labelProgramOnPath = [] {
  std::ofstream(labelProgramBin.file("kvprint.exe")) << "#!/bin/sh\necho started > kvprint.started\n";
  std::filesystem::permissions(labelProgramBin.file("kvprint.exe"), std::filesystem::perms::owner_all);
  const char* path = std::getenv("PATH");
  return setenv("PATH", (labelProgramBin.path() + ":" + (path ? path : "")).c_str(), 1) == 0;
}();

bool labelProgramStartedIn(const std::string& folder, double seconds) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  while (!std::filesystem::exists(folder + "/kvprint.started") && std::chrono::steady_clock::now() < until)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  return labelProgramOnPath && std::filesystem::exists(folder + "/kvprint.started");
}

std::string missingForSampleRun() {
  const std::string bin = MAILSORT_BINARY_DIR;
  if (!std::filesystem::exists(bin + "/mailsort") || !std::filesystem::exists(bin + "/mailsort-sample"))
    return "needs build/mailsort and build/mailsort-sample";
  return "";
}

int shellIn(const std::string& dir, const std::string& command) {
  const int status = std::system(("cd '" + dir + "' && " + command).c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace ms::testing
