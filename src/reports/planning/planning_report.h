// The Mailsort Planning Report and POPLAN.CSV, printed after the line report
// on the same print job, which it ends.
#pragma once

namespace ms {

struct RunState;

void planrep(RunState& run);

}  // namespace ms
