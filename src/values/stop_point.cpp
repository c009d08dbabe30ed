#include "values/stop_point.h"

#include <signal.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace ms {

namespace {

struct StopAt {
  std::string name;
  double count = 0;
  std::vector<int> signals;
  bool armed = false;
};

StopAt parse(const char* text) {
  StopAt at;
  if (!text || !*text) return at;
  std::string place = text;
  if (const auto colon = place.find(':'); colon != std::string::npos) {
    std::string signals = place.substr(colon + 1) + ":";
    place.erase(colon);
    for (std::size_t end; (end = signals.find(':')) != std::string::npos; signals.erase(0, end + 1)) {
      const std::string signal = signals.substr(0, end);
      at.signals.push_back(signal == "TERM"  ? SIGTERM
                           : signal == "INT" ? SIGINT
                           : signal == "HUP" ? SIGHUP
                                             : SIGKILL);
    }
  }
  if (at.signals.empty()) at.signals.push_back(SIGKILL);
  if (const auto sign = place.find('@'); sign != std::string::npos) {
    at.count = std::strtod(place.c_str() + sign + 1, nullptr);
    place.erase(sign);
  }
  at.name = place;
  at.armed = true;
  return at;
}

}  // namespace

void stopPoint(const char* name, double count) {
  static StopAt at = parse(std::getenv("MAILSORT_STOP_AT"));
  if (!at.armed || count < at.count || at.name != name) return;
  at.armed = false;
  for (const int signal : at.signals) ::raise(signal);
}

}  // namespace ms
