// Plain-text record files for the Post Office: fields separated by commas,
// each record ended by CR LF, text written in Windows-1252.
#pragma once

#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "reports/common/output_file.h"
#include "values/fault.h"

namespace ms {

class Publication;

// Appends UTF-8 text to `out` in Windows-1252; a character the code page
// cannot hold becomes "?".
void appendWindows1252(const std::string& utf8, std::string& out);

// A text field: the text in double quotes, inner quotes written unchanged.
std::string quoted(const std::string& text);
void quoteInto(std::string& out, const std::string& text);  // the same, into `out`

// A record file is never written through its name: it is an OutputFile,
// completed when closed (staged with the run's publication). Its faults
// name the file.
class RecordFile {
 public:
  RecordFile() = default;
  // Closes a file still open, recording a fault it meets.
  ~RecordFile();
  RecordFile(const RecordFile&) = delete;
  RecordFile& operator=(const RecordFile&) = delete;

  // Starts the file anew for sequential, buffered output, to be staged with
  // `publication` when it is closed (see complete()). Fails as
  // OutputFile::create does when it cannot be created; the file under the
  // name is then left as it was, and every record written to it until it is
  // closed fails with the same fault kind, one count per record lost.
  void open(const std::string& path, Publication* publication);
  bool isOpen() const { return file_ != nullptr; }
  // Joins the fields (already quoted where they are texts) with commas,
  // ends the record with CR LF, converts it to Windows-1252 and writes it.
  // Fails with Fault::Io when the system refuses the data; from then on the
  // file takes no more records and each one fails the same way. A file
  // never opened, or closed, takes nothing and says nothing.
  void writeRecord(const std::vector<std::string>& fields);
  // Writes out what is held and completes the file (see complete()), even
  // when not all of it could be written: a run that met the fault discards it. Fails with Fault::Io when data
  // was lost that no record failure has told of yet, or when the file could
  // not be put in place (the old one is then left).
  void close();

 private:
  // The write failure, as every record after it fails.
  [[noreturn]] void failWrite();

  std::FILE* file_ = nullptr;
  std::unique_ptr<char[]> buffer_;
  OutputFile output_;
  Publication* publication_ = nullptr;  // where output_ is staged once written
  std::optional<Fault> notCreated_;     // why the file opened last could not be created
  int writeError_ = 0;                  // the first error the system gave while writing
  std::string bytes_;                   // the record being written
};

}  // namespace ms
