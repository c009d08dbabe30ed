// mailsort-sample: writes a sample job that the program can run, standing in
// for the suite's other programs (reference data, tariffs, Job Parameters
// and the coding program's work table).
#include <exception>
#include <iostream>
#include <string>
#include <vector>

#include "sample_database.h"
#include "sample_options.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  ms::sample::SampleOptions options;
  std::string error;
  if (!ms::sample::parseSampleArgs(args, options, error)) {
    std::cerr << "mailsort-sample: " << error << "\n" << ms::sample::kSampleUsage;
    return 2;
  }
  if (options.help || options.version) {
    std::cout << (options.help ? ms::sample::kSampleUsage : ms::sample::sampleVersion());
    return 0;
  }
  try {
    const std::string summary = ms::sample::describe(ms::sample::writeSampleJob(options));
    std::cout << "mailsort-sample: " << summary << std::endl;
  } catch (const ms::sample::JobInTheWay& refusal) {
    std::cerr << "mailsort-sample: " << refusal.what() << std::endl;
    return 3;
  } catch (const std::exception& failure) {
    std::cerr << "mailsort-sample: " << failure.what() << std::endl;
    return 1;
  }
  return 0;
}
