// The files of one run, put in place together only when the run has
// finished. Each file is written under a temporary name beside its own
// (OutputFile) and staged here when it is complete; a run that does not
// finish discards them, so the files of the last finished run stay as they
// were and no partial file stands under any name.
//
// Publishing writes a journal, ".mailsort-publish" in the folder, naming
// each temporary file and its name, syncs it, renames the files over their
// names and removes the journal. A program killed among the renames leaves
// the journal and the temporary files it names; the next run in the folder
// finishes those renames before it begins (recover()), so the folder holds
// one run's files, never a mixture. Temporary files that a killed run left
// without a journal are removed.
#pragma once

#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace ms {

class OutputFile;

class Publication {
 public:
  // Takes the folder's lock for the life of the publication: one run at a
  // time writes its files in a folder. Fails with Fault::InUse when another
  // run holds it, with Fault::NotFound or Fault::ReadOnly when the folder is
  // not there or may not be read.
  explicit Publication(std::string folder = ".");
  // Discards what was not published.
  ~Publication();
  Publication(const Publication&) = delete;
  Publication& operator=(const Publication&) = delete;

  // Finishes the renames a journal names and removes the temporary files of
  // runs that were killed (names ".NAME.xxxxxxxx" of the run's own files).
  // Returns the number of files it put in place from a journal.
  int recover();

  // Takes over a file that waits to be put in place.
  void stage(OutputFile& file);
  // Work to do once the files are in place (sending the pages to a
  // printer), and its undoing when they are discarded instead.
  void onPublish(std::function<void()> publish, std::function<void()> discard);
  bool empty() const { return files_.empty() && actions_.empty(); }

  // Puts every staged file in place and then does the work of onPublish.
  // Fails, renaming nothing, when the journal cannot be written; a rename
  // or an action that fails after that is recorded as a fault and the
  // others go on.
  void publish();
  // Removes every staged file and undoes the work of onPublish.
  void discard() noexcept;

  // The files publish() put in place, whole paths in the order staged.
  const std::vector<std::string>& placed() const { return placed_; }

  // The names (without folder) of the files a run may write.
  static const std::vector<std::string>& outputNames();

 private:
  std::string folder_;
  int lock_ = -1;                                           // the folder, locked
  std::vector<std::pair<std::string, std::string>> files_;  // temporary path, path
  std::vector<std::pair<std::function<void()>, std::function<void()>>> actions_;
  std::vector<std::string> placed_;
};

// Makes `publication` the one that complete() stages files with, for as
// long as the scope lives.
class PublicationScope {
 public:
  explicit PublicationScope(Publication& publication);
  ~PublicationScope();
  PublicationScope(const PublicationScope&) = delete;
  PublicationScope& operator=(const PublicationScope&) = delete;

 private:
  Publication* previous_;
};

// A file written in full: staged with the active publication, or put in
// place at once where there is none (a tool, a test of one file).
void complete(OutputFile& file);
// The active publication, null outside a run.
Publication* activePublication();

}  // namespace ms
