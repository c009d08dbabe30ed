// The whole program on a generated sample job: build/mailsort-sample makes
// the job in Chain Mode, build/mailsort runs it headless in the same folder.
#pragma once

#include <string>

namespace ms::testing {

// Why the programs (and pdftotext, when asked for) cannot be run here; the
// empty text when they can.
std::string missingForSampleRun(bool needPdftotext);

// Makes a job of `records` addresses from `seed` in `dir` and runs the
// program there. Returns the program's exit status (-1 when the job could
// not be made).
int runSampleJob(const std::string& dir, int records, int seed);

// Runs a shell command in `dir`; its exit status.
int shellIn(const std::string& dir, const std::string& command);

}  // namespace ms::testing
