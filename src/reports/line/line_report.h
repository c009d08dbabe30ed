// Step 2 of a run: the Mailsort Line Report, the bags records and the
// Post Office files, in one pass over the work table in "Key2" order.
#pragma once

namespace ms {

struct RunState;

void linerep(RunState& run);

}  // namespace ms
