#include "app/run_log.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QCryptographicHash>
#include <QFile>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <ctime>
#include <filesystem>

#include "job/command_line.h"
#include "job/run_summary.h"
#include "reports/common/output_file.h"
#include "run/run_state.h"
#include "store/database.h"
#include "store/pg_handle.h"
#include "values/text_rules.h"

namespace ms {

namespace {

// The length of the valid UTF-8 sequence at `i`, 0 when there is none.
std::size_t utf8Length(const std::string& s, std::size_t i) {
  auto at = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
  const unsigned char lead = at(i);
  std::size_t length = 0;
  unsigned char low = 0x80, high = 0xBF;  // the range of the second byte
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;   // no overlong form
    if (lead == 0xED) high = 0x9F;  // no surrogate
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;  // nothing above U+10FFFF
  }
  if (length == 0 || i + length > s.size()) return 0;
  if (at(i + 1) < low || at(i + 1) > high) return 0;
  for (std::size_t k = 2; k < length; ++k)
    if ((at(i + k) & 0xC0) != 0x80) return 0;
  return length;
}

// A figure as a JSON number: a whole count as its digits.
std::string number(double value) { return std::isfinite(value) ? plainText(value) : "null"; }

class JsonObject {
 public:
  JsonObject& text(const char* key, const std::string& value) { return raw(key, jsonString(value)); }
  // A text, or null when it is empty.
  JsonObject& textOrNull(const char* key, const std::string& value) {
    return raw(key, value.empty() ? "null" : jsonString(value));
  }
  JsonObject& figure(const char* key, double value) { return raw(key, number(value)); }
  JsonObject& raw(const char* key, const std::string& json) {
    json_ += (json_.empty() ? "{" : ",") + jsonString(key) + ":" + json;
    return *this;
  }
  std::string str() const { return json_.empty() ? "{}" : json_ + "}"; }

