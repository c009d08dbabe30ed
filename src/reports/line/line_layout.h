// The printed lines of the Mailsort Line Report: page headers, the selection
// line with its fixed-width columns, the not-matched line and the end line.
#pragma once

#include <string>

#include "values/text_rules.h"
#include "values/value.h"

namespace ms {

class PageSink;

// Title line of every page: the date, the report name and the page number.
std::string lineTitle(const std::string& date, int page);
// The name of a mail format code ("LE", "LL", "A3", "PK"); any other value
// gives the empty text.
std::string mailFormatName(const Value& format);

// The column heading above the selection lines (107 characters).
extern const char* const kColumnHeading;
// The fixed start of the not-matched line (67 characters).
extern const char* const kNotMatchedText;
// The line that closes the report.
extern const char* const kEndLine;

// Body text size: 8 points for the "L" printer, 9 for any other.
double bodyFontSize(bool longPages);

// What a page header needs to know about the job.
struct HeaderFields {
  std::string date;
  std::string companyName;
  std::string jobRef;
  std::string formatName;
  bool longPages = false;  // `printer` is "L"
};

// The header of the first page and the header after a page break (without
// the job reference and mail format lines). Both leave the body font set.
void printFirstHeader(PageSink& sink, const HeaderFields& header);
void printContinuationHeader(PageSink& sink, const HeaderFields& header);

// The columns of one printed line. The fields keep what they were last
// filled with, so a fill that fails leaves the previous selection's text.
struct LineFields {
  FixedField code{5};
  FixedField description{50};
  FixedField items{6};
  FixedField cumItems{6};
  FixedField bags{6};
  FixedField cumBags{6};
  FixedField seqcode{5};

  // The 106-character selection line.
  std::string selectionLine() const;
  // The not-matched line, with "   99" after it under Regional Sequencing.
  std::string notMatchedLine(bool regional) const;

 private:
  std::string figures() const;
};

}  // namespace ms
