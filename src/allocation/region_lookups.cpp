// Placeholder until this procedure is written.
#include "allocation/region_lookups.h"

namespace ms {

void getseq(RunState&) {}
void getreg(RunState&) {}

}  // namespace ms
