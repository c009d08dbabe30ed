#include "app/command_line.h"

#include <unistd.h>

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <cerrno>
#include <cstring>
#include <filesystem>

#include "mailsort_version.h"
#include "store/pg_handle.h"

namespace ms {

const char* const kHelpText =
    "Usage: mailsort [OPTIONS]\n"
    "Allocates the coded address file of mailsort.mdb to Mailsort selections, prints\n"
    "the Line Report and the Planning Report (also saved as MAILSORT.PDF) and writes\n"
    "POFILE.DAT, POLINE.CSV, POADDR.CSV and POPLAN.CSV beside the database.\n"
    "Without options it opens the Start Dialog in the current directory; when no\n"
    "job database is there it names the path it looked at and offers to choose\n"
    "the job's folder or its database file (the program then works there, as with\n"
    "-C); Exit ends the program.\n"
    "\n"
    "Options:\n"
    "  -h, --help             show this help and end\n"
    "  -v, --version          show the version and end\n"
    "  -C, --directory DIR    work in DIR: mailsort.mdb, the PO files and MAILSORT.PDF\n"
    "                         are all there\n"
    "      --database FILE|URI\n"
    "                         the Mailsort Database (default mailsort.mdb): an SQLite\n"
    "                         FILE (a relative one is found from the folder the\n"
    "                         program works in) or a PostgreSQL URI (postgresql://...\n"
    "                         or postgres://...); ?options=-csearch_path%3DJOB in the\n"
    "                         URI selects the job's schema\n"
    "      --batch            run the job at once without any window (no display\n"
    "                         needed); progress and every message go to standard\n"
    "                         error. When RunAlone is \"Y\" the run ends as in Chain\n"
    "                         Mode: RunAlone and RunReports become \"N\" and kvprint.exe\n"
    "                         is started when RunLabels is \"Y\". SIGINT, SIGTERM and\n"
    "                         SIGHUP cancel the run as a confirmed Cancel would.\n"
    "                         Qt's options are refused with --batch.\n"
    "      --printer NAME     print on the CUPS queue NAME (lpstat -e lists them)\n"
    "                         instead of the default one; a queue that does not\n"
    "                         exist is a usage error\n"
    "      --no-print         print on no printer: the pages are only in MAILSORT.PDF\n"
    "      --reprint          send MAILSORT.PDF, the pages of the last finished run,\n"
    "                         to the printer again (the default queue, or the one\n"
    "                         --printer names) and change nothing else: no display\n"
    "                         and no database needed. Status 0 when sent, 1 when a\n"
    "                         run is writing its files in the folder, 2 for a usage\n"
    "                         error, 5 when there is no MAILSORT.PDF or no queue,\n"
    "                         or the pages could not be sent\n"
    "Every run keeps its pages in MAILSORT.PDF and, unless told otherwise, prints\n"
    "them on the system's default queue when there is one. The Job Parameters'\n"
    "printer field still chooses the type size.\n"
    "\n"
    "With the window, Qt's standard options are accepted too (-platform NAME, -style\n"
    "NAME, -stylesheet FILE, -reverse, -display NAME, -qwindowgeometry GEOMETRY,\n"
    "-qwindowtitle TITLE, -session ID, -widgetcount...). Without a display (no\n"
    "DISPLAY or WAYLAND_DISPLAY, and no platform such as -platform offscreen that\n"
    "needs none) the program says so and ends with status 2: --batch runs the job\n"
    "without one.\n"
    "\n"
    "Exit status of a batch run:\n"
    "  0  the run finished\n"
    "  1  another program holds the database: the run was not started\n"
    "  2  a usage error (an unknown option, a DIR that is not a folder, a database\n"
    "     FILE that is a folder, a path too long for the system, a printer queue\n"
    "     that does not exist)\n"
    "  3  the run was cancelled\n"
    "  4  the job was refused before the allocation (no whole item per bag, a\n"
    "     posting postcode that cannot be ranked, a limit that is not a number\n"
    "     greater than 0, an mscode that holds values that are not texts)\n"
    "  5  any other error (the database missing, unreadable or damaged, no Job\n"
    "     Parameters, a fault met during the run)\n"
    "Without --batch the status is 0 when the program ends, 1 when the run gate\n"
    "refused or the run could not start, 2 for a usage error or no display, and 5\n"
    "when a run met a fault.\n";

std::string versionText() { return std::string("mailsort ") + MAILSORT_VERSION + "\n"; }

namespace {

// Qt's standard options, which QApplication takes from the command line
// before the program reads it: those of every Qt program, of the widgets
// and of the X11 platform, with whether each takes a value. The X11 ones
// (and -graphicssystem, which Qt no longer reads) are left on the command
// line on other platforms; the program then ignores them, as Qt does.
struct QtOption {
  const char* name;
  bool value;
  bool mayBeLeft;
};
constexpr QtOption kQtOptions[] = {
    {"platform", true, false},
    {"platformpluginpath", true, false},
    {"platformtheme", true, false},
    {"plugin", true, false},
    {"qwindowgeometry", true, false},
    {"qwindowicon", true, false},
    {"qwindowtitle", true, false},
    {"reverse", false, false},
    {"session", true, false},
    {"style", true, false},
    {"stylesheet", true, false},
    {"widgetcount", false, false},
    {"testability", false, false},
    {"qmljsdebugger", true, false},
    {"geometry", true, true},
    {"icon", true, true},
    {"title", true, true},
    {"display", true, true},
    {"name", true, true},
    {"visual", true, true},
    {"cmap", false, true},
    {"nograb", false, true},
    {"dograb", false, true},
    {"sync", false, true},
    {"graphicssystem", true, true},
};

}  // namespace

CommandLine parseCommandLine(const QStringList& arguments, QtOptions qt) {
  CommandLine line;
  QCommandLineParser parser;
  // -platform is one option, as in every Qt program, not eight letters.
  parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
  const QCommandLineOption help({"h", "help"}, "");
  const QCommandLineOption version({"v", "version"}, "");
  const QCommandLineOption directory({"C", "directory"}, "", "DIR");
  const QCommandLineOption database("database", "", "FILE|URI");
  const QCommandLineOption batch("batch", "");
  const QCommandLineOption printer("printer", "", "NAME");
  const QCommandLineOption noPrint("no-print", "");
  const QCommandLineOption reprint("reprint", "");
  parser.addOptions({help, version, directory, database, batch, printer, noPrint, reprint});
  for (const QtOption& option : kQtOptions)
    if (qt == QtOptions::Present || option.mayBeLeft)
      parser.addOption(QCommandLineOption(option.name, "", option.value ? "VALUE" : QString()));
  if (!parser.parse(arguments)) {
    line.error = parser.errorText().toStdString();
    return line;
  }
  if (!parser.positionalArguments().isEmpty()) {
    line.error = "unexpected argument '" + parser.positionalArguments().constFirst().toStdString() + "'";
    return line;
  }
  line.help = parser.isSet(help);
  line.version = parser.isSet(version);
  line.batch = parser.isSet(batch);
  if (parser.isSet(database)) {
    line.database = parser.value(database).toStdString();
    if (line.database.empty()) line.error = "--database needs a file or a URI";
  }
  if (parser.isSet(directory)) {
    line.directory = parser.value(directory).toStdString();
    if (line.directory.empty()) line.error = "-C, --directory needs a folder";
  }
  line.noPrint = parser.isSet(noPrint);
  if (parser.isSet(printer)) {
    line.printer = parser.value(printer).toStdString();
    if (line.printer.empty()) line.error = "--printer needs the name of a queue";
    if (line.noPrint) line.error = "--printer and --no-print: give one or the other";
  }
  line.reprint = parser.isSet(reprint);
  if (line.reprint && line.noPrint) line.error = "--reprint and --no-print: --reprint prints, on a printer";
  if (line.reprint && line.batch) line.error = "--reprint and --batch: give one or the other";
  if (qt == QtOptions::Present) {
    for (const QtOption& option : kQtOptions)
      if (parser.isSet(option.name)) line.qtOptions << QString("-") + option.name;
    line.platform = parser.value("platform").toStdString();
    line.display = parser.value("display").toStdString();
  }
  return line;
}

bool enterDirectory(const std::string& directory, std::string& error) {
  const std::string place = std::filesystem::absolute(directory).string();
  std::error_code code;
  const auto status = std::filesystem::status(directory, code);
  if (code == std::errc::filename_too_long)
    error = place + ": the name is too long for the system";
  else if (!std::filesystem::exists(status))
    error = place + ": no such folder";
  else if (!std::filesystem::is_directory(status))
    error = place + ": not a folder";
  else if (::chdir(directory.c_str()) != 0)
    error = place + ": " + std::strerror(errno);
  else
    return true;
  return false;
}

std::string databasePlace(const std::string& database, std::string& error) {
  if (store::isPostgresUri(database)) return database;
  const std::string place = std::filesystem::absolute(database).string();
  std::error_code code;
  const auto status = std::filesystem::status(database, code);
  if (code == std::errc::filename_too_long)
    error = place + ": the name is too long for the system";
  else if (std::filesystem::is_directory(status))
    error = place + " is a folder, not a database file (-C DIR works in a folder)";
  else if (const std::string whole = store::overlongDatabasePath(place); !whole.empty())
    error = place +
            ": the name is too long for the system (the whole path of a database file may be at most " +
            std::to_string(store::kLongestDatabasePath) + " bytes; this one is " +
            std::to_string(whole.size()) + ")";
  else
    return place;
  return {};
}

std::string missingDisplay(const CommandLine& line) {
  auto set = [](const char* name) { return !qEnvironmentVariableIsEmpty(name); };
  const bool x11 = set("DISPLAY") || !line.display.empty(), wayland = set("WAYLAND_DISPLAY");
  // -platform before QT_QPA_PLATFORM, as Qt chooses: a list of names, each
  // with its own options after a colon; Qt tries them in turn.
  QString platforms = QString::fromStdString(line.platform);
  if (platforms.isEmpty()) platforms = qEnvironmentVariable("QT_QPA_PLATFORM");
  bool needsDisplay = false;
  for (const QString& entry : platforms.split(';', Qt::SkipEmptyParts)) {
    const QString name = entry.section(':', 0, 0).trimmed();
    if (name.startsWith("xcb")) {
      if (x11) return {};
    } else if (name.startsWith("wayland")) {
      if (wayland) return {};
    } else {
      return {};  // offscreen, minimal, vnc, eglfs, linuxfb...: no display needed
    }
    needsDisplay = true;
  }
  if (!needsDisplay && (x11 || wayland)) return {};  // Qt's own choice of X11 or Wayland
  const std::string why = needsDisplay ? "the platform " + platforms.toStdString() + " needs one"
                                       : std::string("DISPLAY and WAYLAND_DISPLAY are not set");
  return "no display to open the window on (" + why + "); --batch runs the job without one";
}

}  // namespace ms
