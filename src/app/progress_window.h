// The Progress Window ("Form2"): the twenty-cell bar, the percentage and the
// step captions, and the Cancel button. It owns the run state of the current
// run, starts the run when it first becomes active after being shown, and
// closes itself when the run is over.
#pragma once

#include <QElapsedTimer>
#include <QWidget>
#include <array>
#include <functional>
#include <memory>
#include <string>

#include "job/run_driver.h"
#include "reports/common/page_sink.h"
#include "run/progress.h"
#include "run/run_state.h"

class QFrame;
class QLabel;
class QPushButton;

namespace ms {

class ProgressWindow : public QWidget, public Progress {
  Q_OBJECT

 public:
  using PrinterFactory = std::function<std::unique_ptr<PageSink>()>;
  using DateFunction = std::function<std::string()>;

  explicit ProgressWindow(QWidget* parent = nullptr);
  ~ProgressWindow() override;

  // Where each run prints, and the date its reports carry.
  void setPrinterFactory(PrinterFactory factory) { printerFactory_ = std::move(factory); }
  void setDateFunction(DateFunction date) { dateFunction_ = std::move(date); }
  // The Mailsort Database the runs work on ("mailsort.mdb" unless told; a
  // file or a PostgreSQL URI).
  void setDatabasePath(std::string path) { databasePath_ = std::move(path); }
  // Shows the window without a modal loop; if it is already up, only brings
  // it to the front.
  void showRun();
  // The state of the current (or last) run; null before the first run.
  // Between runs its database is closed (`mdb` is null).
  RunState* runState() const { return run_.get(); }
  bool running() const { return running_; }

  // Progress
  void setCellVisible(int cell, bool visible) override;
  void setVisible(Control control, bool visible) override;
  void setCaption(Control label, const std::string& text) override;
  void setBusyPointer(bool busy) override;
  void yield() override;
  Answer confirmCancel() override;
  void message(const std::string& text) override;
  void waitingForDatabase(store::WaitReason why) override;

  using QWidget::setVisible;

  // Before the first run: settles what a run killed in the folder left (see
  // settleLastRun). A run that had committed ends as it would have ended
  // (runEnded, with the status that says so); a journal that cannot be
  // trusted fails as a run that cannot start (runFailed).
  void settleLastRun();

 signals:
  // The run left with an error before it allocated (or what the last run
  // left could not be settled); the text names it. The error box has been
  // shown, the window has closed and holds nothing.
  void runFailed(const QString& error);
  // A run is over and the window has closed; `incomplete`: it met faults
  // of the machine or of the database, and has said which. `status` says in
  // one line how it ended and where the pages went.
  void runEnded(bool chainMode, bool incomplete, const QString& status);

 protected:
  bool event(QEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  void startOnce();
  void runNow();
  // The end of a run that has left performRun: the label program, the
  // messages, runEnded.
  void endTheRun(RunStop stop, const std::string& pagesWent);
  // Appends `line` to the folder's MAILSORT.LOG; says so when it cannot.
  void logRun(const std::string& line);
  void resetControls();
  // Closes the run's database and recordsets: nothing is held between runs.
  void releaseDatabase();
  QWidget* control(Control which) const;

  QPushButton* cmdCancel_ = nullptr;
  QLabel* lblPerc1_ = nullptr;
  QLabel* lblPerc2_ = nullptr;
  QLabel* lblPerc3_ = nullptr;
  std::array<QFrame*, 20> cells_{};
  std::array<QFrame*, 4> lines_{};

  // What each control shows now, so that an unchanged one is not touched:
  // the passes report after every record.
  std::array<std::string, 3> captions_;  // lblPerc1 to lblPerc3
  QElapsedTimer sinceEvents_;            // since the window system last ran
  QElapsedTimer figurePainted_;          // since the figure was last painted at once
  bool waitShown_ = false;               // lblPerc3 shows a wait for the database, not captions_[2]

  std::unique_ptr<RunState> run_;
  std::unique_ptr<PageSink> printer_;
  PrinterFactory printerFactory_;
  DateFunction dateFunction_;
  std::string databasePath_ = store::kMailsortDatabase;
  bool started_ = false;
  bool running_ = false;
};

}  // namespace ms
