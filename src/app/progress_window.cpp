#include "app/progress_window.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QEvent>
#include <QFrame>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QShowEvent>
#include <QTimer>
#include <cstdio>

#include "app/message_box.h"
#include "app/qt_program_starter.h"
#include "app/run_log.h"
#include "app/window_geometry.h"
#include "job/command_line.h"
#include "job/run_driver.h"
#include "job/run_summary.h"

namespace ms {

namespace {

// The window's client area and its controls, in twips.
constexpr int kWidth = 5160;
constexpr int kHeight = 1830;

// How long a pass may go on without the window system running.
constexpr qint64 kEventInterval = 20;

struct LineGeometry {
  int x1, y1, x2, y2;
};
constexpr LineGeometry kLines[4] = {
    {330, 120, 4282, 120},   // Line1: top
    {4275, 120, 4275, 550},  // Line2: right
    {345, 555, 4265, 555},   // Line3: bottom
    {345, 105, 345, 550},    // Line4: left
};

}  // namespace

ProgressWindow::ProgressWindow(QWidget* parent) : QWidget(parent) {
  setObjectName("Form2");
  setWindowTitle("Print PO Reports in Progress");
  const double dpi = logicalDpiX();
  auto place = [dpi](QWidget* w, int left, int top, int width, int height) {
    w->setGeometry(twipsRect(left, top, width, height, dpi));
  };
  setFixedSize(twipsToPixels(kWidth, dpi), twipsToPixels(kHeight, dpi));

  for (int i = 0; i < 20; ++i) {
    QFrame* cell = new QFrame(this);
    cell->setObjectName(QString("Perc%1").arg(i + 1));
    cell->setFrameShape(QFrame::Box);
    cell->setStyleSheet("background-color: #000080; border: 1px solid #000040;");
    place(cell, 360 + 195 * i, 135, 210, 420);
    cells_[static_cast<size_t>(i)] = cell;
  }
  for (int i = 0; i < 4; ++i) {
    const LineGeometry& g = kLines[i];
    QFrame* line = new QFrame(this);
    line->setObjectName(QString("Line%1").arg(i + 1));
    line->setStyleSheet("background-color: black;");
    int x = twipsToPixels(g.x1, dpi), y = twipsToPixels(g.y1, dpi);
    int w = std::max(1, twipsToPixels(g.x2, dpi) - x), h = std::max(1, twipsToPixels(g.y2, dpi) - y);
    if (g.y1 == g.y2) h = 1;
    if (g.x1 == g.x2) w = 1;
    line->setGeometry(x, y, w, h);
    lines_[static_cast<size_t>(i)] = line;
  }

  lblPerc1_ = new QLabel(this);
  lblPerc1_->setObjectName("lblPerc1");
  place(lblPerc1_, 360, 720, 1035, 255);
  lblPerc2_ = new QLabel(this);
  lblPerc2_->setObjectName("lblPerc2");
  lblPerc2_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  place(lblPerc2_, 1395, 720, 615, 255);
  lblPerc3_ = new QLabel(this);
  lblPerc3_->setObjectName("lblPerc3");
  place(lblPerc3_, 2085, 720, 2940, 255);

  cmdCancel_ = new QPushButton("Cancel", this);
  cmdCancel_->setObjectName("cmdCancel");
  place(cmdCancel_, 1800, 1200, 1095, 375);
  connect(cmdCancel_, &QPushButton::clicked, this, [this] {
    if (run_) cancelPressed(*run_);
  });

  // While the program waits (the cancel question), the saves of the run
  // still reach the file every quarter second.
  auto* idle = new QTimer(this);
  connect(idle, &QTimer::timeout, this, [this] {
    if (run_ && run_->mdb) run_->mdb->idle();
  });
  idle->start(250);

  resetControls();
}

ProgressWindow::~ProgressWindow() = default;

// Every control hidden, captions as the window loads.
void ProgressWindow::resetControls() {
  for (QFrame* cell : cells_) cell->hide();
  captions_ = {"Allocation", "", "percent complete (step 1 of 2)"};
  waitShown_ = false;
  for (QFrame* line : lines_) line->hide();
  lblPerc1_->setText("Allocation");
  lblPerc2_->setText(QString());
  lblPerc3_->setText("percent complete (step 1 of 2)");
  lblPerc1_->hide();
  lblPerc2_->hide();
  lblPerc3_->hide();
  cmdCancel_->hide();
}

void ProgressWindow::showRun() {
  if (isVisible()) {
    raise();
    activateWindow();
    return;
  }
  if (!started_) {
    resetControls();
    QScreen* screen = this->screen();
    if (screen && !isMinimized() && !isMaximized()) {
      QRect area = screen->geometry();
      move(centredPosition(area.width(), area.height(), width(), height()) + area.topLeft());
    }
  }
  show();
  activateWindow();
}

bool ProgressWindow::event(QEvent* event) {
  if (event->type() == QEvent::WindowActivate) startOnce();
  return QWidget::event(event);
}

// Where the window is never activated (no window manager, the offscreen
// platform), its first showing starts the run instead.
void ProgressWindow::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  if (!event->spontaneous()) startOnce();
}

