#include "job/command_line.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "mailsort_version.h"
#include "store/database.h"
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

}  // namespace ms
