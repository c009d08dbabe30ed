// mailsort: allocates a coded address file to Mailsort selections and prints
// the Post Office paperwork for it. Works on mailsort.mdb (or the file or
// PostgreSQL URI --database names) in the current directory, or in the one
// -C names; --batch runs the job without a window; --printer and --no-print
// choose the printer. With a window Qt's standard options (-platform,
// -style...) are QApplication's.
#include <QApplication>
#include <QGuiApplication>
#include <QHashSeed>
#include <QStringList>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <string>

#include "app/batch_run.h"
#include "app/command_line.h"
#include "app/progress_window.h"
#include "app/qt_page_sink.h"
#include "app/reprint.h"
#include "app/short_date.h"
#include "app/start_dialog.h"
#include "job/start_gate.h"

namespace {

int usageError(const std::string& error) {
  std::fprintf(stderr, "mailsort: %s\nTry 'mailsort --help' for more information.\n", error.c_str());
  return ms::kUsageError;
}

ms::PrintOn printOn(const ms::CommandLine& line) {
  if (line.noPrint) return ms::PrintOn::nowhere();
  if (!line.printer.empty()) return ms::PrintOn::queueNamed(line.printer);
  return {};
}

// A queue asked for that does not exist is a usage error before anything
// runs. Empty when it exists or none was named.
std::string missingPrinter(const ms::CommandLine& line) {
  return line.printer.empty() ? std::string() : ms::missingQueue(line.printer);
}

QtMessageHandler qtMessages = nullptr;
std::string displayName;  // -display or DISPLAY: the X11 display the window asks for

// Qt ends the program when no window system can be started (a display
// named that cannot be reached), blaming its installation: the operator is
// told what is wrong instead, in one line, with the status of a missing
// display.
void displayMessages(QtMsgType type, const QMessageLogContext& context, const QString& message) {
  if (message.contains("could not connect to display") ||
      message.startsWith("Could not load the Qt platform"))
    return;  // said below, in the operator's words
  if (type == QtFatalMsg && message.contains("no Qt platform plugin could be initialized")) {
    const std::string why = displayName.empty() ? "the window system could not be started"
                                                : "the display " + displayName + " cannot be reached";
    std::fprintf(stderr, "mailsort: no window can be opened (%s); --batch runs the job without one\n",
                 why.c_str());
    std::_Exit(ms::kUsageError);
  }
  qtMessages(type, context, message);
}

int runWindows(int argc, char* argv[], std::string database, const ms::CommandLine& line) {
  displayName = !line.display.empty() ? line.display : qEnvironmentVariable("DISPLAY").toStdString();
  qtMessages = qInstallMessageHandler(displayMessages);
  QApplication app(argc, argv);
  qInstallMessageHandler(qtMessages);
  QApplication::setApplicationName("mailsort");
  // QApplication has taken Qt's options that it knows; anything else left
  // over is a usage error as before.
  const ms::CommandLine rest = ms::parseCommandLine(QCoreApplication::arguments(), ms::QtOptions::Taken);
  if (!rest.error.empty()) return usageError(rest.error);
  if (const std::string missing = missingPrinter(line); !missing.empty()) return usageError(missing);

  ms::ProgressWindow form2;
  ms::StartDialog form1(&form2);
  if (!form1.findJob(database)) return 0;  // no job chosen: ends as Exit does

  // Every run prints on the printer chosen (--printer or --no-print, or
  // else the Start Dialog's choice, the default queue unless the user chose
  // another), and always saves the same pages as MAILSORT.PDF beside the PO
  // files.
  if (line.noPrint || !line.printer.empty()) form1.fixPrinter(printOn(line));
  form2.setPrinterFactory(
      [&form1] { return std::make_unique<ms::QtPageSink>("MAILSORT.PDF", form1.printOn()); });
  form2.setDateFunction([] { return ms::todayShortDate(); });
  form2.setDatabasePath(database);

  // A run that could not start or met a fault of the machine or of the
  // database has said so. Outside Chain Mode the Start Dialog then waits for
  // OK or Exit again; the program's status tells a script whether the last
  // run left the job undone.
  bool lastRunFailed = false;
  QObject::connect(&form2, &ms::ProgressWindow::runFailed, &app, [&form1, &lastRunFailed] {
    lastRunFailed = true;
    if (form1.chainMode()) QCoreApplication::exit(1);
  });
  QObject::connect(&form2, &ms::ProgressWindow::runEnded, &app,
                   [&form1, &lastRunFailed](bool chainMode, bool faults) {
                     lastRunFailed = faults;
                     if (!chainMode) return;
                     form1.close();
                     QCoreApplication::exit(0);
                   });

  if (form1.load(database) == ms::GateResult::Refused) return 1;
  const int status = app.exec();
  return status == 0 && lastRunFailed ? ms::kFailed : status;
}

// Qt's note that a session without XDG_RUNTIME_DIR (cron, ssh) gets a
// runtime folder of its own is no news to a script: it is left out.
void quietBatchMessages(QtMsgType type, const QMessageLogContext& context, const QString& message) {
  if (message.startsWith("QStandardPaths: XDG_RUNTIME_DIR not set")) return;
  qtMessages(type, context, message);
}

// No window and no display: the offscreen platform gives the printed pages
// their fonts whatever QT_QPA_PLATFORM says.
int runWithoutWindow(int argc, char* argv[], const std::string& database, const ms::CommandLine& line) {
  qtMessages = qInstallMessageHandler(quietBatchMessages);
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication app(argc, argv);
  QGuiApplication::setApplicationName("mailsort");
  if (const std::string missing = missingPrinter(line); !missing.empty()) return usageError(missing);
  return ms::runBatch(database, printOn(line));
}

// mailsort --reprint: MAILSORT.PDF to the printer again, with no window,
// no display and no database.
int reprintWithoutWindow(int argc, char* argv[], const ms::CommandLine& line) {
  qtMessages = qInstallMessageHandler(quietBatchMessages);
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication app(argc, argv);
  QGuiApplication::setApplicationName("mailsort");
  if (const std::string missing = missingPrinter(line); !missing.empty()) return usageError(missing);
  const ms::Reprinted done = ms::reprint(printOn(line));
  std::fprintf(stderr, done.status == ms::kFinished ? "%s\n" : "mailsort: %s\n", done.message.c_str());
  return done.status;
}

}  // namespace

