// mailsort: allocates a coded address file to Mailsort selections and prints
// the Post Office paperwork for it. Works on mailsort.mdb in the current
// directory.
#include <QApplication>
#include <memory>

#include "app/progress_window.h"
#include "app/qt_page_sink.h"
#include "app/short_date.h"
#include "app/start_dialog.h"
#include "app/start_gate.h"

int main(int argc, char* argv[]) {
  QApplication app(argc, argv);
  QApplication::setApplicationName("mailsort");

  ms::ProgressWindow form2;
  ms::StartDialog form1(&form2);

  // Every run prints to the default printer where there is one, and always
  // saves the same pages as MAILSORT.PDF beside the PO files.
  form2.setPrinterFactory([] { return std::make_unique<ms::QtPageSink>("MAILSORT.PDF"); });
  form2.setDateFunction([] { return ms::todayShortDate(); });

  // A run that met a fault of the machine or of the database has said so;
  // the program's status then tells a script that the job is not done.
  constexpr int kIncomplete = 5;
  bool incomplete = false;
  QObject::connect(&form2, &ms::ProgressWindow::runFailed, &app, [] { QCoreApplication::exit(1); });
  QObject::connect(&form2, &ms::ProgressWindow::runEnded, &app,
                   [&form1, &incomplete](bool chainMode, bool faults) {
                     incomplete = incomplete || faults;
                     if (!chainMode) return;
                     form1.close();
                     QCoreApplication::exit(0);
                   });

  if (form1.load() == ms::GateResult::Refused) return 1;
  const int status = app.exec();
  return status == 0 && incomplete ? kIncomplete : status;
}
