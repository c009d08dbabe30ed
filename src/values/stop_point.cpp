#include "values/stop_point.h"

#include <signal.h>

#include <cstdlib>
#include <cstring>
#include <string>

namespace ms {

namespace {

struct StopAt {
  std::string name;
  double count = 0;
  int signal = SIGKILL;
  bool armed = false;
};

StopAt parse(const char* text) {
  StopAt at;
  if (!text || !*text) return at;
  std::string spec = text;
  if (const auto colon = spec.find(':'); colon != std::string::npos) {
    const std::string signal = spec.substr(colon + 1);
    spec.erase(colon);
    at.signal = signal == "TERM" ? SIGTERM : signal == "INT" ? SIGINT : signal == "HUP" ? SIGHUP : SIGKILL;
  }
  if (const auto sign = spec.find('@'); sign != std::string::npos) {
    at.count = std::strtod(spec.c_str() + sign + 1, nullptr);
    spec.erase(sign);
  }
  at.name = spec;
  at.armed = true;
  return at;
}

}  // namespace

void stopPoint(const char* name, double count) {
  static StopAt at = parse(std::getenv("MAILSORT_STOP_AT"));
  if (!at.armed || count < at.count || at.name != name) return;
  at.armed = false;
  ::raise(at.signal);
}

}  // namespace ms
