#include "run/advance.h"

#include "store/recordset.h"
#include "values/fault.h"
#include "values/fault_log.h"

namespace ms {

bool advance(store::Recordset& walk, const std::string& table) {
  if (attempt([&] { walk.moveNext(); })) return true;
  recordFault(RunError(Fault::Stalled, "the pass could not move on to the next record", table));
  return false;
}

void recordWalkedBack(const std::string& table) {
  recordFault(RunError(Fault::Stalled, "records moved in the table's order while the pass walked it", table));
}

}  // namespace ms
