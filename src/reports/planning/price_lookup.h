// Standard postal prices of one item from `poprice`.
#pragma once

namespace ms {

struct RunState;

// Leaves the Fst and Snd prices of the weight step that holds `itemweight`
// for the job's format in `fstprice` and `sndprice`: the one letter step for
// "LE", the four large-letter steps for "LL", the nine packet steps for any
// other format. A weight above the last packet limit sets neither price.
//
// It handles no failure itself: a missing row or field, or a Null limit or
// price, ends it at that read, leaving the prices not yet set as they were.
void getprc(RunState& run);

}  // namespace ms
