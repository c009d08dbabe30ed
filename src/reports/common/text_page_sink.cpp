#include "reports/common/text_page_sink.h"

#include <stdexcept>

namespace ms {

TextPageSink::TextPageSink() : pages_(1) {}

void TextPageSink::setFontName(const std::string& name) { fontName_ = name; }

void TextPageSink::setFontSize(double points) { fontSize_ = points; }

void TextPageSink::setEmphasis(bool on) { emphasis_ = on; }

void TextPageSink::printLine(const std::string& text) {
  if (ended()) {
    afterEnd_.push_back(text);
    return;
  }
  pages_.back().push_back({text, fontName_, fontSize_, emphasis_});
}

void TextPageSink::newPage() {
  if (ended()) {
    afterEnd_.push_back("<new page>");
    return;
  }
  pages_.emplace_back();
}

int TextPageSink::page() const { return static_cast<int>(pages_.size()); }

void TextPageSink::endDoc() { ++endDocs_; }

const std::vector<PrintedLine>& TextPageSink::linesOf(int page) const {
  if (page < 1 || page > pageCount()) throw std::out_of_range("no page " + std::to_string(page));
  return pages_[static_cast<std::size_t>(page - 1)];
}

std::vector<std::string> TextPageSink::textOf(int page) const {
  std::vector<std::string> texts;
  for (const PrintedLine& line : linesOf(page)) texts.push_back(line.text);
  return texts;
}

std::vector<std::string> TextPageSink::allText() const {
  std::vector<std::string> texts;
  for (const auto& lines : pages_)
    for (const PrintedLine& line : lines) texts.push_back(line.text);
  return texts;
}

}  // namespace ms
