#include "reports/common/publication.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>

#include "reports/common/output_file.h"
#include "values/fault.h"
#include "values/fault_log.h"

namespace ms {

namespace {

Publication* active = nullptr;

constexpr const char* kJournal = ".mailsort-publish";

std::string inFolder(const std::string& folder, const std::string& name) {
  return folder == "." ? name : folder + "/" + name;
}

// Writes a file's data through to the disk.
void syncPath(const std::string& path, int flags = O_RDONLY) {
  const int fd = ::open(path.c_str(), flags | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

// Whether `name` is the temporary name of one of the run's files.
bool isTemporaryName(const std::string& name) {
  for (const std::string& output : Publication::outputNames())
    if (OutputFile::isTemporaryName(name, output)) return true;
  return false;
}

}  // namespace

const std::vector<std::string>& Publication::outputNames() {
  static const std::vector<std::string> names = {"POFILE.DAT", "POLINE.CSV", "POADDR.CSV", "POPLAN.CSV",
                                                 "MAILSORT.PDF"};
  return names;
}

Publication::Publication(std::string folder) : folder_(std::move(folder)) {
  lock_ = ::open(folder_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (lock_ < 0) {
    const int error = errno;
    throw RunError(error == ENOENT || error == ENOTDIR ? Fault::NotFound : Fault::ReadOnly,
                   "the folder cannot be opened: " + systemMessage(error), folder_);
  }
  if (::flock(lock_, LOCK_EX | LOCK_NB) != 0) {
    ::close(lock_);
    lock_ = -1;
    // Named by its whole path, as every folder in a message is.
    std::string whole(4096, '\0');
    if (folder_.starts_with('/') || !::getcwd(whole.data(), whole.size()))
      whole = folder_;
    else
      whole = whole.substr(0, whole.find('\0')) + (folder_ == "." ? "" : "/" + folder_);
    throw RunError(Fault::InUse, "another run is writing its files in " + whole, whole);
  }
}

Publication::~Publication() {
  discard();
  if (lock_ >= 0) ::close(lock_);
}

int Publication::recover() {
  int finished = 0;
  const std::string journal = inFolder(folder_, kJournal);
  std::ifstream pending(journal);
  for (std::string line; std::getline(pending, line);) {
    const auto tab = line.find('\t');
    if (tab == std::string::npos) continue;
    if (::rename(line.substr(0, tab).c_str(), line.substr(tab + 1).c_str()) == 0) ++finished;
  }
  if (pending.is_open()) {
    syncPath(folder_, O_RDONLY | O_DIRECTORY);
    ::unlink(journal.c_str());
  }
  ::unlink((journal + ".new").c_str());  // one that was never complete names nothing in place

  if (DIR* dir = ::opendir(folder_.c_str())) {
    while (const dirent* entry = ::readdir(dir))
      if (isTemporaryName(entry->d_name)) ::unlink(inFolder(folder_, entry->d_name).c_str());
    ::closedir(dir);
  }
  return finished;
}

void Publication::stage(OutputFile& file) {
  if (!file.pending()) return;
  files_.emplace_back(file.temporaryPath(), file.path());
  file.forget();
}

void Publication::onPublish(std::function<void()> publish, std::function<void()> undo) {
  actions_.emplace_back(std::move(publish), std::move(undo));
}

void Publication::publish() {
  if (!files_.empty()) {
    // The data first, then the journal that names it, then the names.
    for (const auto& file : files_) syncPath(file.first);
    const std::string journal = inFolder(folder_, kJournal);
    {
      std::ofstream out(journal + ".new", std::ios::trunc);
      for (const auto& [temporary, path] : files_) out << temporary << '\t' << path << '\n';
      out.flush();
      if (!out) {
        const int error = errno;
        ::unlink((journal + ".new").c_str());
        throw RunError(Fault::Io,
                       "the files could not be put in place: " + systemMessage(error ? error : EIO),
                       kJournal);
      }
    }
    syncPath(journal + ".new", O_WRONLY);
    if (::rename((journal + ".new").c_str(), journal.c_str()) != 0) {
      const int error = errno;
      ::unlink((journal + ".new").c_str());
      throw RunError(Fault::Io, "the files could not be put in place: " + systemMessage(error), kJournal);
    }
    syncPath(folder_, O_RDONLY | O_DIRECTORY);
    for (const auto& [temporary, path] : files_)
      if (::rename(temporary.c_str(), path.c_str()) != 0) {
        const int error = errno;
        ::unlink(temporary.c_str());
        recordFault(RunError(Fault::Io, "could not be put in place: " + systemMessage(error), path));
      } else {
        placed_.push_back(path);
      }
    files_.clear();
    syncPath(folder_, O_RDONLY | O_DIRECTORY);
    ::unlink(journal.c_str());
  }
  auto actions = std::move(actions_);
  actions_.clear();
  for (auto& action : actions)
    if (action.first) attempt(action.first);
}

void Publication::discard() noexcept {
  for (const auto& file : files_) ::unlink(file.first.c_str());
  files_.clear();
  auto actions = std::move(actions_);
  actions_.clear();
  for (auto& action : actions)
    if (action.second) attempt(action.second);
}

PublicationScope::PublicationScope(Publication& publication) : previous_(active) { active = &publication; }

PublicationScope::~PublicationScope() { active = previous_; }

Publication* activePublication() { return active; }

void complete(OutputFile& file) {
  if (active)
    active->stage(file);
  else
    file.putInPlace();
}

}  // namespace ms
