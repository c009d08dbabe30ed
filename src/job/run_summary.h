// What the operator is told at the end of a run: in a batch run a few lines
// on standard error that can be read the next morning, in the window one
// line under the Start Dialog's buttons.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "job/run_driver.h"

namespace ms {

struct RunState;

// For a finished run: the time taken, the folder, the addresses processed
// and not matched (where those are listed), the direct and residue
// selections with their items, the bags, each file put in place with its
// size, and `pagesWent` (where the pages went). For a
// run that did not finish: what was kept and what to do. Each line ends
// with a newline.
std::string runSummary(const RunState& run, RunStop stop, const std::string& pagesWent, double seconds);

// The same in one line, for the window.
std::string runStatusLine(const RunState& run, RunStop stop, const std::string& pagesWent);

// The folder the program works in, its whole path, as messages name it.
std::string currentFolder();

// What a start says when it found that the last run in `folder` had
// committed, and put its files in place.
std::string recoveredMessage(const std::string& folder);

// The files the run put in place, in the order the Post Office reads them
// (the PDF last): each name with its whole path.
std::vector<std::pair<std::string, std::string>> placedInOrder(const RunState& run);

// 1234567 as "1,234,567".
std::string groupedNumber(double value);

}  // namespace ms
