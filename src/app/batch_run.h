// A run without any window (mailsort --batch): the run gate, then the Run
// Driver at once with its progress on standard error, then the end of a
// Chain Mode run when RunAlone is "Y", then a summary of what the run did. A QGuiApplication must exist (the
// printed pages need one); it may be on the offscreen platform.
#pragma once

#include <string>

#include "app/qt_page_sink.h"
#include "store/database.h"

namespace ms {

// The batch run on `databasePath`, printing on `printOn` besides
// MAILSORT.PDF; returns the exit status (BatchStatus).
int runBatch(const std::string& databasePath = store::kMailsortDatabase, const PrintOn& printOn = {});

}  // namespace ms
