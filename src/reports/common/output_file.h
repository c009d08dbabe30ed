// A file the run writes beside the database (a Post Office file, the PDF).
// It is never written through the name in the folder: the data goes to a
// new temporary file beside it, created for this run alone, which is then
// renamed over the name. A symbolic link planted under the name is replaced
// and its target left untouched; a file already there is never opened.
#pragma once

#include <string>

namespace ms {

class OutputFile {
 public:
  OutputFile() = default;
  // Removes a temporary file that was not put in place.
  ~OutputFile();
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  // Creates the temporary file beside `path` and returns its descriptor,
  // open for writing and owned by the caller. Fails with a RunError whose
  // place is the file's name, creating nothing, when a folder has the name
  // (Fault::Io), when a read-only file has it (Fault::ReadOnly), or when
  // the temporary file cannot be created (Fault::NotFound for a folder that
  // is not there, Fault::ReadOnly for one that may not be written,
  // Fault::Io otherwise).
  int create(const std::string& path);
  // The file's name without its folder, as faults name it.
  const std::string& name() const { return name_; }
  const std::string& temporaryPath() const { return temporary_; }
  // The name the file is meant to have, with its folder.
  const std::string& path() const { return path_; }
  // Whether a temporary file waits to be put in place.
  bool pending() const { return !temporary_.empty(); }
  // Renames the temporary file over the name, replacing whatever had it.
  // When that fails the temporary file is removed and a RunError thrown.
  void putInPlace();
  // Removes the temporary file.
  void discard() noexcept;
  // Leaves the temporary file to whoever took it over (a Publication).
  void forget() noexcept { temporary_.clear(); }

  // Whether `name` (without folder) is a temporary name that create() makes
  // for a file named `file`.
  static bool isTemporaryName(const std::string& name, const std::string& file);

 private:
  std::string path_;
  std::string name_;
  std::string temporary_;
};

// The system's text for an error number ("No space left on device").
std::string systemMessage(int error);

}  // namespace ms
