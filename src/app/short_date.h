// The date printed at the head of the reports, and the moment the PDF is
// dated by.
#pragma once

#include <QDateTime>
#include <optional>
#include <string>

class QDate;

namespace ms {

// A date in the system's short date format (the locale's own order and
// separators, as the reports show it).
std::string shortDate(const QDate& date);
// The run's date in that format: today's, or that of the fixed moment below.
std::string todayShortDate();

// The moment every run is dated by when SOURCE_DATE_EPOCH holds one (whole
// seconds since 1970-01-01 00:00 UTC, as reproducible builds set it), in
// UTC, so that two runs of a job give the same pages byte for byte whatever
// the day, the hour or the time zone. None when it is not set or not a
// number: the clock dates the run.
std::optional<QDateTime> fixedRunTime();

}  // namespace ms
