// Runs one command and writes its wall time, peak resident memory and exit
// status to a result file, so the benchmark scripts need no /usr/bin/time.
//
//   bench_time RESULT_FILE COMMAND [ARG...]
//
// The result file gets one line: "SECONDS MAXRSS_KB STATUS". The figures are
// those of the command's own process (wait4), started from this process's
// folder, environment and standard streams. STATUS is the exit status, or
// 128 + the signal number when a signal ended it. bench_time itself exits 0
// when it measured the command, 2 when it could not.
#include <sys/resource.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

namespace {

double now() {
  timespec t{};
  clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: bench_time RESULT_FILE COMMAND [ARG...]\n");
    return 2;
  }
  std::FILE* result = std::fopen(argv[1], "w");
  if (result == nullptr) {
    std::fprintf(stderr, "bench_time: %s: %s\n", argv[1], std::strerror(errno));
    return 2;
  }

  const double start = now();
  const pid_t child = fork();
  if (child < 0) {
    std::fprintf(stderr, "bench_time: fork: %s\n", std::strerror(errno));
    return 2;
  }
  if (child == 0) {
    std::fclose(result);
    execvp(argv[2], argv + 2);
    std::fprintf(stderr, "bench_time: %s: %s\n", argv[2], std::strerror(errno));
    _exit(127);
  }

  int wstatus = 0;
  rusage usage{};
  pid_t ended;
  do {
    ended = wait4(child, &wstatus, 0, &usage);
  } while (ended < 0 && errno == EINTR);
  const double seconds = now() - start;
  if (ended < 0) {
    std::fprintf(stderr, "bench_time: wait4: %s\n", std::strerror(errno));
    return 2;
  }

  const int status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 128 + WTERMSIG(wstatus);
  std::fprintf(result, "%.3f %ld %d\n", seconds, usage.ru_maxrss, status);
  return std::fclose(result) == 0 ? 0 : 2;
}
