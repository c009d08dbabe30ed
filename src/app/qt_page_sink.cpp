#include "app/qt_page_sink.h"

#include <cups/cups.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDateTime>
#include <QFont>
#include <QFontMetricsF>
#include <QMarginsF>
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPrinter>
#include <QPrinterInfo>
#include <QString>
#include <algorithm>
#include <filesystem>
#include <optional>
#include <string_view>

#include "app/pdf_file.h"
#include "app/short_date.h"
#include "reports/common/output_file.h"
#include "reports/common/publication.h"
#include "values/fault.h"
#include "values/fault_log.h"

namespace ms {

struct QtPageSink::Device {
  std::unique_ptr<QPrinter> printer;
  QPainter painter;
  OutputFile file;                // the pages, written under a temporary name
  std::string name;               // the PDF's file name or the printer's name, as faults give it
  std::optional<RunError> fault;  // why the device prints nothing
  bool live = false;
  bool isPdf = false;
  double y = 0;  // top of the next line, device pixels from the top of the printable area
  double pageHeight = 0;
  double ascent = 0;  // of the font in force
  double lineSpacing = 0;
  int pages = 1;
};

namespace {

constexpr const char* kDocName = "Mailsort";

// Characters below the blank (the code zero of a field never filled, a stray
// tab) would print as nothing or as a box and shift the columns after them.
QString printable(const std::string& text) {
  QString line = QString::fromStdString(text);
  for (QChar& c : line)
    if (c.unicode() < 0x20) c = QLatin1Char(' ');
  return line;
}

// Whether the PDF at `path` ends as a complete one does. The PDF writer does
// not tell of a write that failed (a full disk), but what it could not write
// includes the end-of-file mark it writes last.
bool fileEndsAsPdf(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return false;
  char tail[64];
  ssize_t got = -1;
  struct stat info;
  if (::fstat(fd, &info) == 0 && info.st_size >= static_cast<off_t>(sizeof tail))
    got = ::pread(fd, tail, sizeof tail, info.st_size - static_cast<off_t>(sizeof tail));
  ::close(fd);
  return got > 0 && endsAsPdf(std::string_view(tail, static_cast<std::size_t>(got)));
}

// Dates the PDF at `path` by `when` in place of the moment Qt wrote into
// its information, "/CreationDate (D:yyyyMMddHHmmssZ)": with the time zone
// set to UTC (main does so for a fixed run time) the date always has that
// length, so the digits are replaced where they stand and nothing after
// them moves. A file not laid out so is left as Qt wrote it. False when it
// could not be read or written again.
bool redate(const std::string& path, const QDateTime& when) {
  constexpr std::string_view kKey = "/CreationDate (D:";
  const std::string digits = when.toUTC().toString("yyyyMMddHHmmss").toStdString();
  const int fd = ::open(path.c_str(), O_RDWR | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return false;
  std::string pdf;
  bool written = readRest(fd, pdf);
  const std::size_t at = pdf.find(kKey);
  if (written && at != std::string::npos && pdf.compare(at + kKey.size() + digits.size(), 2, "Z)") == 0) {
    const off_t place = static_cast<off_t>(at + kKey.size());
    written = ::pwrite(fd, digits.data(), digits.size(), place) == static_cast<ssize_t>(digits.size());
  }
  return ::close(fd) == 0 && written;
}

// Sends the pages in `file` to the printer `queue` as one job and removes
// the file.
void sendToPrinter(const std::string& queue, const std::string& file, const std::string& media) {
  try {
    printPdfFile(queue, file, media);
  } catch (...) {
    ::unlink(file.c_str());
    throw;
  }
  ::unlink(file.c_str());
}

// Throws the first of `faults` and records the others, so that each device
// at fault is told of.
void fail(const std::vector<RunError>& faults) {
  if (faults.empty()) return;
  for (std::size_t i = 1; i < faults.size(); ++i) recordFault(faults[i]);
  throw faults.front();
}

}  // namespace

void printPdfFile(const std::string& queue, const std::string& file, const std::string& media) {
  cups_option_t* options = nullptr;
  int count = media.empty() ? 0 : cupsAddOption("media", media.c_str(), 0, &options);
  count = cupsAddOption("sides", "one-sided", count, &options);
  // An instance ("queue/instance") prints on its queue.
  const std::string destination = queue.substr(0, queue.find('/'));
  const int job = cupsPrintFile(destination.c_str(), file.c_str(), kDocName, count, options);
  cupsFreeOptions(count, options);
  if (job == 0)
    throw RunError(Fault::Io,
                   std::string("the pages could not be sent to the printer: ") + cupsLastErrorString(),
                   queue);
}

std::string missingQueue(const std::string& name) {
  if (!QPrinterInfo::printerInfo(QString::fromStdString(name)).isNull()) return {};
  return "no printer queue named \"" + name + "\" (lpstat -e lists the queues; --no-print prints on none)";
}

QtPageSink::QtPageSink(const std::string& pdfPath, const PrintOn& printOn, const QPageSize& paper)
    : pdfPath_(pdfPath), printOn_(printOn.kind) {
  auto pdf = std::make_unique<Device>();
  pdf->isPdf = true;
  pdf->printer = std::make_unique<QPrinter>(QPrinter::HighResolution);
  pdf->printer->setOutputFormat(QPrinter::PdfFormat);
  pdf->name = std::filesystem::path(pdfPath).filename().string();
  pdf->printer->setDocName(kDocName);
  // The widest line of the reports, 107 characters of 5.4 points (9-point
  // Courier New), is 577.8 points: it stands in the middle of the paper,
  // 8.7 points (3 mm) from either edge of A4 and 17 points (6 mm) of Letter.
  constexpr double kWidestLine = 107 * 5.4;
  const double side = std::max(0.0, (paper.size(QPageSize::Point).width() - kWidestLine) / 2);
  pdf->printer->setPageLayout(
      QPageLayout(paper, QPageLayout::Portrait, QMarginsF(side, 18, side, 18), QPageLayout::Point));
  devices_.push_back(std::move(pdf));

  if (printOn.kind != PrintOn::Nowhere) {
    const QPrinterInfo info = printOn.kind == PrintOn::Queue
                                  ? QPrinterInfo::printerInfo(QString::fromStdString(printOn.queue))
                                  : QPrinterInfo::defaultPrinter();
    if (!info.isNull()) {
      auto device = std::make_unique<Device>();
      device->printer = std::make_unique<QPrinter>(info, QPrinter::HighResolution);
      device->printer->setDocName(kDocName);
      device->name = info.printerName().toStdString();
      devices_.push_back(std::move(device));
    }
  }
}

QtPageSink::~QtPageSink() {
  // A job nobody ended is thrown away, never printed.
  for (auto& device : devices_) {
    if (device->live && device->painter.isActive()) device->painter.end();
    device->file.discard();
  }
}

void QtPageSink::setFontName(const std::string& name) {
  fontName_ = name;
  fontChanged_ = true;
}

void QtPageSink::setFontSize(double points) {
  fontSize_ = points;
  fontChanged_ = true;
}

void QtPageSink::setEmphasis(bool on) {
  emphasis_ = on;
  fontChanged_ = true;
}

void QtPageSink::begin() {
  if (begun_) return;
  begun_ = true;
  for (auto& device : devices_) {
    // The printer's pages too are kept in a file of their own until the run
    // has finished: only then are they sent.
    try {
      ::close(device->file.create(pdfPath_));
    } catch (const RunError& failure) {
      device->fault = failure;
      continue;
    }
    device->printer->setOutputFileName(QString::fromStdString(device->file.temporaryPath()));
    device->live = device->painter.begin(device->printer.get());
    if (!device->live) {
      device->file.discard();
      device->fault =
          RunError(Fault::Io, device->isPdf ? "could not be started" : "the print job could not be started",
                   device->name);
      continue;
    }
    const QPrinter& printer = *device->printer;
    device->pageHeight = printer.pageLayout().paintRectPixels(printer.resolution()).height();
  }
}

void QtPageSink::applyFont() {
  if (!fontChanged_) return;
  fontChanged_ = false;
  QFont font(QString::fromStdString(fontName_));
  font.setStyleHint(QFont::TypeWriter);
  font.setFixedPitch(true);
  font.setKerning(false);
  font.setPointSizeF(fontSize_ > 0 ? fontSize_ : 10);
  font.setBold(emphasis_);
  for (auto& device : devices_) {
    if (!device->live) continue;
    device->painter.setFont(font);
    const QFontMetricsF metrics(font, device->printer.get());
    device->ascent = metrics.ascent();
    device->lineSpacing = metrics.lineSpacing();
  }
}

void QtPageSink::printLine(const std::string& text) {
  if (ended_) return;
  begin();
  applyFont();
  const QString line = printable(text);

  std::vector<RunError> faults;
  bool printed = false;
  for (auto& device : devices_) {
    if (!device->live) {
      if (device->fault) faults.push_back(*device->fault);
      continue;
    }
    printed = true;
    if (device->y > 0 && device->y + device->lineSpacing > device->pageHeight) {
      device->printer->newPage();
      device->y = 0;
      ++device->pages;
    }
    device->painter.drawText(QPointF(0, device->y + device->ascent), line);
    device->y += device->lineSpacing;
  }
  // A line that reached paper or the PDF is printed: the statement goes on,
  // and a device at fault is only recorded.
  if (printed)
    for (const RunError& fault : faults) recordFault(fault);
  else
    fail(faults);
}

void QtPageSink::newPage() {
  if (ended_) return;
  begin();
  for (auto& device : devices_) {
    if (!device->live) continue;
    device->printer->newPage();
    device->y = 0;
    ++device->pages;
  }
}

int QtPageSink::page() const {
  for (const auto& device : devices_)
    if (device->live) return device->pages;
  return devices_.front()->pages;
}

void QtPageSink::endDoc() {
  if (ended_) return;
  ended_ = true;
  std::vector<RunError> faults;
  for (auto& device : devices_) {
    if (!device->live) continue;
    const bool ended = device->painter.end();
    const std::string& pages = device->file.temporaryPath();
    if (!ended)
      faults.emplace_back(Fault::Io,
                          device->isPdf ? "could not be completed" : "the print job could not be ended",
                          device->name);
    else if (!fileEndsAsPdf(pages))
      faults.emplace_back(Fault::Io, "could not be written in full", device->name);
    else if (const auto fixed = fixedRunTime(); fixed && device->isPdf && !redate(pages, *fixed))
      faults.emplace_back(Fault::Io, "could not be written in full", device->name);
    if (device->isPdf) {
      // What could be written is completed even when it is not all there:
      // a run that met the fault discards it.
      try {
        complete(device->file, publication_);
      } catch (const RunError& failure) {
        faults.push_back(failure);
      }
      continue;
    }
    if (!ended) continue;  // the file is discarded with the device
    const std::string queue = device->name, file = pages;
    const std::string media = device->printer->pageLayout().pageSize().key().toStdString();
    device->file.forget();
    auto send = [queue, file, media, pages = device->pages, sent = pagesSent_] {
      sendToPrinter(queue, file, media);
      *sent = pages;
    };
    if (publication_)
      publication_->onPublish(send, [file] { ::unlink(file.c_str()); });
    else
      try {
        send();
      } catch (const RunError& failure) {
        faults.push_back(failure);
      }
  }
  fail(faults);
}

std::string QtPageSink::whereThePagesWent() const {
  const std::string& pdf = devices_.front()->name;
  if (!toPrinter())
    return printOn_ == PrintOn::Nowhere ? "not printed (--no-print): the pages are in " + pdf
                                        : "no printer: the pages are in " + pdf;
  const std::string& queue = devices_.back()->name;
  if (*pagesSent_ == 0) return "not printed on " + queue + ": the pages are in " + pdf;
  return std::to_string(*pagesSent_) + (*pagesSent_ == 1 ? " page" : " pages") + " printed on " + queue +
         ", and kept in " + pdf;
}

std::string QtPageSink::printedOn() const {
  return toPrinter() && *pagesSent_ > 0 ? devices_.back()->name : std::string();
}

int QtPageSink::pagesPrinted() const { return toPrinter() ? *pagesSent_ : 0; }

bool QtPageSink::toPrinter() const { return devices_.size() > 1; }

}  // namespace ms
