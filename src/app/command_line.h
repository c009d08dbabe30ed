// The program's command line: -h/--help, -v/--version, -C/--directory DIR,
// --database, --batch, --reprint, --printer NAME and --no-print, and with a window Qt's
// standard options (-platform, -style, -reverse...). Without arguments the
// program starts as it always has.
#pragma once

#include <QStringList>
#include <string>

#include "job/command_line.h"
#include "store/database.h"

namespace ms {

struct CommandLine {
  bool help = false;
  bool version = false;
  bool batch = false;
  bool reprint = false;                             // --reprint: MAILSORT.PDF to the printer again
  std::string directory;                            // empty: the current directory
  std::string database = store::kMailsortDatabase;  // the Mailsort Database: a file or a PostgreSQL URI
  std::string printer;                              // --printer NAME: the CUPS queue; empty: the default
  bool noPrint = false;                             // --no-print: the pages only in MAILSORT.PDF
  std::string error;                                // a usage error: its text, for standard error
  QStringList qtOptions;                            // Qt's standard options given, as written
  std::string platform;                             // -platform NAME, empty when not given
  std::string display;                              // -display NAME (X11), empty when not given
};

// Whether Qt's standard options are still on the command line (the first
// reading, before QApplication exists) or QApplication has taken them (the
// reading of QCoreApplication::arguments(): what is left of them is unknown).
enum class QtOptions { Present, Taken };

// Reads `arguments` (the program's name first).
CommandLine parseCommandLine(const QStringList& arguments, QtOptions qt = QtOptions::Present);

// Why a window cannot be opened: the platform that Qt would load needs a
// display (X11 or Wayland) and none is named. Empty when the platform needs
// none (offscreen, minimal, vnc...) or a display is named.
std::string missingDisplay(const CommandLine& line);

}  // namespace ms
