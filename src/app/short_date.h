// The date printed at the head of the reports.
#pragma once

#include <string>

class QDate;

namespace ms {

// A date in the system's short date format (the locale's own order and
// separators, as the reports show it).
std::string shortDate(const QDate& date);
// Today's date in that format.
std::string todayShortDate();

}  // namespace ms
