// A print job kept in memory: every line as printed, page by page, with the
// font in force when it was printed. The reports' tests read it.
#pragma once

#include <string>
#include <vector>

#include "reports/common/page_sink.h"

namespace ms {

struct PrintedLine {
  std::string text;  // as printed, trailing blanks kept
  std::string fontName;
  double fontSize = 0;
  bool emphasis = false;
};

class TextPageSink : public PageSink {
 public:
  TextPageSink();

  void setFontName(const std::string& name) override;
  void setFontSize(double points) override;
  void setEmphasis(bool on) override;
  void printLine(const std::string& text) override;
  void newPage() override;
  int page() const override;
  void endDoc() override;

  // Pages counted from 1; page n's lines.
  int pageCount() const { return static_cast<int>(pages_.size()); }
  const std::vector<PrintedLine>& linesOf(int page) const;
  // The texts of one page, or of the whole job in order.
  std::vector<std::string> textOf(int page) const;
  std::vector<std::string> allText() const;

  bool ended() const { return endDocs_ > 0; }
  int endDocCount() const { return endDocs_; }
  // Lines and new pages asked for after the job was ended: always a fault
  // of the caller, kept here so that tests can see it.
  const std::vector<std::string>& afterEnd() const { return afterEnd_; }

 private:
  std::vector<std::vector<PrintedLine>> pages_;
  std::string fontName_;
  double fontSize_ = 0;
  bool emphasis_ = false;
  int endDocs_ = 0;
  std::vector<std::string> afterEnd_;
};

}  // namespace ms
