#include "job/run_print_job.h"

namespace ms {

RunPrintJob::RunPrintJob(PageSink* sink, Publication* publication) : sink_(sink) {
  if (sink_) sink_->stageWith(publication);
}

RunPrintJob::~RunPrintJob() {
  if (sink_) sink_->stageWith(nullptr);
}

void RunPrintJob::setFontName(const std::string& name) {
  if (sink_) sink_->setFontName(name);
}

void RunPrintJob::setFontSize(double points) {
  if (sink_) sink_->setFontSize(points);
}

void RunPrintJob::setEmphasis(bool on) {
  if (sink_) sink_->setEmphasis(on);
}

void RunPrintJob::printLine(const std::string& text) {
  started_ = true;
  if (sink_) sink_->printLine(text);
}

void RunPrintJob::newPage() {
  started_ = true;
  if (sink_) sink_->newPage();
}

int RunPrintJob::page() const { return sink_ ? sink_->page() : 1; }

void RunPrintJob::endDoc() {
  if (ended_) return;
  ended_ = true;
  if (sink_) sink_->endDoc();
}

void RunPrintJob::finish() {
  if (started_ && !ended_) endDoc();
}

}  // namespace ms
