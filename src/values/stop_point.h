// Places where a test can stop the program as a kill or a signal from
// outside would, at an instant it chooses rather than one it has to time.
// The environment variable MAILSORT_STOP_AT names one place:
//
//   NAME[@COUNT][:SIGNAL]...
//
// e.g. "after-commit", "allocation@10000:TERM", "before-rename-3". When the
// program reaches NAME (for a pass, at its COUNTth record or later) it sends
// itself SIGNAL (KILL unless named: KILL, TERM, INT or HUP), once; with more
// than one SIGNAL ("printing@10000:TERM:TERM") it sends each in turn, as an
// operator who presses Ctrl-C twice would. Without the variable every call
// costs one comparison.
#pragma once

namespace ms {

void stopPoint(const char* name, double count = 0);

}  // namespace ms
