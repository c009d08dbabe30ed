#include "reports/common/qt_page_sink.h"

#include <QFont>
#include <QFontMetricsF>
#include <QMarginsF>
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPrinter>
#include <QPrinterInfo>
#include <QString>

#include "store/fault.h"

namespace ms {

struct QtPageSink::Device {
  std::unique_ptr<QPrinter> printer;
  QPainter painter;
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

}  // namespace

QtPageSink::QtPageSink(const std::string& pdfPath, bool alsoToDefaultPrinter) : pdfPath_(pdfPath) {
  auto pdf = std::make_unique<Device>();
  pdf->isPdf = true;
  pdf->printer = std::make_unique<QPrinter>(QPrinter::HighResolution);
  pdf->printer->setOutputFormat(QPrinter::PdfFormat);
  pdf->printer->setOutputFileName(QString::fromStdString(pdfPath));
  pdf->printer->setDocName(kDocName);
  // A4 with narrow side margins: a 107-character line at 9 points is 578
  // points wide, which A4's 595 only just holds.
  pdf->printer->setPageLayout(QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait,
                                          QMarginsF(14, 18, 14, 18), QPageLayout::Point));
  devices_.push_back(std::move(pdf));

  if (alsoToDefaultPrinter) {
    QPrinterInfo info = QPrinterInfo::defaultPrinter();
    if (!info.isNull()) {
      auto device = std::make_unique<Device>();
      device->printer = std::make_unique<QPrinter>(info, QPrinter::HighResolution);
      device->printer->setDocName(kDocName);
      devices_.push_back(std::move(device));
    }
  }
}

QtPageSink::~QtPageSink() {
  if (begun_ && !ended_) endDoc();
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
    device->live = device->painter.begin(device->printer.get());
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

  bool printed = false;
  for (auto& device : devices_) {
    if (!device->live) continue;
    if (device->y > 0 && device->y + device->lineSpacing > device->pageHeight) {
      device->printer->newPage();
      device->y = 0;
      ++device->pages;
    }
    device->painter.drawText(QPointF(0, device->y + device->ascent), line);
    device->y += device->lineSpacing;
    printed = true;
  }
  if (!printed) throw RunError(Fault::Engine, "The report could not be printed to " + pdfPath_);
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

int QtPageSink::page() const { return devices_.front()->pages; }

void QtPageSink::endDoc() {
  if (ended_) return;
  ended_ = true;
  for (auto& device : devices_)
    if (device->live) device->painter.end();
}

bool QtPageSink::toPrinter() const { return devices_.size() > 1; }

}  // namespace ms
