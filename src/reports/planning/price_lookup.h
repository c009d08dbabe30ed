// Standard postal prices of one item from `poprice`.
#pragma once

namespace ms {

struct RunState;

// Leaves the Fst and Snd prices of the weight step that holds `itemweight`
// for the job's format in `fstprice` and `sndprice`.
void getprc(RunState& run);

}  // namespace ms
