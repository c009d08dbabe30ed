#include "job/start_gate.h"

#include <memory>

#include "store/database.h"
#include "store/lock_holder.h"
#include "store/recordset.h"
#include "values/fault.h"

namespace ms {

const char* const kGateMessage =
    "Another option is currently running, wait until it has finished then try again.";

std::string gateRefusalMessage(const std::string& databasePath) {
  const std::string holders = store::lockHolders(databasePath);
  return std::string(kGateMessage) + (holders.empty() ? "" : " The job is held by " + holders + ".");
}

GateResult startGate(const std::string& databasePath) {
  bool chain = false;
  bool inUse = false;
  try {
    auto db = store::Database::open(databasePath, store::OpenMode::Exclusive);
    auto parm = db->openTable("parmcode");
    parm->moveFirst();
    if (isY(parm->field("RunAlone"))) {
      parm->edit();
      parm->set("RunCodes", "N");
      parm->update();
      chain = true;
      parm.reset();
      // No other program may pass its own check before the run holds the
      // database: the check is handed over to the run's shared open.
      db->handOver();
      db->close();
    }
  } catch (const RunError& e) {
    // A program that keeps the database locked past the check's short wait
    // is running too.
    inUse = e.fault() == Fault::InUse || e.fault() == Fault::Busy;
  } catch (const std::exception&) {
    // Not the gate's business: the run will meet it again, unguarded.
  }
  if (inUse) return GateResult::Refused;
  return chain ? GateResult::ChainMode : GateResult::Wait;
}

}  // namespace ms
