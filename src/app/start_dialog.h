// The Start Dialog ("Form1"): says what the option does, applies the run
// gate when it loads, and starts a run in the Progress Window on OK, or at
// once in Chain Mode. Where no job database is found it first asks for the
// job's folder or database file.
#pragma once

#include <QWidget>
#include <functional>
#include <string>

#include "app/printer_choice.h"
#include "job/start_gate.h"

class QFormLayout;
class QLabel;
class QMessageBox;
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

struct JobSummary;

// Where the manual and the README of the installed package are.
extern const char* const kInstalledReadme;

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

  // Under the texts: the job's place, `Company Name`, `JobRef`, `service`
  // and format, and the number of addresses (read with a look that holds
  // nothing once it returns), or a line saying why the job cannot be read.
  // load() shows the job it was given.
  void showJob(const std::string& database);
  void showJob(const JobSummary& job);

  // The printer line: the queues `lister` gives (the default one first),
  // then "no printer". load() fills it; the choice made there is kept in
  // the user's settings (organisation and application "mailsort") for the
  // next start.
  void setQueueLister(QueueLister lister);
  void fillPrinters();
  // The choice of --printer or --no-print: shown, and the line disabled.
  void fixPrinter(const PrintOn& printOn);
  // Where the run that OK starts prints.
  PrintOn printOn() const;

  // Help (F1): where the manual is, with a button that opens the README when
  // it is installed. About: the program's name and version. Neither waits.
  void showHelp();
  void showAbout();

  // Shows how the last run ended in a line under the buttons (the dialog
  // grows to hold it); the empty text takes it away.
  void showRunStatus(const QString& status);
  QString runStatus() const;

  // The dialog found Chain Mode (at its load or on OK): the run ends the
  // program.
  bool chainMode() const { return chainMode_; }

 private:
  // OK: the gate is asked again (the window holds nothing while it waits,
  // so another program may have taken the job meanwhile), then the run.
  void okPressed();
  // What the gate answered: the refusal in a box and in the status line,
  // Chain Mode's run, or the dialog shown.
  void enter(GateResult result);
  // Outside Chain Mode a run that could not start comes back here with its
  // message in the status line; when the job cannot be opened at all (the
  // file is gone or is not a database) the chooser asks for another.
  void runFailed(const QString& error);
  // Asks the chooser once about `place` and goes there; false when the user
  // gave up.
  bool askForJob(const std::string& place, std::string& database);

  std::string databasePath_ = store::kMailsortDatabase;
  bool chainMode_ = false;
  // Sets `label` to `text`, shortened in the middle to fit its width (the
  // whole text in its tool tip).
  void setFitting(QLabel* label, const QString& text);
  // "Print Again": MAILSORT.PDF to the printer runs print on, and where
  // the pages went in the status line. The button shows while the folder
  // holds the PDF.
  void printAgainPressed();
  void offerPrintAgain();

  ProgressWindow* progressWindow_;
  JobChooser chooser_ = chooseJobWithDialogs;
  QLabel* picture1_ = nullptr;
  QFormLayout* jobLines_ = nullptr;
  QLabel* lblPlace_ = nullptr;
  QLabel* lblPlaceValue_ = nullptr;
  QLabel* lblCompany_ = nullptr;
  QLabel* lblJobRef_ = nullptr;
  QLabel* lblService_ = nullptr;
  QLabel* lblAddresses_ = nullptr;
  QLabel* lblUnread_ = nullptr;
  PrinterChoice* cboPrinter_ = nullptr;
  QPushButton* cmdOK_ = nullptr;
  QPushButton* cmdCancel_ = nullptr;
  QPushButton* cmdHelp_ = nullptr;
  QPushButton* cmdAbout_ = nullptr;
  QLabel* lblStatus_ = nullptr;
  QPushButton* cmdPrintAgain_ = nullptr;
};

}  // namespace ms
