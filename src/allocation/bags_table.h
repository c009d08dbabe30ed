// The bags table handed to the suite's label program.
#pragma once

namespace ms {

struct RunState;

// Drops `bags` and re-creates it empty with its five fields and two indexes.
void newfile(RunState& run);

}  // namespace ms
