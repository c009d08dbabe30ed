// The Mailsort Planning Report and POPLAN.CSV, printed after the line report
// on the same print job, which it ends.
#pragma once

namespace ms {

struct RunState;

// Prints the job's parameters, the presortation, postcode and sortation
// statistics and the costs and discounts on the page the line report left
// open, writes POPLAN.CSV in the current directory (closed at once, so that
// a program started after the run can read it) and ends the print job.
// Sets `pclevel`, `totsels`, `totitems` and `totbags`. Every statement that
// fails is skipped: a figure whose statement failed keeps what its field
// held, characters of code zero for a field never filled.
void planrep(RunState& run);

}  // namespace ms
