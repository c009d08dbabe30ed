#include "job/job_summary.h"

#include <exception>
#include <filesystem>

#include "reports/line/line_layout.h"
#include "store/database.h"
#include "store/pg_handle.h"
#include "store/recordset.h"
#include "values/fault.h"

namespace ms {

namespace {

// A field of the current record as text; a field missing or Null is empty.
std::string text(store::Recordset& record, const std::string& name) {
  try {
    return record.field(name).textOrEmpty();
  } catch (const std::exception&) {
    return {};
  }
}

std::string placeOf(const std::string& database) {
  if (store::isPostgresUri(database)) return store::describeDatabase(database);
  namespace fs = std::filesystem;
  std::error_code error;
  const fs::path file = fs::absolute(database, error);
  // The folder alone for the suite's own file name; another file by its path.
  if (file.filename() == store::kMailsortDatabase) return file.parent_path().string();
  return file.string();
}

}  // namespace

JobSummary readJobSummary(const std::string& database) {
  JobSummary job;
  job.place = placeOf(database);
  try {
    auto db = store::Database::open(database, store::OpenMode::Look);
    if (store::isPostgresUri(database)) job.place = db->identity();
    {
      auto parm = db->openTable("parmcode");
      parm->moveFirst();
      if (parm->eof()) throw RunError(Fault::NotFound, "the Job Parameters (parmcode) hold no record");
      job.company = text(*parm, "Company Name");
      job.jobRef = text(*parm, "JobRef");
      job.service = text(*parm, "service");
      if (text(*parm, "Mailsort120") == "Y") job.service += " 120";
      // As the reports name it; a code they do not name is shown as it is.
      const std::string code = text(*parm, "Format");
      const std::string name = mailFormatName(Value(code));
      job.format = name.empty() ? code : name;
    }
    job.addresses = db->openTable("kvwork")->recordCount();
    db->close();
    job.read = true;
  } catch (const RunError& e) {
    job.problem = e.fault() == Fault::InUse ? "another program holds it" : e.what();
  } catch (const std::exception& e) {
    job.problem = e.what();
  }
  return job;
}

}  // namespace ms
