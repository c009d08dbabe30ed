// Region ranks for the posting location.
#pragma once

namespace ms {

struct RunState;

// Loads the region ranks of the job's Posting Selection into `sortcodes`.
void getseq(RunState& run);
// Writes the region rank of the work record being edited into its `rgcode`.
void getreg(RunState& run);

}  // namespace ms
