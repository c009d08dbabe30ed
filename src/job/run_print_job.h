// The print job of one run, as the reports see it: every call goes on to the
// page sink that prints it, and the job remembers whether it has been started
// and ended, so that a run that stops early (Cancel during the line report)
// can still end the job and the pages printed so far come out.
#pragma once

#include "reports/common/page_sink.h"

namespace ms {

class RunPrintJob : public PageSink {
 public:
  // Stages the sink's pages with `publication` for as long as the job lives.
  explicit RunPrintJob(PageSink* sink, Publication* publication = nullptr);
  ~RunPrintJob() override;
  RunPrintJob(const RunPrintJob&) = delete;
  RunPrintJob& operator=(const RunPrintJob&) = delete;

  void setFontName(const std::string& name) override;
  void setFontSize(double points) override;
  void setEmphasis(bool on) override;
  void printLine(const std::string& text) override;
  void newPage() override;
  int page() const override;
  void endDoc() override;

  bool started() const { return started_; }
  bool ended() const { return ended_; }
  // Ends the job if something was printed and nobody has ended it yet.
  void finish();

 private:
  PageSink* sink_;
  bool started_ = false;
  bool ended_ = false;
};

}  // namespace ms
