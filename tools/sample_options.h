// The command line of the sample-job generator.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace ms::sample {

struct SampleOptions {
  std::string outDir;
  std::string database;  // --database: an SQLite file or a PostgreSQL URI instead of DIR/mailsort.mdb
  long long records = 20000;
  std::uint64_t seed = 1;
  bool chain = false;          // RunAlone "Y": the suite ordered the run
  bool geog = false;           // service "M1" with Geog "Y": Regional Sequencing, every code ranked
  bool missingLabels = false;  // a few selection codes get no description
  bool force = false;          // --force: replace a job that is already there
  bool help = false;           // -h, --help: print the usage and end
  bool version = false;        // -v, --version: print the version and end
};

// Reads the arguments after the program name. Returns false with a message
// in `error` for anything it does not understand. With --help or --version
// nothing else is needed; otherwise --out or --database is.
bool parseSampleArgs(const std::vector<std::string>& args, SampleOptions& options, std::string& error);

extern const char* const kSampleUsage;
std::string sampleVersion();

}  // namespace ms::sample