int main(int argc, char* argv[]) {
  // A run dated by SOURCE_DATE_EPOCH gives the same PDF every time: Qt
  // writes the fonts in the order of a hash, seeded at random unless told,
  // and dates the PDF in the local time zone, whose offset changes the
  // length of the date.
  if (ms::fixedRunTime()) {
    QHashSeed::setDeterministicGlobalSeed();
    ::setenv("TZ", "UTC", 1);
    ::tzset();
  }
  QStringList arguments;
  for (int i = 0; i < argc; ++i) arguments << QString::fromLocal8Bit(argv[i]);
  const ms::CommandLine line = ms::parseCommandLine(arguments);
  if (!line.error.empty()) return usageError(line.error);
  if (line.help) {
    std::fputs(ms::kHelpText, stdout);
    return 0;
  }
  if (line.version) {
    std::fputs(ms::versionText().c_str(), stdout);
    return 0;
  }
  // The batch run has no window for Qt's options to act on.
  if ((line.batch || line.reprint) && !line.qtOptions.isEmpty())
    return usageError(line.qtOptions.join(", ").toStdString() + ": Qt's options are for the window, not " +
                      (line.batch ? "--batch" : "--reprint"));
  std::string error;
  if (!line.directory.empty() && !ms::enterDirectory(line.directory, error)) {
    std::fprintf(stderr, "mailsort: %s\n", error.c_str());
    return ms::kUsageError;
  }
  if (line.reprint) return reprintWithoutWindow(argc, argv, line);
  const std::string database = ms::databasePlace(line.database, error);
  if (!error.empty()) {
    std::fprintf(stderr, "mailsort: %s\n", error.c_str());
    return ms::kUsageError;
  }
  if (line.batch) return runWithoutWindow(argc, argv, database, line);
  // Qt would abort without a display, blaming its installation.
  if (const std::string missing = ms::missingDisplay(line); !missing.empty()) {
    std::fprintf(stderr, "mailsort: %s\n", missing.c_str());
    return ms::kUsageError;
  }
  return runWindows(argc, argv, line.database, line);
}
