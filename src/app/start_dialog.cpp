#include "app/start_dialog.h"

#include <QDesktopServices>
#include <QFileDialog>
#include <QFileInfo>
#include <QFont>
#include <QFormLayout>
#include <QFrame>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QScreen>
#include <QShortcut>
#include <QUrl>
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "app/message_box.h"
#include "app/printer_choice.h"
#include "app/progress_window.h"
#include "app/reprint.h"
#include "app/window_geometry.h"
#include "job/command_line.h"
#include "job/job_summary.h"
#include "job/run_summary.h"
#include "store/database.h"
#include "store/pg_handle.h"

namespace ms {

const char* const kInstalledReadme = "/usr/share/doc/mailsort/README.md";

namespace {

// The dialog's client area, in twips.
constexpr int kWidth = 6360;
// The job's and the printer's lines under the texts, and the buttons under them.
constexpr int kJobTop = 2580, kJobHeight = 1800;
constexpr int kButtonsTop = kJobTop + kJobHeight + 180;
constexpr int kHeight = kButtonsTop + 375 + 345;
// The status of the last run, two lines under the buttons, and the height
// of the dialog that shows it.
constexpr int kStatusTop = kButtonsTop + 540, kStatusHeight = 600, kHeightWithStatus = kStatusTop + 780;

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

  // The job and the printer, under the texts: a rule, then one line each.
  auto* rule = new QFrame(this);
  rule->setFrameShape(QFrame::HLine);
  rule->setFrameShadow(QFrame::Sunken);
  place(rule, 240, kJobTop - 90, kWidth - 480, 30);
  auto* job = new QWidget(this);
  job->setObjectName("fraJob");
  place(job, 240, kJobTop, kWidth - 480, kJobHeight);
  jobLines_ = new QFormLayout(job);
  jobLines_->setContentsMargins(0, 0, 0, 0);
  jobLines_->setVerticalSpacing(twipsToPixels(45, dpi));
  jobLines_->setFieldGrowthPolicy(QFormLayout::AllNonFixedFieldsGrow);
  jobLines_->setLabelAlignment(Qt::AlignLeft);
  auto line = [&](const char* name, const QString& caption) {
    auto* value = new QLabel(job);
    value->setObjectName(name);
    value->setTextInteractionFlags(Qt::TextSelectableByMouse);
    jobLines_->addRow(caption, value);
    return value;
  };
  lblPlaceValue_ = line("lblJobPlace", "Folder:");
  lblPlace_ = qobject_cast<QLabel*>(jobLines_->labelForField(lblPlaceValue_));
  lblCompany_ = line("lblCompanyName", "Company Name:");
  lblJobRef_ = line("lblJobRef", "JobRef:");
  lblService_ = line("lblService", "service:");
  lblAddresses_ = line("lblAddresses", "Addresses:");
  lblUnread_ = new QLabel(job);
  lblUnread_->setObjectName("lblJobUnread");
  lblUnread_->setWordWrap(true);
  lblUnread_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  jobLines_->addRow(lblUnread_);
  jobLines_->setRowVisible(lblUnread_, false);
  // The printer, and beside it "Print Again" once the folder holds pages.
  auto* printer = new QWidget(job);
  auto* printerLine = new QHBoxLayout(printer);
  printerLine->setContentsMargins(0, 0, 0, 0);
  cboPrinter_ = new PrinterChoice(printer);
  printerLine->addWidget(cboPrinter_, 1);
  cmdPrintAgain_ = new QPushButton("Print Again", printer);
  cmdPrintAgain_->setObjectName("cmdPrintAgain");
  cmdPrintAgain_->hide();
  printerLine->addWidget(cmdPrintAgain_);
  jobLines_->addRow("Printer:", printer);
  connect(cmdPrintAgain_, &QPushButton::clicked, this, &StartDialog::printAgainPressed);

  // Help and About on the left, OK and Exit on the right.
  constexpr int kButton = 1215, kGap = 120;
  cmdHelp_ = new QPushButton("Help", this);
  cmdHelp_->setObjectName("cmdHelp");
  cmdHelp_->setToolTip("Where the manual is (F1)");
  place(cmdHelp_, 240, kButtonsTop, kButton, 375);
  connect(cmdHelp_, &QPushButton::clicked, this, &StartDialog::showHelp);
  auto* f1 = new QShortcut(QKeySequence::HelpContents, this);
  connect(f1, &QShortcut::activated, this, &StartDialog::showHelp);

  cmdAbout_ = new QPushButton("About", this);
  cmdAbout_->setObjectName("cmdAbout");
  place(cmdAbout_, 240 + kButton + kGap, kButtonsTop, kButton, 375);
  connect(cmdAbout_, &QPushButton::clicked, this, &StartDialog::showAbout);

  cmdOK_ = new QPushButton("OK", this);
  cmdOK_->setObjectName("cmdOK");
  place(cmdOK_, kWidth - 240 - 2 * kButton - kGap, kButtonsTop, kButton, 375);
  cmdOK_->setDefault(true);
  connect(cmdOK_, &QPushButton::clicked, this, &StartDialog::okPressed);

