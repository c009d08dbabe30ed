// The Start Dialog ("Form1"): says what the option does, applies the run
// gate when it loads, and starts a run in the Progress Window on OK, or at
// once in Chain Mode. Where no job database is found it first asks for the
// job's folder or database file.
#pragma once

#include <QWidget>
#include <functional>
#include <string>

#include "app/qt_page_sink.h"
#include "app/start_gate.h"

class QLabel;
class QPushButton;

namespace ms {

class ProgressWindow;

// Asks for a job: given the whole path of the database that is missing,
// returns a job folder or a database file, or the empty text when the user
// gave up.
using JobChooser = std::function<std::string(const std::string& missing)>;

// The question and the platform's file dialogs. Without a screen (the
// offscreen platform) it writes the question to standard error and gives up.
std::string chooseJobWithDialogs(const std::string& missing);

class StartDialog : public QWidget {
  Q_OBJECT

 public:
  StartDialog(ProgressWindow* progressWindow, QWidget* parent = nullptr);

  // The load: placement, gate and Chain Mode test. Refused: the gate's
  // message has been given and the program must end. Chain Mode: the dialog
  // stays off and the Progress Window is up. Wait: the dialog is shown.
  GateResult load(const std::string& databasePath = store::kMailsortDatabase);

  // Before the load, when `database` (a file as the command line names it)
  // is not there: asks the chooser until it is found, going on as if started
  // in the folder chosen, or in the folder of the file chosen with that file
  // as the database. True with the whole path in `database` once found (a
  // PostgreSQL URI is taken as it is); false when the user gave up, and the
  // program ends as Exit ends it.
  bool findJob(std::string& database);
  void setJobChooser(JobChooser chooser) { chooser_ = std::move(chooser); }

  // Shows how the last run ended in a line under the buttons (the dialog
  // grows to hold it); the empty text takes it away.
  void showRunStatus(const QString& status);
  QString runStatus() const;

  // The printer "Print Again" sends MAILSORT.PDF to: the one runs print on.
  void setPrintOn(const PrintOn& printOn) { printOn_ = printOn; }

 private:
  void okPressed();
  // "Print Again": MAILSORT.PDF to the printer, and where the pages went in
  // the status line. The button shows while the folder holds the PDF.
  void printAgainPressed();
  void offerPrintAgain();

  ProgressWindow* progressWindow_;
  JobChooser chooser_ = chooseJobWithDialogs;
  QLabel* picture1_ = nullptr;
  QPushButton* cmdOK_ = nullptr;
  QPushButton* cmdCancel_ = nullptr;
  QLabel* lblStatus_ = nullptr;
  QPushButton* cmdPrintAgain_ = nullptr;
  PrintOn printOn_;
};

}  // namespace ms