void ProgressWindow::closeEvent(QCloseEvent* event) {
  // The run closes the window itself when it is over.
  if (running_ && event->spontaneous())
    event->ignore();
  else
    QWidget::closeEvent(event);
}

void ProgressWindow::startOnce() {
  if (started_ || !isVisible()) return;
  started_ = true;
  // After the event that showed or activated the window has been handled,
  // so that the window is up before the run begins.
  QMetaObject::invokeMethod(this, &ProgressWindow::runNow, Qt::QueuedConnection);
}

void ProgressWindow::runNow() {
  running_ = true;
  // A new run replaces the previous run's state and its open database.
  run_.reset();
  printer_.reset();
  run_ = std::make_unique<RunState>();
  if (printerFactory_) printer_ = printerFactory_();
  run_->progress = this;
  run_->printer = printer_.get();
  if (dateFunction_) run_->rundate = dateFunction_();

  RunStop stop;
  try {
    stop = performRun(*run_, databasePath_);
  } catch (const std::exception& e) {
    running_ = false;
    setBusyPointer(false);
    printer_.reset();
    releaseDatabase();
    QString text = QString("Run-time error: %1").arg(QString::fromStdString(describeFailure(e)));
    showError(this, text);
    logRun(failedRunLogLine(*run_, describeFailure(e), kFailed, databasePath_));
    // The window goes, as after any run: OK can start the next one.
    close();
    started_ = false;
    emit runFailed(text);
    return;
  }
  const std::string pagesWent = printer_ ? printer_->whereThePagesWent() : std::string();
  printer_.reset();  // the job is over: release the printer and the PDF file

  running_ = false;
  close();
  started_ = false;
  endTheRun(stop, pagesWent);
}

void ProgressWindow::settleLastRun() {
  run_ = std::make_unique<RunState>();
  try {
    if (!ms::settleLastRun(*run_, databasePath_)) {
      run_.reset();  // nothing to end: the database is let go
      return;
    }
  } catch (const std::exception& e) {
    releaseDatabase();
    QString text = QString("Run-time error: %1").arg(QString::fromStdString(describeFailure(e)));
    showError(this, text);
    emit runFailed(text);
    return;
  }
  // Said on standard error too: a Chain Mode start ends at once.
  std::fprintf(stderr, "%s\n", runStatusLine(*run_, RunStop::Recovered, {}).c_str());
  endTheRun(RunStop::Recovered, {});
}

void ProgressWindow::endTheRun(RunStop stop, const std::string& pagesWent) {
  QtProgramStarter labels;
  RunEnd end = endRun(*run_, labels);
  if (end.incomplete) showError(this, QString::fromStdString(run_->faults.report(run_->kept())));
  if (!end.labelProblem.empty()) showError(this, QString::fromStdString(end.labelProblem));
  const QString status = QString::fromStdString(runStatusLine(*run_, stop, pagesWent));
  logRun(runLogLine(*run_, stop, runStatus(stop, end), databasePath_));
  releaseDatabase();
  emit runEnded(end.chainMode, end.incomplete || !end.labelProblem.empty(), status);
}

