#include "app/message_box.h"

#include <QApplication>
#include <QGuiApplication>
#include <QMessageBox>
#include <cstdio>

namespace ms {

namespace {

bool noScreen() { return QGuiApplication::platformName() == QLatin1String("offscreen"); }

void toStandardError(const QString& text) {
  std::fprintf(stderr, "%s\n", text.toLocal8Bit().constData());
  std::fflush(stderr);
}

QMessageBox::StandardButton ask(QWidget* parent, QMessageBox::Icon icon, const QString& text,
                                QMessageBox::StandardButtons buttons, QMessageBox::StandardButton byDefault) {
  toStandardError(text);
  if (noScreen()) return byDefault;
  QMessageBox box(icon, QCoreApplication::applicationName(), text, buttons, parent);
  box.setDefaultButton(byDefault);
  return static_cast<QMessageBox::StandardButton>(box.exec());
}

}  // namespace

void showExclamation(QWidget* parent, const QString& text) {
  ask(parent, QMessageBox::Warning, text, QMessageBox::Ok, QMessageBox::Ok);
}

void showMessage(QWidget* parent, const QString& text) {
  ask(parent, QMessageBox::NoIcon, text, QMessageBox::Ok, QMessageBox::Ok);
}

void showError(QWidget* parent, const QString& text) {
  ask(parent, QMessageBox::Critical, text, QMessageBox::Ok, QMessageBox::Ok);
}

bool askYesNo(QWidget* parent, const QString& text) {
  return ask(parent, QMessageBox::NoIcon, text, QMessageBox::Yes | QMessageBox::No, QMessageBox::No) ==
         QMessageBox::Yes;
}

}  // namespace ms