  cmdCancel_ = new QPushButton("Exit", this);
  cmdCancel_->setObjectName("cmdCancel");
  place(cmdCancel_, kWidth - 240 - kButton, kButtonsTop, kButton, 375);
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
    connect(progressWindow_, &ProgressWindow::runEnded, this, &StartDialog::offerPrintAgain);
  }
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
  databasePath_ = databasePath;
  fillPrinters();
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
      showJob(databasePath_);
      offerPrintAgain();
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
  // SQLite database.
  namespace fs = std::filesystem;
  if (store::isPostgresUri(databasePath_)) return;
  const std::string place = fs::absolute(databasePath_).string();
  if (store::beginsAsSqliteDatabase(place)) return;
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

void StartDialog::setFitting(QLabel* label, const QString& text) {
  jobLines_->activate();
  const int room = std::max(label->width(), jobLines_->geometry().width() / 2);
  label->setText(label->fontMetrics().elidedText(text, Qt::ElideMiddle, room));
  label->setToolTip(label->text() == text ? QString() : text);
}

void StartDialog::showJob(const std::string& database) { showJob(readJobSummary(database)); }

void StartDialog::showJob(const JobSummary& job) {
  const bool postgres = job.place.starts_with("PostgreSQL");
  lblPlace_->setText(postgres ? "Database:" : "Folder:");
  setFitting(lblPlaceValue_, QString::fromStdString(job.place));
  for (QLabel* value : {lblCompany_, lblJobRef_, lblService_, lblAddresses_})
    jobLines_->setRowVisible(value, job.read);
  jobLines_->setRowVisible(lblUnread_, !job.read);
  if (!job.read) {
    lblUnread_->setText("The job cannot be read: " + QString::fromStdString(job.problem));
    return;
  }
  setFitting(lblCompany_, QString::fromStdString(job.company));
  setFitting(lblJobRef_, QString::fromStdString(job.jobRef));
  QString service = QString::fromStdString(job.service);
  if (!job.format.empty()) service += (service.isEmpty() ? "" : ", ") + QString::fromStdString(job.format);
  setFitting(lblService_, service);
  lblAddresses_->setText(QString::fromStdString(groupedNumber(static_cast<double>(job.addresses))));
}

void StartDialog::fillPrinters() { cboPrinter_->fill(); }

void StartDialog::fixPrinter(const PrintOn& printOn) { cboPrinter_->fix(printOn); }

PrintOn StartDialog::printOn() const { return cboPrinter_->printOn(); }

void StartDialog::setQueueLister(QueueLister lister) { cboPrinter_->setQueueLister(std::move(lister)); }

void StartDialog::showHelp() {
  const bool installed = std::filesystem::exists(kInstalledReadme);
  auto* box =
      new QMessageBox(QMessageBox::Information, "Print Line List and Sort: Help",
                      "The manual is the manual page mailsort(1): type\n\n"
                      "    man mailsort\n\n"
                      "in a terminal. The README, on printing, PostgreSQL and the "
                      "Post Office files:\n\n" +
                          QString(kInstalledReadme) +
                          (installed ? QString() : "\n\n(where the package puts it; not installed here)"),
                      QMessageBox::Close, this);
  box->setObjectName("msgHelp");
  box->setAttribute(Qt::WA_DeleteOnClose);
  if (installed) {
    QPushButton* open = box->addButton("Open the README", QMessageBox::ActionRole);
    open->setObjectName("cmdOpenReadme");
    connect(open, &QPushButton::clicked, box,
            [] { QDesktopServices::openUrl(QUrl::fromLocalFile(kInstalledReadme)); });
  }
  box->setDefaultButton(QMessageBox::Close);
  box->open();
}

void StartDialog::showAbout() {
  QString version = QString::fromStdString(versionText()).trimmed();
  auto* box = new QMessageBox(QMessageBox::NoIcon, "About mailsort",
                              "<b>" + version.toHtmlEscaped() +
                                  "</b><p>Print Line List and Sort: allocates a coded address file to Royal "
                                  "Mail Mailsort selections and prints the Post Office paperwork for it.</p>"
                                  "<p>MIT licence, the mailsort authors.</p>",
                              QMessageBox::Close, this);
  box->setObjectName("msgAbout");
  box->setTextFormat(Qt::RichText);
  box->setIconPixmap(envelope(64));
  box->setAttribute(Qt::WA_DeleteOnClose);
  box->open();
}

void StartDialog::offerPrintAgain() { cmdPrintAgain_->setVisible(QFileInfo::exists("MAILSORT.PDF")); }

void StartDialog::printAgainPressed() {
  const Reprinted done = reprint(printOn());
  std::fprintf(stderr, "%s\n", done.message.c_str());
  // The line under the buttons has room for two lines: the folder goes without saying.
  showRunStatus(QString::fromStdString(done.status == kFinished
                                           ? "Printed again: " + std::to_string(done.pages) +
                                                 (done.pages == 1 ? " page" : " pages") +
                                                 " of MAILSORT.PDF on " + done.queue + "."
                                           : "Not printed again: " + done.message + "."));
}

}  // namespace ms
