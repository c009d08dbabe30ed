#include "app/start_dialog.h"

#include <QFileDialog>
#include <QFileInfo>
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
#include <system_error>

#include "app/command_line.h"
#include "app/message_box.h"
#include "app/progress_window.h"
#include "app/reprint.h"
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

// The status as the label shows it: an option name ("--no-print", "-C")
// holds together, the line wraps between words only. Qt would break after
// any hyphen; a word joiner (U+2060, drawn as nothing) after each hyphen
// of a word that starts with one keeps it whole.
QString unbrokenOptions(QString text) {
  constexpr QChar kWordJoiner(0x2060);
  for (qsizetype at = 0; at < text.size(); ++at) {
    const bool wordStart = at == 0 || text[at - 1].isSpace() || text[at - 1] == QLatin1Char('(') ||
                           text[at - 1] == QLatin1Char('"');
    if (!wordStart || text[at] != QLatin1Char('-')) continue;
    for (; at < text.size() && !text[at].isSpace(); ++at)
      if (text[at] == QLatin1Char('-')) text.insert(++at, kWordJoiner);
  }
  return text;
}

}  // namespace

std::string chooseJobWithDialogs(const std::string& missing) {
  const QString text =
      QString::fromStdString(missing) + " not found.\n\nChoose the job's folder or its database file.";
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

  cmdPrintAgain_ = new QPushButton("Print Again", this);
  cmdPrintAgain_->setObjectName("cmdPrintAgain");
  place(cmdPrintAgain_, 240, 2760, 1215, 375);
  cmdPrintAgain_->hide();
  connect(cmdPrintAgain_, &QPushButton::clicked, this, &StartDialog::printAgainPressed);

  lblStatus_ = new QLabel(this);
  lblStatus_->setObjectName("lblStatus");
  lblStatus_->setWordWrap(true);
  lblStatus_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  place(lblStatus_, 240, kStatusTop, kWidth - 480, kStatusHeight);
  showRunStatus({});  // none yet: the dialog at its own size
  if (progressWindow_)
    connect(progressWindow_, &ProgressWindow::runEnded, this,
            [this](bool, bool, const QString& status) { showRunStatus(status); });
  if (progressWindow_)
    connect(progressWindow_, &ProgressWindow::runEnded, this, &StartDialog::offerPrintAgain);
}

void StartDialog::showRunStatus(const QString& status) {
  const double dpi = logicalDpiX();
  lblStatus_->setText(unbrokenOptions(status));
  lblStatus_->setVisible(!status.isEmpty());
  setFixedSize(twipsToPixels(kWidth, dpi),
               twipsToPixels(status.isEmpty() ? kHeight : kHeightWithStatus, dpi));
}

QString StartDialog::runStatus() const { return QString(lblStatus_->text()).remove(QChar(0x2060)); }

GateResult StartDialog::load(const std::string& databasePath) {
  if (!isMinimized() && !isMaximized()) {
    if (QScreen* screen = this->screen()) {
      QRect area = screen->geometry();
      move(centredPosition(area.width(), area.height(), width(), height()) + area.topLeft());
    }
  }
  GateResult result = startGate(databasePath);
  switch (result) {
    case GateResult::Refused:
      showExclamation(this, kGateMessage);
      break;
    case GateResult::ChainMode:
      // Switched off for the length of the run; the run ends the program.
      setEnabled(false);
      hide();
      progressWindow_->showRun();
      break;
    case GateResult::Wait:
      offerPrintAgain();
      show();
      // Once the program runs: what a killed run left is settled before OK.
      if (progressWindow_)
        QMetaObject::invokeMethod(progressWindow_, &ProgressWindow::settleLastRun, Qt::QueuedConnection);
      break;
  }
  return result;
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
    const std::string chosen = chooser_ ? chooser_(place) : std::string();
    if (chosen.empty()) return false;
    const bool folder = fs::is_directory(chosen, code);
    std::string error;
    if (!enterDirectory(folder ? chosen : fs::absolute(chosen).parent_path().string(), error)) {
      std::fprintf(stderr, "mailsort: %s\n", error.c_str());
      continue;
    }
    if (!folder) database = fs::absolute(chosen).filename().string();
  }
}

void StartDialog::okPressed() { progressWindow_->showRun(); }

void StartDialog::offerPrintAgain() { cmdPrintAgain_->setVisible(QFileInfo::exists("MAILSORT.PDF")); }

void StartDialog::printAgainPressed() {
  const Reprinted done = reprint(printOn_);
  std::fprintf(stderr, "%s\n", done.message.c_str());
  // The line under the buttons has room for two lines: the folder goes without saying.
  showRunStatus(QString::fromStdString(done.status == kFinished
                                           ? "Printed again: " + std::to_string(done.pages) +
                                                 (done.pages == 1 ? " page" : " pages") +
                                                 " of MAILSORT.PDF on " + done.queue + "."
                                           : "Not printed again: " + done.message + "."));
}

}  // namespace ms
