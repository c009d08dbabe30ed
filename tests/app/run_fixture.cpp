#include "app/run_fixture.h"

#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <thread>

namespace ms::testing {

JobFolder::JobFolder() : previous_(std::filesystem::current_path().string()) {
  db_ = std::make_unique<FixtureDb>(dir_.path());
  std::filesystem::current_path(dir_.path());
}

JobFolder::~JobFolder() {
  db_.reset();
  std::error_code ignored;
  std::filesystem::current_path(previous_, ignored);
}

void JobFolder::addWork(const std::vector<std::string>& codes) {
  for (const std::string& code : codes)
    db_->insert("kvwork", {{"mscode", code},
                           {"rscode", ""},
                           {"seq", 0.0},
                           {"rgcode", ""},
                           {"sflag", "N"},
                           {"pcflag", "F"},
                           {"Name", "A Person"},
                           {"Address1", "1 High Street"},
                           {"town", "Aberdeen"},
                           {"postcode", "AB12 3CD"}});
}

void JobFolder::addReference(const std::vector<std::string>& codes) {
  for (const std::string& code : codes) {
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

void FakeProgress::yield() {
  ++yields;
  if (yields == cancelAtYield) cancelPressed(run_);
}

LabelProgramStandIn::LabelProgramStandIn() {
  const char* path = std::getenv("PATH");
  previousPath_ = path ? path : "";
  std::string program = bin_.file("kvprint.exe");
  {
    std::ofstream out(program);
    out << "#!/bin/sh\necho started > kvprint.started\n";
  }
  std::filesystem::permissions(program, std::filesystem::perms::owner_all);
  setenv("PATH", (bin_.path() + ":" + previousPath_).c_str(), 1);
}

LabelProgramStandIn::~LabelProgramStandIn() { setenv("PATH", previousPath_.c_str(), 1); }

bool LabelProgramStandIn::startedIn(const std::string& folder, double seconds) {
  auto until = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  while (std::chrono::steady_clock::now() < until) {
    if (std::filesystem::exists(folder + "/kvprint.started")) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return false;
}

}  // namespace ms::testing
