#include "app/run_fixture.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

namespace ms::testing {
namespace {
bool waitFor(const std::string& file, double seconds) {
  auto until = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  while (!std::filesystem::exists(file) && std::chrono::steady_clock::now() < until)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  return std::filesystem::exists(file);
}
}  // namespace

JobFolder::JobFolder() : previous_(std::filesystem::current_path().string()) {
  db_ = std::make_unique<FixtureDb>(dir_.path());
  std::filesystem::current_path(dir_.path());
}

JobFolder::~JobFolder() {
  db_.reset();
  std::error_code ignored;
  std::filesystem::current_path(previous_, ignored);
}

void JobFolder::addJob(const std::vector<std::string>& codes) {
  for (const std::string& code : codes) {
    db_->exec(
        "INSERT INTO kvwork (mscode, rscode, seq, rgcode, sflag, pcflag, Name, Address1, town, postcode) "
        "VALUES ('" +
        code + "', '', 0, '', 'N', 'F', 'A Person', '1 High Street', 'Aberdeen', 'AB12 3CD')");
    db_->exec("INSERT OR IGNORE INTO region (code, mdreg) VALUES ('" + code.substr(0, 3) + "', 1)");
    db_->exec("INSERT OR IGNORE INTO label (code, mdlab) VALUES ('" + code + "', 'Selection " + code + "')");
  }
}

std::string JobFolder::flag(const std::string& name) {
  return db_->scalar("SELECT \"" + name + "\" FROM parmcode").textOrEmpty();
}

bool JobFolder::tableExists(const std::string& name) {
  return db_->scalar("SELECT COUNT(*) FROM sqlite_master WHERE type = 'table' AND name = '" + name + "'")
             .number() > 0;
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
  return labelProgramOnPath && waitFor(folder + "/kvprint.started", seconds);
}

FileHolder::FileHolder(const std::string& path) : path_(path) {
  std::string marker = path + ".held";
  std::filesystem::remove(marker);
  child_ = fork();
  if (child_ == 0) {
    setpgid(0, 0);  // its own group, so that flock and its sleep end together
    std::string script = "touch '" + marker + "'; exec sleep 30";  // marker only once locked
    execlp("flock", "flock", "-s", path.c_str(), "sh", "-c", script.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  if (child_ > 0) setpgid(child_, child_);
  holding = child_ > 0 && waitFor(marker, 10);
}

FileHolder::~FileHolder() {
  if (child_ <= 0) return;
  kill(-child_, SIGKILL);
  kill(child_, SIGKILL);
  waitpid(child_, nullptr, 0);
  // The group's last member may still hold the lock for a moment.
  for (int i = 0; i < 500; ++i, std::this_thread::sleep_for(std::chrono::milliseconds(10))) {
    int fd = open(path_.c_str(), O_RDONLY);
    bool free = fd >= 0 && flock(fd, LOCK_EX | LOCK_NB) == 0;
    if (fd >= 0) close(fd);
    if (free || fd < 0) break;
  }
}

}  // namespace ms::testing
