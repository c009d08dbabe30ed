// The program's command line: -h/--help, -v/--version, -C/--directory DIR
// and --batch. Without arguments the program starts as it always has.
#pragma once

#include <QStringList>
#include <string>

#include "store/database.h"

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

struct CommandLine {
  bool help = false;
  bool version = false;
  bool batch = false;
  std::string directory;                            // empty: the current directory
  std::string database = store::kMailsortDatabase;  // the Mailsort Database: a file or a PostgreSQL URI
  std::string error;                                // a usage error: its text, for standard error
};

// Reads `arguments` (the program's name first).
CommandLine parseCommandLine(const QStringList& arguments);

// What --help prints, and what --version prints.
extern const char* const kHelpText;
std::string versionText();

// Makes `directory` the current directory. False, with a message naming it
// in `error`, when it does not exist, is not a folder or cannot be entered.
bool enterDirectory(const std::string& directory, std::string& error);

}  // namespace ms
