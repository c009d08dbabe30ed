// The printed page model: one print job, one text line per call, pages
// broken by the caller's own line count.
#pragma once

#include <string>

namespace ms {

class Publication;

class PageSink {
 public:
  virtual ~PageSink() = default;
  virtual void setFontName(const std::string& name) = 0;
  virtual void setFontSize(double points) = 0;
  // The heading emphasis (bold).
  virtual void setEmphasis(bool on) = 0;
  // Prints one text at the left margin and ends the line.
  virtual void printLine(const std::string& text) = 0;
  virtual void newPage() = 0;
  // The number of the current page, starting at 1.
  virtual int page() const = 0;
  // Ends the job and releases it to the printer. Nothing prints after it.
  virtual void endDoc() = 0;
  // The run's publication, where a sink that writes a file or prints stages
  // its pages until the run has finished; null (as before any run): they are
  // put in place, or sent, at once.
  virtual void stageWith(Publication*) {}
  // Where the pages of the ended job went, in a line for the operator; empty
  // where the sink has nothing to tell.
  virtual std::string whereThePagesWent() const { return {}; }
  // The printer queue the pages of the ended job were sent to, and how
  // many; empty and 0 where they were sent to none.
  virtual std::string printedOn() const { return {}; }
  virtual int pagesPrinted() const { return 0; }
};

}  // namespace ms
