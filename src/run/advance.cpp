#include "run/advance.h"

#include "store/fault.h"
#include "store/fault_log.h"
#include "store/recordset.h"

namespace ms {

std::int64_t placeOf(store::Recordset& walk) { return walk.eof() ? kPastEnd : walk.absolutePosition(); }

bool advance(store::Recordset& walk, const std::string& table) {
  std::int64_t before = -1;
  std::int64_t after = -1;
  const bool moved = attempt([&] {
    before = walk.absolutePosition();
    walk.moveNext();
    after = placeOf(walk);
  });
  if (moved && after > before) return true;
  recordFault(RunError(Fault::Stalled, "the pass could not move on to the next record", table));
  return false;
}

void recordWalkedBack(const std::string& table) {
  recordFault(RunError(Fault::Stalled, "records moved in the table's order while the pass walked it", table));
}

}  // namespace ms
