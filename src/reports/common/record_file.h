// Plain-text record files for the Post Office: fields separated by commas,
// each record ended by CR LF, text written in Windows-1252.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace ms {

// UTF-8 to Windows-1252; a character the code page cannot hold becomes "?".
std::string toWindows1252(const std::string& utf8);

// A text field: the text in double quotes, inner quotes written unchanged.
std::string quoted(const std::string& text);

class RecordFile {
 public:
  RecordFile() = default;
  ~RecordFile();
  RecordFile(const RecordFile&) = delete;
  RecordFile& operator=(const RecordFile&) = delete;

  // Creates or empties the file for sequential, buffered output. A file that
  // cannot be created leaves the object closed; every later write is skipped.
  bool open(const std::string& path);
  bool isOpen() const { return file_ != nullptr; }
  // Joins the fields (already quoted where they are texts) with commas,
  // ends the record with CR LF, converts it to Windows-1252 and writes it.
  void writeRecord(const std::vector<std::string>& fields);
  void close();

 private:
  std::FILE* file_ = nullptr;
};

}  // namespace ms
