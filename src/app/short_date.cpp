#include "app/short_date.h"

#include <QDate>
#include <QLocale>

namespace ms {

std::string shortDate(const QDate& date) {
  return QLocale::system().toString(date, QLocale::ShortFormat).toStdString();
}

std::string todayShortDate() { return shortDate(QDate::currentDate()); }

}  // namespace ms
