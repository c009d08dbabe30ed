// A job for the tests of the passes: a fixture database (mailsort.mdb in a
// temporary folder, or a schema on PostgreSQL) and a run on it, opened as the run driver opens one, shown on
// a fake Progress Window and printed to memory.
#pragma once

#include <string>
#include <vector>

#include "reports/common/text_page_sink.h"
#include "run/run_state.h"
#include "store/database.h"
#include "store/recordset.h"
#include "support/fake_progress.h"
#include "support/fixture_db.h"

namespace ms::testing {

class RunJob {
 public:
  explicit RunJob(Engine engine = Engine::Sqlite) : db(engine, dir.path()) {
    state.rundate = "06/12/2026";
    state.progress = &progress;
    state.printer = &sink;
  }
  ~RunJob() { state.workrs.reset(), state.parmrs.reset(), state.mdb.reset(); }
  // The work table in Key1 order, the Job Parameters at their record.
  RunState& open() {
    state.mdb = store::Database::open(db.path(), store::OpenMode::Shared);
    state.workrs = state.mdb->openTable("kvwork");
    state.workrs->setIndex("Key1");
    state.parmrs = state.mdb->openTable("parmcode");
    state.parmrs->moveFirst();
    state.totrecs = static_cast<double>(state.workrs->recordCount());
    return state;
  }
  std::string file(const std::string& name) const { return readFile(dir.file(name)); }
  std::vector<std::string> fileLines(const std::string& name) const { return splitLines(file(name)); }

  TempDir dir;
  FixtureDb db;  // on SQLite in `dir`, where the PO files go on either engine
  RunState state;
  FakeProgress progress{state};
  TextPageSink sink;
};

}  // namespace ms::testing
