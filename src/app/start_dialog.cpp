#include "app/start_dialog.h"

#include <QFileDialog>
#include <QFont>
#include <QGuiApplication>
#include <QLabel>
#include <QMessageBox>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QScreen>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "app/command_line.h"
#include "app/message_box.h"
#include "app/progress_window.h"
#include "app/window_geometry.h"
#include "store/pg_handle.h"

namespace ms {

namespace {

// The dialog's client area, in twips.
constexpr int kWidth = 6360;
constexpr int kHeight = 3480;
// The status of the last run, two lines under the buttons, and the height
// of the dialog that shows it.
constexpr int kStatusTop = 3300, kStatusHeight = 600, kHeightWithStatus = 4080;

// The picture beside the title: a letter, drawn to the size of the box.
QPixmap envelope(int side) {
  QPixmap pixmap(side, side);
  pixmap.fill(Qt::transparent);
  QPainter painter(&pixmap);
  painter.setRenderHint(QPainter::Antialiasing);
  const double m = side * 0.12;
  const QRectF body(m, side * 0.25, side - 2 * m, side * 0.5);
  painter.setPen(QPen(QColor(40, 60, 110), side / 32.0));
  painter.setBrush(QColor(250, 248, 240));
  painter.drawRect(body);
  painter.drawPolyline(QPolygonF(
      {body.topLeft(), QPointF(body.center().x(), body.top() + body.height() * 0.6), body.topRight()}));
  painter.fillRect(QRectF(body.right() - side * 0.16, body.top() + side * 0.05, side * 0.1, side * 0.12),
                   QColor(200, 30, 40));
  return pixmap;
}

}  // namespace

std::string chooseJobWithDialogs(const std::string& missing) {
  std::error_code code;
  const bool there = std::filesystem::exists(missing, code);
  const QString text = QString::fromStdString(missing) +
                       (there ? " is not a Mailsort Database" : " not found") +
                       ".\n\nChoose the job's folder or its database file.";
  std::fprintf(stderr, "%s\n", QString(text).replace("\n\n", " ").toLocal8Bit().constData());
  if (QGuiApplication::platformName() == QLatin1String("offscreen")) return {};
  const QString start = QString::fromStdString(std::filesystem::path(missing).parent_path().string());
  for (;;) {
    QMessageBox box(QMessageBox::Warning, "Print Line List and Sort", text);
    QPushButton* folder = box.addButton("Choose Folder...", QMessageBox::AcceptRole);
    QPushButton* file = box.addButton("Choose File...", QMessageBox::AcceptRole);
    box.addButton("Exit", QMessageBox::RejectRole);
    box.setDefaultButton(folder);
    box.exec();
    QString chosen;
    if (box.clickedButton() == folder)
      chosen = QFileDialog::getExistingDirectory(nullptr, "Choose the job's folder", start);
    else if (box.clickedButton() == file)
      chosen = QFileDialog::getOpenFileName(nullptr, "Choose the job's database", start,
                                            "Mailsort databases (*.mdb *.db *.sqlite);;All files (*)");
    else
      return {};
    if (!chosen.isEmpty()) return chosen.toStdString();  // a dialog cancelled asks again
  }
}

StartDialog::StartDialog(ProgressWindow* progressWindow, QWidget* parent)
    : QWidget(parent), progressWindow_(progressWindow) {
  setObjectName("Form1");
  setWindowTitle("Print Line List and Sort");
  const double dpi = logicalDpiX();
  auto place = [dpi](QWidget* w, int left, int top, int width, int height) {
    w->setGeometry(twipsRect(left, top, width, height, dpi));
  };

  picture1_ = new QLabel(this);
  picture1_->setObjectName("Picture1");
  picture1_->setFrameShape(QFrame::StyledPanel);
  place(picture1_, 240, 240, 975, 975);
  picture1_->setPixmap(envelope(picture1_->width() - 4));
  picture1_->setAlignment(Qt::AlignCenter);

  auto* label1 = new QLabel("Print PO Reports", this);
  label1->setObjectName("Label1");
  QFont arial("Arial", 14);
  arial.setBold(true);
  label1->setFont(arial);
  place(label1, 1440, 240, 4680, 420);

  auto* label2 = new QLabel(
      "This option will take the mailsort details and allocate them to direct or residue selections as "
      "appropriate and then print the line list report.",
      this);
  label2->setObjectName("Label2");
  label2->setWordWrap(true);
  place(label2, 1440, 840, 4680, 900);

  auto* label3 = new QLabel(
      "You must have already run the option to apply the mailsort codes before running this option.", this);
  label3->setObjectName("Label3");
  label3->setWordWrap(true);
  place(label3, 1440, 1860, 4680, 600);

  cmdOK_ = new QPushButton("OK", this);
  cmdOK_->setObjectName("cmdOK");
  place(cmdOK_, 1800, 2760, 1215, 375);
  cmdOK_->setDefault(true);
  connect(cmdOK_, &QPushButton::clicked, this, &StartDialog::okPressed);

  cmdCancel_ = new QPushButton("Exit", this);
  cmdCancel_->setObjectName("cmdCancel");
  place(cmdCancel_, 3360, 2760, 1215, 375);
  connect(cmdCancel_, &QPushButton::clicked, this, &QWidget::close);

  lblStatus_ = new QLabel(this);
  lblStatus_->setObjectName("lblStatus");
  lblStatus_->setWordWrap(true);
  lblStatus_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  place(lblStatus_, 240, kStatusTop, kWidth - 480, kStatusHeight);
  showRunStatus({});  // none yet: the dialog at its own size
  if (progressWindow_) {
    connect(progressWindow_, &ProgressWindow::runEnded, this,
            [this](bool, bool, const QString& status) { showRunStatus(status); });
    connect(progressWindow_, &ProgressWindow::runFailed, this, &StartDialog::runFailed);
  }
}

void StartDialog::showRunStatus(const QString& status) {
  const double dpi = logicalDpiX();
  lblStatus_->setText(status);
  lblStatus_->setVisible(!status.isEmpty());
  setFixedSize(twipsToPixels(kWidth, dpi),
               twipsToPixels(status.isEmpty() ? kHeight : kHeightWithStatus, dpi));
}

QString StartDialog::runStatus() const { return lblStatus_->text(); }

GateResult StartDialog::load(const std::string& databasePath) {
  if (!isMinimized() && !isMaximized()) {
    if (QScreen* screen = this->screen()) {
      QRect area = screen->geometry();
      move(centredPosition(area.width(), area.height(), width(), height()) + area.topLeft());
    }
  }
  databasePath_ = databasePath;
  GateResult result = startGate(databasePath);
  enter(result);
  // Once the program runs: what a killed run left is settled before OK.
  if (result == GateResult::Wait && progressWindow_)
    QMetaObject::invokeMethod(progressWindow_, &ProgressWindow::settleLastRun, Qt::QueuedConnection);
  return result;
}

void StartDialog::enter(GateResult result) {
  switch (result) {
    case GateResult::Refused: {
      const QString message = QString::fromStdString(gateRefusalMessage(databasePath_));
      showExclamation(this, message);
      showRunStatus(message);
      break;
    }
    case GateResult::ChainMode:
      // Switched off for the length of the run; the run ends the program.
      chainMode_ = true;
      setEnabled(false);
      hide();
      progressWindow_->showRun();
      break;
    case GateResult::Wait:
      show();
      break;
  }
}

void StartDialog::runFailed(const QString& error) {
  if (chainMode_) return;  // Chain Mode ends the program as it always has
  showRunStatus(error);
  show();
  raise();
  activateWindow();
  // A job that cannot be opened at all: the file is gone, or is not an
  // SQLite database (SQLite's files begin with "SQLite format 3" and a 0).
  namespace fs = std::filesystem;
  if (store::isPostgresUri(databasePath_)) return;
  const std::string place = fs::absolute(databasePath_).string();
  std::string start;
  if (std::ifstream file(place, std::ios::binary); file) {
    start.resize(16);
    file.read(start.data(), 16);
    start.resize(static_cast<std::size_t>(file.gcount()));
  }
  if (start == std::string("SQLite format 3\0", 16)) return;
  std::string database = place;
  if (!askForJob(place, database) || !findJob(database)) {
    close();  // the chooser's Exit ends the program, as the dialog's Exit does
    return;
  }
  progressWindow_->setDatabasePath(database);
  showRunStatus({});  // the message was about the job left behind
  load(database);
}

bool StartDialog::findJob(std::string& database) {
  namespace fs = std::filesystem;
  if (store::isPostgresUri(database)) return true;
  for (;;) {
    const std::string place = fs::absolute(database).string();
    std::error_code code;
    if (fs::exists(place, code) && !fs::is_directory(place, code)) {
      database = place;
      return true;
    }
    if (!askForJob(place, database)) return false;
  }
}

bool StartDialog::askForJob(const std::string& place, std::string& database) {
  namespace fs = std::filesystem;
  const std::string chosen = chooser_ ? chooser_(place) : std::string();
  if (chosen.empty()) return false;
  std::error_code code;
  const bool folder = fs::is_directory(chosen, code);
  std::string error;
  if (!enterDirectory(folder ? chosen : fs::absolute(chosen).parent_path().string(), error)) {
    std::fprintf(stderr, "mailsort: %s\n", error.c_str());
    return true;  // asked again
  }
  // A folder holds the database of the same name (a path named whole is
  // looked for by its name there); a file is the database.
  if (!folder)
    database = fs::absolute(chosen).filename().string();
  else if (fs::path(database).is_absolute())
    database = fs::path(database).filename().string();
  return true;
}

void StartDialog::okPressed() {
  if (progressWindow_->isVisible()) {
    progressWindow_->showRun();  // only brought forward
    return;
  }
  const GateResult result = startGate(databasePath_);
  if (result == GateResult::Wait)
    progressWindow_->showRun();
  else
    enter(result);  // refused, or Chain Mode's run
}

}  // namespace ms
