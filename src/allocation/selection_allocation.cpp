// Placeholder until this procedure is written.
#include "allocation/selection_allocation.h"

namespace ms {

void allocate(RunState&) {}

}  // namespace ms
