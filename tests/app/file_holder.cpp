#include "app/file_holder.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <thread>

namespace ms::testing {

FileHolder::FileHolder(const std::string& path) {
  std::string marker = path + ".held";
  std::filesystem::remove(marker);
  child_ = fork();
  if (child_ == 0) {
    setpgid(0, 0);  // its own group, so that the holder and its command go together
    // flock -s FILE sh -c '...': the lock is taken before the marker exists.
    std::string script = "touch '" + marker + "'; exec sleep 30";
    execlp("flock", "flock", "-s", path.c_str(), "sh", "-c", script.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  if (child_ > 0) setpgid(child_, child_);
  auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (child_ > 0 && std::chrono::steady_clock::now() < until) {
    if (std::filesystem::exists(marker)) {
      holding_ = true;
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

FileHolder::~FileHolder() {
  if (child_ <= 0) return;
  // Ends the holder and its sleep, which shares the lock.
  kill(-child_, SIGKILL);
  kill(child_, SIGKILL);
  int status = 0;
  waitpid(child_, &status, 0);
}

}  // namespace ms::testing
