// Writes a whole sample job into DIR/mailsort.mdb: the suite's tables, the
// reference network, both tariffs, the Job Parameters and the coded
// addresses. The generator stands in for the suite's other programs, so it
// fills the file with plain SQL.
#pragma once

#include <string>

#include "sample_options.h"

namespace ms::sample {

struct SampleSummary {
  std::string path;
  long long records = 0;
  long long postcodeMatched = 0, townMatched = 0, notMatched = 0;
  int selections = 0, residueCodes = 0, regions = 0;
  int selectionsInUse = 0;         // Direct Selection codes that hold addresses
  int selectionsBelowMinimum = 0;  // of those, the ones smaller than the minimum size
  int minimum = 0;
};

// Fails with std::runtime_error, naming the file and the cause, when the
// folder or the file cannot be written.
SampleSummary writeSampleJob(const SampleOptions& options);

// The one line the tool prints.
std::string describe(const SampleSummary& summary);

}  // namespace ms::sample
