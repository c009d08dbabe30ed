// Step 1 of a run: the Counting Pass and its Residue Walks over the work
// table in "Key1" order.
#pragma once

namespace ms {

struct RunState;

// Splits the work table into Direct and Residue Selections, recodes every
// record of a Residue Selection to its residue code with `sflag` "Y", and
// gives every record that needs one its sort number `seq`. Moves the
// progress bar after every record and stops at the top of a turn once
// `cancelflag` is "Y".
void allocate(RunState& run);

}  // namespace ms
