#include "app/command_line.h"

#include <QCommandLineOption>
#include <QCommandLineParser>

namespace ms {

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
