#include "reports/line/line_layout.h"

#include "reports/common/mail_format.h"
#include "reports/common/page_sink.h"

namespace ms {

namespace {

constexpr const char* kFontName = "Courier New";
constexpr double kTitleFontSize = 11;

void printTitleLines(PageSink& sink, const HeaderFields& header) {
  sink.setFontName(kFontName);
  sink.setFontSize(kTitleFontSize);
  sink.printLine(lineTitle(header.date, sink.page()));
  sink.printLine(" " + header.companyName);
  sink.printLine(" ");
}

void printColumnHeading(PageSink& sink, const HeaderFields& header) {
  sink.setFontSize(bodyFontSize(header.longPages));
  sink.printLine(kColumnHeading);
  sink.printLine(" ");
}

}  // namespace

const char* const kColumnHeading =
    "Code                                                                Items  Cum Item    Bags  Cum Bags  "
    "Seq#";
const char* const kNotMatchedText = "None       Letter Post                                             ";
const char* const kEndLine = "                                            <<< End of Report >>>";

std::string lineTitle(const std::string& date, int page) {
  return date +
         "                       Mailsort Line Report                         Page: " + std::to_string(page);
}

std::string mailFormatName(const Value& format) {
  if (!format.isText()) return "";
  const MailFormat* known = findMailFormat(format.textOrEmpty());
  return known ? std::string(known->name) : "";
}

double bodyFontSize(bool longPages) { return longPages ? 8 : 9; }

void printFirstHeader(PageSink& sink, const HeaderFields& header) {
  printTitleLines(sink, header);
  sink.printLine("Job Reference: " + header.jobRef);
  sink.printLine("Mail Format: " + header.formatName);
  sink.printLine(" ");
  printColumnHeading(sink, header);
}

void printContinuationHeader(PageSink& sink, const HeaderFields& header) {
  printTitleLines(sink, header);
  printColumnHeading(sink, header);
}

// The four figures in their columns, as a selection line and the not-matched
// line both end.
std::string LineFields::figures() const {
  return items.str() + "    " + cumItems.str() + "  " + bags.str() + "    " + cumBags.str();
}

std::string LineFields::selectionLine() const {
  return code.str() + "      " + description.str() + "      " + figures() + seqcode.str();
}

std::string LineFields::notMatchedLine(bool regional) const {
  return kNotMatchedText + figures() + (regional ? "   99" : "");
}

}  // namespace ms
