// What the program's command line says without Qt: its exit statuses, its
// help and version texts, and the folder and database it names. The
// options themselves are read in app/command_line.h.
#pragma once

#include <string>

namespace ms {

// Exit statuses of a batch run, as --help and the manual page give them.
enum BatchStatus {
  kFinished = 0,
  kGateRefused = 1,
  kUsageError = 2,
  kCancelled = 3,
  kRefusedJob = 4,
  kFailed = 5,
};

// What --help prints, and what --version prints.
extern const char* const kHelpText;
std::string versionText();

// Makes `directory` the current directory. False, with a message naming it
// in `error`, when it does not exist, is not a folder or cannot be entered.
bool enterDirectory(const std::string& directory, std::string& error);

// The whole path of a database file from the current directory (a
// PostgreSQL URI as it is). Empty, with a usage error in `error`, when the
// path names a folder or is too long for the system; a missing file is not
// an error here.
std::string databasePlace(const std::string& database, std::string& error);

}  // namespace ms
