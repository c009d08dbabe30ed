// Writes a whole sample job into DIR/mailsort.mdb or the database --database
// names (an SQLite file or a PostgreSQL schema): the suite's tables, the
// reference network, both tariffs, the Job Parameters and the coded
// addresses. The generator stands in for the suite's other programs, so it
// fills the tables directly, the same rows in the same order on either
// engine.
#pragma once

#include <stdexcept>
#include <string>

#include "sample_options.h"

namespace ms::sample {

struct SampleSummary {
  std::string path;  // the file, or the PostgreSQL database and schema (no password)
  long long records = 0;
  long long postcodeMatched = 0, townMatched = 0, notMatched = 0;
  int selections = 0, residueCodes = 0, regions = 0;
  int selectionsInUse = 0;         // Direct Selection codes that hold addresses
  int selectionsBelowMinimum = 0;  // of those, the ones smaller than the minimum size
  int minimum = 0;
};

// A job is where the sample would go and --force was not given: the file
// exists, or the schema holds kvwork or parmcode. Nothing has been changed.
struct JobInTheWay : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// Fails with JobInTheWay, or with std::runtime_error naming the file or the
// database and the cause when the folder, the file or the schema cannot be
// written.
SampleSummary writeSampleJob(const SampleOptions& options);

// The one line the tool prints.
std::string describe(const SampleSummary& summary);

}  // namespace ms::sample
