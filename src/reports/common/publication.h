// The files of one run, put in place together with the run's work in the
// database. Each file is written under a temporary name beside its own
// (OutputFile) and staged here when it is complete; a run that does not
// finish discards them, so the files of the last finished run stay as they
// were and no partial file stands under any name.
//
// The database's commit and the renames are tied by a journal,
// ".mailsort-publish" in the folder, written and synced before the commit:
// it names the database, the token by which the database tells whether the
// run's transaction committed (store::Database::markRun), the Chain Mode
// hand-over, and each temporary file with its name. Then the commit, then
// the renames and the printing, then the journal is removed. A program
// killed anywhere in between leaves the journal; the next start in the
// folder reads it and asks the database: a run that committed has its
// renames finished (and nothing more is done), one that did not has its
// files removed. Temporary files that a killed run left without a journal
// are removed as well.
#pragma once

#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace ms {

class OutputFile;

// What a run's journal says.
struct Journal {
  std::string database;  // the database the run committed to
  std::string token;     // its mark of the run's transaction
  std::string handOver;  // the Chain Mode hand-over: kNoHandOver, kHandOver or kHandOverWithLabels
  std::vector<std::pair<std::string, std::string>> files;  // temporary name, name (in the folder)

  // Reads a journal's text. Fails with the reason, naming nothing else,
  // when a line is not as a run writes it: its three heading lines in
  // their order, each file as its temporary name and its name (one of the
  // run's own files, at most once, in the folder itself), every line ended
  // by a line feed alone.
  static Journal parse(const std::string& text);
  std::string text() const;
};

inline const std::string kNoHandOver = "none";
inline const std::string kHandOver = "chain";
inline const std::string kHandOverWithLabels = "chain and labels";

// What the start found of the last run in the folder.
enum class LastRun {
  Clean,     // nothing was left
  Undone,    // a run that had not committed: its files were removed
  Finished,  // a run that had committed: its files are now in place
};

class Publication {
 public:
  // The journal's name in the folder.
  static constexpr const char* kJournalName = ".mailsort-publish";

  // Takes the folder's lock for the life of the publication: one run at a
  // time writes its files in a folder. Fails with Fault::InUse when another
  // run holds it, with Fault::NotFound or Fault::ReadOnly when the folder is
  // not there or may not be read.
  explicit Publication(std::string folder = ".");
  // Discards what was not published.
  ~Publication();
  Publication(const Publication&) = delete;
  Publication& operator=(const Publication&) = delete;

  // Settles what the last run left in the folder. With a journal, its
  // database must be `database`, and `committed` tells from the database
  // whether its token committed (it fails when that cannot be told): the
  // renames are finished, or its temporary files removed; the journal goes
  // last. Then the temporary files of runs killed before their journal
  // (names ".NAME.xxxxxxxx" of the run's own files) are removed. Fails,
  // renaming and removing nothing, when the journal is not one a run
  // writes or names another database. `found`, when given, gets the
  // journal.
  LastRun recover(const std::string& database, const std::function<bool(const std::string&)>& committed,
                  Journal* found = nullptr);

  // Takes over a file that waits to be put in place.
  void stage(OutputFile& file);
  // Work to do once the files are in place (sending the pages to a
  // printer), and its undoing when they are discarded instead.
  void onPublish(std::function<void()> publish, std::function<void()> discard);

  // Before the database commits: writes the journal naming `database`,
  // `token`, `handOver` and every staged file, and syncs the files, the
  // journal and the folder. Fails, leaving no journal, when it cannot.
  void prepare(const std::string& database, const std::string& token, const std::string& handOver);
  // Once the database has committed: puts every staged file in place,
  // does the work of onPublish, then removes the journal. A rename or an
  // action that fails is recorded as a fault and the others go on.
  void publish();
  // Removes every staged file and the journal, if prepared, and undoes the
  // work of onPublish.
  void discard() noexcept;
  // Leaves the staged files and the journal for the next start to settle
  // (the commit's outcome is not known); nothing of onPublish is done.
  void leaveForRecovery() noexcept;

  // The files publish() or recover() put in place, whole paths in the
  // order staged.
  const std::vector<std::string>& placed() const { return placed_; }
  // The folder as messages name it: its whole path.
  const std::string& folderPath() const { return folderPath_; }

  // The names (without folder) of the files a run may write.
  static const std::vector<std::string>& outputNames();

 private:
  std::string inFolder(const std::string& name) const;
  void removeJournal();

  std::string folder_;
  std::string folderPath_;
  int lock_ = -1;                                           // the folder, locked
  std::vector<std::pair<std::string, std::string>> files_;  // temporary name, name
  std::vector<std::pair<std::function<void()>, std::function<void()>>> actions_;
  std::vector<std::string> placed_;
  bool prepared_ = false;  // the journal names the staged files
};

// A file written in full: staged with `publication`, or put in place at once
// where there is none (a tool, a test of one file).
void complete(OutputFile& file, Publication* publication);

}  // namespace ms
