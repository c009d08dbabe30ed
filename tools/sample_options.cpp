#include "sample_options.h"

#include <charconv>

namespace ms::sample {

const char* const kSampleUsage =
    "usage: mailsort-sample --out DIR [--records N] [--seed S] [--chain] [--geog] [--missing-labels]\n"
    "  Writes DIR/mailsort.mdb: the suite's tables with a UK reference network, the tariffs,\n"
    "  Job Parameters for a Letter job and N coded addresses (default 20000).\n"
    "  --chain           RunAlone \"Y\" (the run starts without the start dialog)\n"
    "  --geog            service \"M1\" with Geog \"Y\" (Regional Sequencing); every residue code\n"
    "                    then has a region\n"
    "  --missing-labels  leave a few selection codes out of the label table\n";

namespace {

template <class Number>
bool readNumber(const std::string& text, Number& out) {
  const char* end = text.data() + text.size();
  auto [ptr, ec] = std::from_chars(text.data(), end, out);
  return ec == std::errc() && ptr == end && !text.empty();
}

}  // namespace

bool parseSampleArgs(const std::vector<std::string>& args, SampleOptions& options, std::string& error) {
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    auto value = [&](std::string& out) {
      if (i + 1 >= args.size()) {
        error = arg + " needs a value";
        return false;
      }
      out = args[++i];
      return true;
    };
    std::string text;
    if (arg == "--out") {
      if (!value(options.outDir)) return false;
      if (options.outDir.empty()) {
        error = "--out needs a folder";
        return false;
      }
    } else if (arg == "--records") {
      if (!value(text)) return false;
      if (!readNumber(text, options.records) || options.records < 0) {
        error = "--records wants a whole number of 0 or more, not \"" + text + "\"";
        return false;
      }
    } else if (arg == "--seed") {
      if (!value(text)) return false;
      if (!readNumber(text, options.seed)) {
        error = "--seed wants a whole number of 0 or more, not \"" + text + "\"";
        return false;
      }
    } else if (arg == "--chain") {
      options.chain = true;
    } else if (arg == "--geog") {
      options.geog = true;
    } else if (arg == "--missing-labels") {
      options.missingLabels = true;
    } else {
      error = "unknown argument \"" + arg + "\"";
      return false;
    }
  }
  if (options.outDir.empty()) {
    error = "--out DIR is required";
    return false;
  }
  return true;
}

}  // namespace ms::sample
