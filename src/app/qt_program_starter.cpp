#include "app/qt_program_starter.h"

#include <QProcess>
#include <QString>
#include <QStringList>

namespace ms {

bool QtProgramStarter::startDetached(const std::string& path) {
  return QProcess::startDetached(QString::fromStdString(path), {});
}

}  // namespace ms
