#include "app/short_date.h"

#include <QDate>
#include <QDateTime>
#include <QLocale>
#include <QTimeZone>
#include <charconv>
#include <cstdlib>
#include <cstring>

namespace ms {

std::string shortDate(const QDate& date) {
  return QLocale::system().toString(date, QLocale::ShortFormat).toStdString();
}

std::string todayShortDate() {
  if (const auto fixed = fixedRunTime()) return shortDate(fixed->date());
  return shortDate(QDate::currentDate());
}

std::optional<QDateTime> fixedRunTime() {
  const char* text = std::getenv("SOURCE_DATE_EPOCH");
  if (!text || !*text) return std::nullopt;
  long long seconds = 0;
  const char* end = text + std::strlen(text);
  if (const auto read = std::from_chars(text, end, seconds); read.ec != std::errc() || read.ptr != end)
    return std::nullopt;
  const QDateTime at = QDateTime::fromSecsSinceEpoch(seconds, QTimeZone::utc());
  if (!at.isValid() || at.date().year() < 1 || at.date().year() > 9999) return std::nullopt;
  return at;
}

}  // namespace ms
