#include "app/command_line.h"

#include <unistd.h>

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <cerrno>
#include <cstring>
#include <filesystem>

#include "mailsort_version.h"

namespace ms {

const char* const kHelpText =
    "Usage: mailsort [OPTIONS]\n"
    "Allocates the coded address file of mailsort.mdb to Mailsort selections, prints\n"
    "the Line Report and the Planning Report (also saved as MAILSORT.PDF) and writes\n"
    "POFILE.DAT, POLINE.CSV, POADDR.CSV and POPLAN.CSV beside the database.\n"
    "Without options it opens the Start Dialog in the current directory.\n"
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
    "\n"
    "Exit status of a batch run:\n"
    "  0  the run finished\n"
    "  1  another program holds the database: the run was not started\n"
    "  2  a usage error (an unknown option, a DIR that is not a folder)\n"
    "  3  the run was cancelled\n"
    "  4  the job was refused before the allocation (no whole item per bag, a\n"
    "     posting postcode that cannot be ranked, a limit of 0 or below)\n"
    "  5  any other error (the database missing, unreadable or damaged, no Job\n"
    "     Parameters, a fault met during the run)\n"
    "Without --batch the status is 0 when the program ends, 1 when the run gate\n"
    "refused or the run could not start, and 5 when a run met a fault.\n";

std::string versionText() { return std::string("mailsort ") + MAILSORT_VERSION + "\n"; }

CommandLine parseCommandLine(const QStringList& arguments) {
  CommandLine line;
  QCommandLineParser parser;
  const QCommandLineOption help({"h", "help"}, "");
  const QCommandLineOption version({"v", "version"}, "");
  const QCommandLineOption directory({"C", "directory"}, "", "DIR");
  const QCommandLineOption database("database", "", "FILE|URI");
  const QCommandLineOption batch("batch", "");
  parser.addOptions({help, version, directory, database, batch});
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
  return line;
}

bool enterDirectory(const std::string& directory, std::string& error) {
  std::error_code code;
  const auto status = std::filesystem::status(directory, code);
  if (!std::filesystem::exists(status))
    error = directory + ": no such folder";
  else if (!std::filesystem::is_directory(status))
    error = directory + ": not a folder";
  else if (::chdir(directory.c_str()) != 0)
    error = directory + ": " + std::strerror(errno);
  else
    return true;
  return false;
}

}  // namespace ms
