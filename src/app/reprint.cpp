#include "app/reprint.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QPageSize>
#include <QPrinterInfo>
#include <QSizeF>
#include <QString>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <string_view>
#include <utility>

#include "app/pdf_file.h"
#include "job/command_line.h"
#include "reports/common/output_file.h"
#include "reports/common/publication.h"
#include "values/fault.h"

namespace ms {

namespace {

constexpr const char* kPdfName = "MAILSORT.PDF";

// The text of the file `path`; false when it cannot be read.
bool readWhole(const std::string& path, std::string& text) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool read = readRest(fd, text);
  const int error = errno;
  ::close(fd);
  errno = error;
  return read;
}

// The paper of the PDF's first page, as CUPS names it ("A4"), from its
// MediaBox; empty when it is not given (the queue's own paper then).
std::string paperOf(const std::string& pdf) {
  constexpr std::string_view kKey = "/MediaBox [";
  const std::size_t at = pdf.find(kKey);
  if (at == std::string::npos) return {};
  const char* p = pdf.c_str() + at + kKey.size();
  double box[4];
  for (double& value : box) {
    char* end = nullptr;
    value = std::strtod(p, &end);
    if (end == p) return {};
    p = end;
  }
  const QPageSize size(QSizeF(box[2] - box[0], box[3] - box[1]), QPageSize::Point, QString(),
                       QPageSize::FuzzyMatch);
  return size.isValid() && size.id() != QPageSize::Custom ? size.key().toStdString() : std::string();
}

Reprinted refused(int status, std::string why) {
  Reprinted done;
  done.status = status;
  done.message = std::move(why);
  return done;
}

}  // namespace

int pdfPages(const std::string& pdf) {
  if (!pdf.starts_with("%PDF-") || !endsAsPdf(pdf)) return 0;
  // Each page is an object of type /Page; the tree above them is /Pages.
  constexpr std::string_view kPage = "/Type /Page";
  int pages = 0;
  for (std::size_t at = pdf.find(kPage); at != std::string::npos; at = pdf.find(kPage, at + 1)) {
    const char next = at + kPage.size() < pdf.size() ? pdf[at + kPage.size()] : ' ';
    if (!std::isalnum(static_cast<unsigned char>(next))) ++pages;
  }
  return pages;
}

Reprinted reprint(const PrintOn& printOn) {
  std::error_code code;
  const std::string pdfPath = (std::filesystem::current_path(code) / kPdfName).lexically_normal().string();
  try {
    // No run replaces the file while it is sent.
    Publication lock;
    if (::access(Publication::kJournalName, F_OK) == 0)
      return refused(kFailed,
                     "the last run in " + lock.folderPath() +
                         " was cut short while putting its files in place, and " + kPdfName +
                         " may not be its pages: start mailsort in the folder to settle it, then print "
                         "again");
    std::string pdf;
    if (!readWhole(kPdfName, pdf)) {
      if (errno == ENOENT)
        return refused(kFailed, pdfPath + " not found: only a finished run keeps its pages there");
      return refused(kFailed, pdfPath + " cannot be read: " + systemMessage(errno));
    }
    QPrinterInfo queue;
    if (printOn.kind == PrintOn::Queue)
      queue = QPrinterInfo::printerInfo(QString::fromStdString(printOn.queue));
    else if (printOn.kind == PrintOn::DefaultQueue)
      queue = QPrinterInfo::defaultPrinter();
    if (queue.isNull())
      return refused(kFailed, printOn.kind == PrintOn::Queue ? missingQueue(printOn.queue)
                              : printOn.kind == PrintOn::Nowhere
                                  ? std::string("no printer queue to print on: the printer chosen is none")
                                  : std::string("no printer queue to print on: there is no default "
                                                "queue and --printer names none"));
    const int pages = pdfPages(pdf);
    if (pages == 0) return refused(kFailed, pdfPath + " is not a whole PDF: nothing was sent");
    const std::string name = queue.printerName().toStdString();
    printPdfFile(name, kPdfName, paperOf(pdf));
    return {kFinished,
            std::to_string(pages) + (pages == 1 ? " page" : " pages") + " printed on " + name + ", from " +
                pdfPath,
            pages, name};
  } catch (const RunError& failure) {
    if (failure.fault() == Fault::InUse)
      return refused(kGateRefused, std::string(failure.what()) + ": print again when it has finished");
    return refused(
        kFailed, std::string(failure.what()) + (failure.where().empty() ? "" : " (" + failure.where() + ")"));
  }
}

}  // namespace ms
