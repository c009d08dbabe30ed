// The planning report's side of the printed page: each printer operation is
// one statement of the report, so a failing one is skipped and the report
// goes on with its next line.
#pragma once

#include <string>

namespace ms {

struct RunState;

class ReportLines {
 public:
  explicit ReportLines(RunState& run) : run_(run) {}

  void setFont(const std::string& name, double points);
  // Prints one line.
  void line(const std::string& text);
  // Prints one line with the heading emphasis on around it.
  void heading(const std::string& text);
  // Ends the print job.
  void endDoc();

 private:
  RunState& run_;
};

}  // namespace ms