// Between runs the window holds nothing: the run's recordsets and its
// database are closed (on PostgreSQL the session goes, and its advisory
// lock with it), so that another program can use the job while the window
// waits for OK. The run's figures stay in run_.
void ProgressWindow::releaseDatabase() {
  if (!run_) return;
  run_->workrs.reset();
  run_->parmrs.reset();
  if (!run_->mdb) return;
  try {
    run_->mdb->close();
  } catch (const std::exception& e) {
    // Nothing of a run is pending any more (it committed or was undone).
    std::fprintf(stderr, "mailsort: %s\n", describeFailure(e).c_str());
  }
  run_->mdb.reset();
}

// The record of the run; one that cannot be written is said and changes
// nothing of the run.
void ProgressWindow::logRun(const std::string& line) {
  if (const std::string problem = appendRunLog(line); !problem.empty())
    showExclamation(this, QString::fromStdString(problem));
}

QWidget* ProgressWindow::control(Control which) const {
  switch (which) {
    case Control::cmdCancel:
      return cmdCancel_;
    case Control::lblPerc1:
      return lblPerc1_;
    case Control::lblPerc2:
      return lblPerc2_;
    case Control::lblPerc3:
      return lblPerc3_;
    case Control::Line1:
      return lines_[0];
    case Control::Line2:
      return lines_[1];
    case Control::Line3:
      return lines_[2];
    case Control::Line4:
      return lines_[3];
  }
  return nullptr;
}

void ProgressWindow::setCellVisible(int cell, bool visible) {
  if (cell < 1 || cell > 20) return;
  QFrame* frame = cells_[static_cast<size_t>(cell - 1)];
  if (frame->isHidden() != visible) return;  // already as asked: not touched
  frame->setVisible(visible);
}

void ProgressWindow::setVisible(Control which, bool visible) {
  if (QWidget* w = control(which)) w->setVisible(visible);
}

void ProgressWindow::setCaption(Control which, const std::string& text) {
  auto* label = qobject_cast<QLabel*>(control(which));
  if (!label) return;
  if (waitShown_ && (which == Control::lblPerc2 || which == Control::lblPerc3)) {
    lblPerc3_->setText(QString::fromStdString(captions_[2]));  // the wait is over
    waitShown_ = false;
  }
  // An unchanged caption is not touched: a long pass would otherwise be
  // paced by the screen.
  std::string& shown = captions_[static_cast<size_t>(which) - static_cast<size_t>(Control::lblPerc1)];
  if (shown == text) return;
  shown = text;
  label->setText(QString::fromStdString(text));
  // The figure changes up to ten thousand times a pass: it is painted at
  // once at most every 20 ms, and otherwise when the pass next yields.
  const bool figure = which == Control::lblPerc2;
  if (figure && figurePainted_.isValid() && figurePainted_.elapsed() < kEventInterval) return;
  label->repaint();
  if (figure) figurePainted_.start();
}

void ProgressWindow::waitingForDatabase(store::WaitReason why) {
  // In place of the step's caption, until the run goes on and shows its
  // figure again.
  waitShown_ = true;
  lblPerc3_->setText(why == store::WaitReason::Server
                         ? "waiting for the PostgreSQL server, which does not answer"
                         : "waiting for another program");
  lblPerc3_->repaint();
}

void ProgressWindow::setBusyPointer(bool busy) {
  if (busy)
    setCursor(Qt::WaitCursor);
  else
    unsetCursor();
}

// The passes yield after every record; the window system runs when 20 ms
// have gone by since it last ran, which keeps the bar moving and answers
// Cancel at once without a poll of the display on every record.
void ProgressWindow::yield() {
  if (sinceEvents_.isValid() && sinceEvents_.elapsed() < kEventInterval) return;
  QCoreApplication::processEvents();
  sinceEvents_.start();
}

Answer ProgressWindow::confirmCancel() {
  return askYesNo(this, "Are you sure you want to cancel ?") ? Answer::Yes : Answer::No;
}

void ProgressWindow::message(const std::string& text) { showExclamation(this, QString::fromStdString(text)); }

}  // namespace ms
