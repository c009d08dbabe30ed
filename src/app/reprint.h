// Printing again without running again (mailsort --reprint, the Start
// Dialog's "Print Again"): MAILSORT.PDF, the pages the last finished run
// kept, sent as it stands to a CUPS queue. Nothing else is read or changed:
// no database is opened and no run is started. While the pages are sent the
// folder's publication lock is held (the one a run holds while it writes
// and puts its files in place), so that no run replaces the file meanwhile;
// while a run holds it the reprint is refused, not kept waiting.
#pragma once

#include <string>

#include "app/qt_page_sink.h"

namespace ms {

struct Reprinted {
  int status = 0;       // BatchStatus: kFinished, kGateRefused (a run writes in the folder), kFailed
  std::string message;  // what went where, or why nothing was sent
  int pages = 0;        // sent, and the queue they went to
  std::string queue;
};

// Sends MAILSORT.PDF of the current folder to `printOn` (the default queue,
// or the one named; Nowhere is refused as having no queue). A
// QGuiApplication must exist. Says "6 pages printed on office-pdf, from
// /home/op/job/MAILSORT.PDF" when sent; fails (status 5) when the file is
// not there or is not a whole PDF, when there is no queue, or when CUPS did
// not take the job, or when the last run was cut short after its journal
// (a start of mailsort in the folder settles it); status 1 when a run is
// writing its files in the folder.
Reprinted reprint(const PrintOn& printOn);

// The pages of the PDF in `pdf` (its text), by its page objects; 0 when
// there is none or the text does not end as a whole PDF does.
int pdfPages(const std::string& pdf);

}  // namespace ms
