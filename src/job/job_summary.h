// What the Start Dialog says of the job OK will run: where it is, the Job
// Parameters `Company Name`, `JobRef`, `service` and `Format`, and the
// number of addresses in `kvwork`. Read through the store with a look (a
// shared open that writes nothing), closed again before this returns, so
// nothing is held while the dialog waits.
#pragma once

#include <cstdint>
#include <string>

namespace ms {

struct JobSummary {
  std::string place;  // the job's folder, or the PostgreSQL database and schema
  bool read = false;  // false: `problem` says why the job could not be read
  std::string problem;
  std::string company;  // `Company Name`
  std::string jobRef;   // `JobRef`
  std::string service;  // `service`, with " 120" for a Mailsort 120 job, as the Planning Report prints it
  std::string format;   // `Format` as the Planning Report names it ("Letter", ...); else the code
  std::int64_t addresses = 0;  // the records of `kvwork`
};

// Reads the job in `database` (a file path or a PostgreSQL URI). Never
// fails: a job that cannot be read comes back with `read` false.
JobSummary readJobSummary(const std::string& database);

}  // namespace ms