 private:
  std::string json_;
};

std::string now() {
  const std::time_t time = std::time(nullptr);
  std::tm local{};
  ::localtime_r(&time, &local);
  char text[40];
  if (std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S%z", &local) == 0) return {};
  std::string stamp = text;  // +0100 as +01:00
  if (stamp.size() >= 5) stamp.insert(stamp.size() - 2, ":");
  return stamp;
}

std::string userName() {
  if (const passwd* entry = ::getpwuid(::geteuid()); entry && entry->pw_name) return entry->pw_name;
  for (const char* name : {"USER", "LOGNAME"})
    if (const char* value = std::getenv(name); value && *value) return value;
  return std::to_string(::geteuid());
}

std::string hostName() {
  char name[256] = {};
  if (::gethostname(name, sizeof name - 1) != 0) return {};
  return name;
}

// The database as the run's journal names it, or, for a run that never
// opened it, as the command line gave it (a PostgreSQL one without its
// password).
std::string databaseName(const RunState& run, const std::string& database) {
  if (!run.database.empty()) return run.database;
  if (store::isPostgresUri(database)) return store::describeDatabase(database);
  return store::wholeDatabasePath(database);
}

// The head of every record: when, who, where, what, and how it ended.
JsonObject head(const RunState& run, const std::string& outcome, int status, const std::string& database) {
  JsonObject record;
  record.text("time", now())
      .text("user", userName())
      .text("host", hostName())
      .text("folder", currentFolder())
      .text("database", databaseName(run, database))
      .textOrNull("jobRef", run.jobref)
      .text("outcome", outcome)
      .figure("status", status);
  return record;
}

std::string outcomeOf(const RunState& run, RunStop stop) {
  if (run.recovered) return "recovered";
  if (run.published) return "finished";
  if (run.undecided) return "undecided";
  if (stop == RunStop::Refused) return "refused";
  if (!run.faults.empty()) return "failed";
  return "cancelled";
}

// In the summary's order, the PDF last.
std::string filesOf(const RunState& run) {
  std::string files = "[";
  for (const auto& [name, path] : placedInOrder(run)) {
    struct stat info {};
    const bool there = ::stat(path.c_str(), &info) == 0;
    JsonObject file;
    file.text("name", name)
        .raw("bytes", there ? std::to_string(info.st_size) : "null")
        .textOrNull("sha256", fileSha256(path));
    files += (files.size() > 1 ? "," : "") + file.str();
  }
  return files + "]";
}

std::string faultsOf(const RunState& run) {
  std::string faults = "[";
  for (const FaultLog::Entry& entry : run.faults.entries()) {
    JsonObject fault;
    fault.text("where", entry.where)
        .text("what", entry.what)
        .figure("count", static_cast<double>(entry.count));
    faults += (faults.size() > 1 ? "," : "") + fault.str();
  }
  return faults + "]";
}

std::string selections(double count, double items) {
  return JsonObject().figure("selections", count).figure("items", items).str();
}

}  // namespace

int runStatus(RunStop stop, const RunEnd& end) {
  if (end.incomplete || !end.labelProblem.empty()) return kFailed;
  switch (stop) {
    case RunStop::Refused:
      return kRefusedJob;
    case RunStop::Cancelled:
      return kCancelled;
    case RunStop::Finished:
    case RunStop::Recovered:
      break;
  }
  return kFinished;
}

std::string runLogLine(const RunState& run, RunStop stop, int status, const std::string& database) {
  JsonObject record = head(run, outcomeOf(run, stop), status, database);
  // The figures of a run that finished here; no other run has any to tell.
  if (run.published && !run.recovered) {
    record.figure("addresses", run.processed)
        .figure("matched", run.processed - run.notmatched)
        .figure("notMatched", run.notmatched)
        .raw("direct", selections(run.dirsels, run.diritems))
        .raw("residue", selections(run.ressels, run.resitems))
        .raw("bags", JsonObject()
                         .figure("total", run.dirbags + run.resbags)
                         .figure("direct", run.dirbags)
                         .figure("residue", run.resbags)
                         .str())
        .textOrNull("mailsortCost", run.mailsortcost)
        .textOrNull("standardCost", run.standardcost)
        .textOrNull("saving", run.mailsortsaving);
  }
  record.textOrNull("printer", run.printedon)
      .figure("pages", run.pagesprinted)
      .textOrNull("printing", run.pageswent)
      .raw("files", filesOf(run))
      .raw("faults", faultsOf(run));
  return record.str() + "\n";
}

std::string failedRunLogLine(const RunState& run, const std::string& error, int status,
                             const std::string& database) {
  return head(run, "error", status, database).text("error", error).str() + "\n";
}

std::string appendRunLog(const std::string& line) {
  const std::string path = (std::filesystem::path(currentFolder()) / kRunLogName).string();
  auto failed = [&](int error) {
    return "The record of this run could not be added to " + path + " (" + systemMessage(error) +
           "); the run is as said above.";
  };
  // Never truncated, never replaced: the line goes at its end. A fifo or a
  // device under the name is refused, not waited for.
  constexpr int kAppend = O_WRONLY | O_APPEND | O_CLOEXEC | O_NONBLOCK | O_NOCTTY;
  bool created = false;
  int fd = ::open(kRunLogName, kAppend);
  if (fd < 0 && errno == ENOENT) {
    fd = ::open(kRunLogName, kAppend | O_CREAT | O_EXCL, 0666);
    created = fd >= 0;
    if (fd < 0 && errno == EEXIST) fd = ::open(kRunLogName, kAppend);
  }
  if (fd < 0) return failed(errno);
  struct stat info {};
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    const int error = S_ISREG(info.st_mode) ? errno : EINVAL;
    ::close(fd);
    return error == EINVAL ? "The record of this run could not be added to " + path +
                                 " (it is not a plain file); the run is as said above."
                           : failed(error);
  }
  // One write of the whole line, so that the lines of two programs never mix.
  ssize_t written;
  do {
    written = ::write(fd, line.data(), line.size());
  } while (written < 0 && errno == EINTR);
  int error = written < 0 ? errno : written != static_cast<ssize_t>(line.size()) ? EIO : 0;
  if (!error && ::fsync(fd) != 0) error = errno;
  if (::close(fd) != 0 && !error) error = errno;
  if (error) return failed(error);
  if (created) {  // the log's name too is on the disk
    const int folder = ::open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder >= 0) {
      ::fsync(folder);
      ::close(folder);
    }
  }
  return {};
}

std::string jsonString(const std::string& text) {
  static const char kHex[] = "0123456789abcdef";
  std::string json = "\"";
  for (std::size_t i = 0; i < text.size();) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c >= 0x80) {
      const std::size_t length = utf8Length(text, i);
      if (length == 0) {
        json += "\xEF\xBF\xBD";  // U+FFFD
        ++i;
      } else {
        json.append(text, i, length);
        i += length;
      }
      continue;
    }
    ++i;
    switch (c) {
      case '"':
        json += "\\\"";
        break;
      case '\\':
        json += "\\\\";
        break;
      case '\n':
        json += "\\n";
        break;
      case '\r':
        json += "\\r";
        break;
      case '\t':
        json += "\\t";
        break;
      case '\b':
        json += "\\b";
        break;
      case '\f':
        json += "\\f";
        break;
      default:
        if (c < 0x20 || c == 0x7F) {
          json += "\\u00";
          json += kHex[c >> 4];
          json += kHex[c & 0xF];
        } else {
          json += static_cast<char>(c);
        }
    }
  }
  return json + "\"";
}

std::string fileSha256(const std::string& path) {
  QFile file(QFile::decodeName(QByteArray::fromStdString(path)));
  if (!file.open(QIODevice::ReadOnly)) return {};
  QCryptographicHash hash(QCryptographicHash::Sha256);
  if (!hash.addData(&file)) return {};
  return hash.result().toHex().toStdString();
}

}  // namespace ms
