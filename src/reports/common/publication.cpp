#include "reports/common/publication.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

#include "reports/common/output_file.h"
#include "values/fault.h"
#include "values/fault_log.h"
#include "values/stop_point.h"

namespace ms {

namespace {

const char* const kHeadings[] = {"database", "token", "handover"};

// Writes a file's data (or a folder's entries) through to the disk. False
// when it could not.
bool syncPath(const std::string& path, int flags = O_RDONLY) {
  const int fd = ::open(path.c_str(), flags | O_CLOEXEC);
  if (fd < 0) return false;
  const bool synced = ::fsync(fd) == 0;
  ::close(fd);
  return synced;
}

bool syncFolder(const std::string& folder) { return syncPath(folder, O_RDONLY | O_DIRECTORY); }

// Whether `name` is the temporary name of one of the run's files.
bool isTemporaryName(const std::string& name) {
  for (const std::string& output : Publication::outputNames())
    if (OutputFile::isTemporaryName(name, output)) return true;
  return false;
}

std::string baseName(const std::string& path) {
  const auto slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string quoted(const std::string& text) { return "\"" + text + "\""; }

// What is wrong with line `number` of a journal, as its reader says it.
[[noreturn]] void badLine(std::size_t number, const std::string& what) {
  throw RunError(Fault::Damaged, "line " + std::to_string(number) + " " + what);
}

}  // namespace

Journal Journal::parse(const std::string& text) {
  if (text.empty()) throw RunError(Fault::Damaged, "it is empty");
  if (text.back() != '\n') throw RunError(Fault::Damaged, "its last line has no line end: it is incomplete");
  Journal journal;
  std::set<std::string> named;
  std::size_t number = 0;
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t end = text.find('\n', at);
    const std::string line = text.substr(at, end - at);
    at = end + 1;
    ++number;
    if (line.find('\r') != std::string::npos) badLine(number, "holds a carriage return");
    const auto tab = line.find('\t');
    const std::string first = line.substr(0, tab);
    const std::string second = tab == std::string::npos ? "" : line.substr(tab + 1);
    if (tab == std::string::npos || second.find('\t') != std::string::npos)
      badLine(number, "is not two fields parted by one tab");
    if (number <= std::size(kHeadings)) {
      if (first != kHeadings[number - 1] || second.empty())
        badLine(number, "should give the " + std::string(kHeadings[number - 1]));
      std::string& field = number == 1 ? journal.database : number == 2 ? journal.token : journal.handOver;
      field = second;
      if (number == 3 && field != kNoHandOver && field != kHandOver && field != kHandOverWithLabels)
        badLine(number, "names no hand-over a run makes: " + quoted(second));
      continue;
    }
    const auto& outputs = Publication::outputNames();
    if (std::find(outputs.begin(), outputs.end(), second) == outputs.end())
      badLine(number, "names " + quoted(second) + ", which is not a file a run writes");
    if (!OutputFile::isTemporaryName(first, second))
      badLine(number, "names " + quoted(first) + ", which is not a temporary name of " + second);
    if (!named.insert(second).second) badLine(number, "names " + second + " a second time");
    journal.files.emplace_back(first, second);
  }
  if (number < std::size(kHeadings)) throw RunError(Fault::Damaged, "it ends before its heading lines do");
  return journal;
}

std::string Journal::text() const {
  std::string text = std::string(kHeadings[0]) + '\t' + database + '\n' + kHeadings[1] + '\t' + token + '\n' +
                     kHeadings[2] + '\t' + handOver + '\n';
  for (const auto& [temporary, name] : files) text += temporary + '\t' + name + '\n';
  return text;
}

const std::vector<std::string>& Publication::outputNames() {
  static const std::vector<std::string> names = {"POFILE.DAT", "POLINE.CSV",    "POADDR.CSV",
                                                 "POPLAN.CSV", "UNMATCHED.CSV", "MAILSORT.PDF"};
  return names;
}

Publication::Publication(std::string folder) : folder_(std::move(folder)) {
  std::error_code error;
  folderPath_ = std::filesystem::absolute(folder_, error).lexically_normal().string();
  if (folderPath_.size() > 1 && folderPath_.back() == '/') folderPath_.pop_back();
  lock_ = ::open(folder_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (lock_ < 0) {
    const int code = errno;
    throw RunError(code == ENOENT || code == ENOTDIR ? Fault::NotFound : Fault::ReadOnly,
                   "the folder cannot be opened: " + systemMessage(code), folderPath_);
  }
  if (::flock(lock_, LOCK_EX | LOCK_NB) != 0) {
    ::close(lock_);
    lock_ = -1;
    throw RunError(Fault::InUse, "another run is writing its files in " + folderPath_, folderPath_);
  }
}

Publication::~Publication() {
  discard();
  if (lock_ >= 0) ::close(lock_);
}

std::string Publication::inFolder(const std::string& name) const {
  return folder_ == "." ? name : folder_ + "/" + name;
}

void Publication::removeJournal() {
  ::unlink(inFolder(kJournalName).c_str());
  syncFolder(folder_);
  prepared_ = false;
}

LastRun Publication::recover(const std::string& database,
                             const std::function<bool(const std::string&)>& committed, Journal* found) {
  const std::string path = inFolder(kJournalName);
  const std::string named = folderPath_ + "/" + kJournalName;
  auto untrusted = [&](const std::string& why) {
    return RunError(Fault::Damaged,
                    "The journal " + named + " cannot be trusted (" + why +
                        "), so nothing in the folder was renamed or removed. The run does not start: look at "
                        "the journal, and remove it when the files in the folder are as they should be.",
                    named);
  };
  ::unlink((path + ".new").c_str());  // never complete: it names nothing
  LastRun outcome = LastRun::Clean;
  struct stat status {};
  if (::lstat(path.c_str(), &status) == 0) {
    if (!S_ISREG(status.st_mode)) throw untrusted("it is not a plain file");
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    if (!in) throw untrusted("it cannot be read: " + systemMessage(errno ? errno : EIO));
    Journal journal;
    try {
      journal = Journal::parse(text.str());
    } catch (const RunError& e) {
      throw untrusted(e.what());
    }
    if (journal.database != database)
      throw RunError(Fault::InUse,
                     "The journal " + named + " belongs to a run on " + journal.database + ", not on " +
                         database + ": start the program on that database to settle it.",
                     named);
    if (committed(journal.token)) {
      for (const auto& [temporary, name] : journal.files) {
        if (::rename(inFolder(temporary).c_str(), inFolder(name).c_str()) == 0 || errno == ENOENT) {
          placed_.push_back(folderPath_ + "/" + name);
          continue;
        }
        const int code = errno;
        throw RunError(Fault::Io, "could not be put in place: " + systemMessage(code), name);
      }
      syncFolder(folder_);
      outcome = LastRun::Finished;
    } else {
      for (const auto& file : journal.files) ::unlink(inFolder(file.first).c_str());
      outcome = LastRun::Undone;
    }
    removeJournal();
    if (found) *found = journal;
  }
  if (DIR* dir = ::opendir(folder_.c_str())) {
    while (const dirent* entry = ::readdir(dir))
      if (isTemporaryName(entry->d_name)) ::unlink(inFolder(entry->d_name).c_str());
    ::closedir(dir);
  }
  return outcome;
}

void Publication::stage(OutputFile& file) {
  if (!file.pending()) return;
  files_.emplace_back(baseName(file.temporaryPath()), baseName(file.path()));
  file.forget();
}

void Publication::onPublish(std::function<void()> publish, std::function<void()> undo) {
  actions_.emplace_back(std::move(publish), std::move(undo));
}

void Publication::prepare(const std::string& database, const std::string& token,
                          const std::string& handOver) {
  Journal journal{database, token, handOver, files_};
  const std::string path = inFolder(kJournalName);
  const std::string next = path + ".new";
  auto fail = [&](int code) {
    ::unlink(next.c_str());
    throw RunError(Fault::Io, "the journal could not be written: " + systemMessage(code ? code : EIO),
                   folderPath_ + "/" + kJournalName);
  };
  // The data first, then the journal that names it.
  for (const auto& file : files_)
    if (!syncPath(inFolder(file.first))) fail(errno);
  {
    std::ofstream out(next, std::ios::binary | std::ios::trunc);
    out << journal.text();
    out.flush();
    if (!out) fail(errno);
  }
  if (!syncPath(next, O_WRONLY) || ::rename(next.c_str(), path.c_str()) != 0 || !syncFolder(folder_)) {
    const int code = errno;
    if (::access(path.c_str(), F_OK) == 0) ::unlink(path.c_str());
    fail(code);
  }
  prepared_ = true;
}

void Publication::publish() {
  int number = 0;
  for (const auto& [temporary, name] : files_) {
    stopPoint(("before-rename-" + std::to_string(++number)).c_str());
    if (::rename(inFolder(temporary).c_str(), inFolder(name).c_str()) != 0) {
      const int code = errno;
      ::unlink(inFolder(temporary).c_str());
      recordFault(RunError(Fault::Io, "could not be put in place: " + systemMessage(code), name));
    } else {
      placed_.push_back(folderPath_ + "/" + name);
    }
  }
  files_.clear();
  syncFolder(folder_);
  auto actions = std::move(actions_);
  actions_.clear();
  for (auto& action : actions)
    if (action.first) attempt(action.first);
  // Last: a run killed before this is one that had finished.
  if (prepared_) removeJournal();
}

void Publication::discard() noexcept {
  for (const auto& file : files_) ::unlink(inFolder(file.first).c_str());
  files_.clear();
  if (prepared_) removeJournal();
  auto actions = std::move(actions_);
  actions_.clear();
  for (auto& action : actions)
    if (action.second) attempt(action.second);
}

void Publication::leaveForRecovery() noexcept {
  files_.clear();
  prepared_ = false;
  discard();
}

void complete(OutputFile& file, Publication* publication) {
  if (publication)
    publication->stage(file);
  else
    file.putInPlace();
}

}  // namespace ms
