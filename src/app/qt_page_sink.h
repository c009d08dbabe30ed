// The print job on paper: every line goes to a PDF file and the same pages
// to a CUPS queue too: the system's default one where it has one, a queue
// named, or none. Lines
// are drawn at the left margin of the printable area, one below the other
// by the line spacing of the font in force; a line that does not fit on the
// page starts the next page by itself.
//
// The PDF is written as an OutputFile: under a temporary name beside its
// own, completed when the job ends (staged with the run's publication, so
// that only a finished run puts it in place). The printer's pages are kept
// in a temporary file of their own as well and sent to the printer only
// when the run's files are published; a job that is not ended, or whose run
// does not finish, is thrown away and never printed. A device that fails is
// a fault naming the file or the printer; the others print on.
#pragma once

#include <QPageSize>
#include <memory>
#include <string>
#include <vector>

#include "reports/common/page_sink.h"

namespace ms {

// Where the pages are printed besides the PDF.
struct PrintOn {
  enum Kind { DefaultQueue, Queue, Nowhere } kind = DefaultQueue;
  std::string queue;  // the CUPS queue, for Queue

  static PrintOn nowhere() { return {Nowhere, {}}; }
  static PrintOn queueNamed(std::string name) { return {Queue, std::move(name)}; }
};

// Why the pages cannot be printed on the queue `name`: it does not exist
// (or CUPS cannot be asked). Empty when it exists. A QGuiApplication must
// exist.
std::string missingQueue(const std::string& name);

// Sends the PDF file `file` to the CUPS queue `queue` as one job, on the
// paper `media` (a page size key, "A4"), one-sided; an instance
// ("queue/instance") prints on its queue. The file stays. Fails with
// Fault::Io naming the queue when CUPS does not take the job.
void printPdfFile(const std::string& queue, const std::string& file, const std::string& media);

class QtPageSink : public PageSink {
 public:
  // The job starts with the first line or new page; a QGuiApplication must
  // exist by then. The PDF's temporary file is created at that moment and
  // put in place under `pdfPath` when the job ends.
  // The PDF is laid out on `paper` (A4 unless said) with the widest report
  // line, 107 characters at 9 points, in the middle of the page.
  explicit QtPageSink(const std::string& pdfPath, const PrintOn& printOn = {},
                      const QPageSize& paper = QPageSize(QPageSize::A4));
  // Throws away a job that was begun and not ended.
  ~QtPageSink() override;
  QtPageSink(const QtPageSink&) = delete;
  QtPageSink& operator=(const QtPageSink&) = delete;

  void setFontName(const std::string& name) override;
  void setFontSize(double points) override;
  void setEmphasis(bool on) override;
  // Prints on every device that works, then fails with the fault of the
  // first one that does not (the PDF's file could not be created, or a
  // device could not be started), recording the others: each line lost
  // counts.
  void printLine(const std::string& text) override;
  void newPage() override;
  // Pages begun so far on the PDF, or on the printer when the PDF does not
  // work (1 before anything is printed).
  int page() const override;
  // Ends the job on every device, completes the PDF and hands the printer's
  // pages to the run's publication (without a run, they are sent at once).
  // Fails with Fault::Io naming the PDF when it could not be completed or
  // written in full, or naming the printer when its job could not be ended.
  void endDoc() override;
  void stageWith(Publication* publication) override { publication_ = publication; }
  // "3 pages printed on office, and kept in MAILSORT.PDF" once the pages
  // were sent; otherwise why they are only in the PDF.
  std::string whereThePagesWent() const override;
  std::string printedOn() const override;
  int pagesPrinted() const override;

  // Whether a printer receives the job as well.
  bool toPrinter() const;

 private:
  struct Device;
  void begin();
  // Gives the painters the font now asked for, when it changed.
  void applyFont();

  std::string pdfPath_;
  PrintOn::Kind printOn_;
  std::shared_ptr<int> pagesSent_ = std::make_shared<int>(0);  // by the printer's job, once sent
  std::vector<std::unique_ptr<Device>> devices_;
  std::string fontName_ = "Courier New";
  double fontSize_ = 10;
  bool emphasis_ = false;
  bool fontChanged_ = true;
  bool begun_ = false;
  bool ended_ = false;
  Publication* publication_ = nullptr;  // the run's, while a run prints here
};

}  // namespace ms
