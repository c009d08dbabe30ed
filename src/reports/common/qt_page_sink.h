// The print job on paper: every line goes to a PDF file and, where the
// system has a default printer, the same pages to that printer too. Lines
// are drawn at the left margin of the printable area, one below the other
// by the line spacing of the font in force; a line that does not fit on the
// page starts the next page by itself.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "reports/common/page_sink.h"

namespace ms {

class QtPageSink : public PageSink {
 public:
  // The job starts with the first line or new page; a QGuiApplication must
  // exist by then. `pdfPath` is created or replaced at that moment.
  explicit QtPageSink(const std::string& pdfPath, bool alsoToDefaultPrinter = true);
  // Ends a job that was begun and not ended, so a cancelled run's pages
  // still come out.
  ~QtPageSink() override;
  QtPageSink(const QtPageSink&) = delete;
  QtPageSink& operator=(const QtPageSink&) = delete;

  void setFontName(const std::string& name) override;
  void setFontSize(double points) override;
  void setEmphasis(bool on) override;
  // Fails with Fault::Engine when no output could be begun.
  void printLine(const std::string& text) override;
  void newPage() override;
  // Pages begun so far on the PDF (1 before anything is printed).
  int page() const override;
  void endDoc() override;

  // Whether the default printer receives the job as well.
  bool toPrinter() const;

 private:
  struct Device;
  void begin();
  // Gives the painters the font now asked for, when it changed.
  void applyFont();

  std::string pdfPath_;
  std::vector<std::unique_ptr<Device>> devices_;
  std::string fontName_ = "Courier New";
  double fontSize_ = 10;
  bool emphasis_ = false;
  bool fontChanged_ = true;
  bool begun_ = false;
  bool ended_ = false;
};

}  // namespace ms
