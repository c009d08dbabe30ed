// The bags table: thrown away and re-created empty at every run, then filled
// by the line report for the suite's label program.
#include "allocation/bags_table.h"

#include "run/run_state.h"
#include "store/table_def.h"
#include "values/fault.h"

namespace ms {

namespace {

store::TableDef bagsDefinition() {
  store::TableDef def;
  def.name = "bags";
  def.fields = {"Bag Number", "Label Start", "Label Number", "Bundle Number", "Seq"};
  def.indexes.push_back({"PrimaryKey", {"Bag Number"}, /*primary=*/true, /*unique=*/true});
  def.indexes.push_back({"Key2", {"Label Number"}, /*primary=*/false, /*unique=*/false});
  return def;
}

}  // namespace

// Each step may fail on its own and the next still runs: no old table makes
// the drop fail and the table is created, which is no fault; a table that
// another program holds past the wait makes the drop and the append fail,
// the old table stays as it was, and the run reports it.
void newfile(RunState& run) {
  if (!run.mdb) return;
  attempt([&] {
    try {
      run.mdb->execute("DROP TABLE[bags]");
    } catch (const RunError& e) {
      if (e.fault() != Fault::NotFound) throw;
    }
  });
  attempt([&] { run.mdb->appendTableDef(bagsDefinition()); });
}

}  // namespace ms
