// The command line of the sample-job generator.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace ms::sample {

struct SampleOptions {
  std::string outDir;
  long long records = 20000;
  std::uint64_t seed = 1;
  bool chain = false;          // RunAlone "Y": the suite ordered the run
  bool geog = false;           // service "M1" with Geog "Y": Regional Sequencing, every code ranked
  bool missingLabels = false;  // a few selection codes get no description
};

// Reads the arguments after the program name. Returns false with a message
// in `error` for anything it does not understand.
bool parseSampleArgs(const std::vector<std::string>& args, SampleOptions& options, std::string& error);

extern const char* const kSampleUsage;

}  // namespace ms::sample
