#include "sample_options.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QStringList>
#include <charconv>

#include "mailsort_version.h"

namespace ms::sample {

const char* const kSampleUsage =
    "usage: mailsort-sample (--out DIR | --database DB) [--records N] [--seed S] [--chain] [--geog]\n"
    "                       [--missing-labels] [--force]\n"
    "  Writes DIR/mailsort.mdb: the suite's tables with a UK reference network, the tariffs,\n"
    "  Job Parameters for a Letter job and N coded addresses (default 20000). A job that is\n"
    "  already there is never replaced without --force.\n"
    "  --database DB     write the job into DB instead: an SQLite file (a relative path is\n"
    "                    found from the current folder) or a PostgreSQL URI\n"
    "                    (postgresql://[user[:password]@][host][:port][/dbname][?...]); there\n"
    "                    the job goes into the schema that the URI's search_path names,\n"
    "                    e.g. ?options=-csearch_path%3DJOB, made when it is missing\n"
    "  --chain           RunAlone \"Y\" (the run starts without the start dialog)\n"
    "  --geog            service \"M1\" with Geog \"Y\" (Regional Sequencing); every residue code\n"
    "                    then has a region\n"
    "  --missing-labels  leave a few selection codes out of the label table\n"
    "  --force           replace the job there: DIR/mailsort.mdb, the file DB, or the suite's\n"
    "                    tables in the schema (without it an existing file, or a schema\n"
    "                    holding kvwork or parmcode, is left as it is)\n"
    "  -h, --help        show this help and end\n"
    "  -v, --version     show the version and end\n"
    "  Exit status: 0 the job is written; 1 it could not be written; 2 a usage error; 3 a job\n"
    "  is already there and --force was not given (nothing is changed).\n";

std::string sampleVersion() { return std::string("mailsort-sample ") + MAILSORT_VERSION + "\n"; }

namespace {

template <class Number>
bool readNumber(const std::string& text, Number& out) {
  const char* end = text.data() + text.size();
  auto [ptr, ec] = std::from_chars(text.data(), end, out);
  return ec == std::errc() && ptr == end && !text.empty();
}

}  // namespace

bool parseSampleArgs(const std::vector<std::string>& args, SampleOptions& options, std::string& error) {
  QCommandLineParser parser;
  const QCommandLineOption out("out", "", "DIR"), database("database", "", "DB");
  const QCommandLineOption records("records", "", "N"), seed("seed", "", "S");
  const QCommandLineOption chain("chain", ""), geog("geog", ""), missingLabels("missing-labels", "");
  const QCommandLineOption force("force", "");
  const QCommandLineOption help({"h", "help"}, ""), version({"v", "version"}, "");
  parser.addOptions({out, database, records, seed, chain, geog, missingLabels, force, help, version});
  QStringList arguments{"mailsort-sample"};
  for (const std::string& arg : args) arguments << QString::fromStdString(arg);
  if (!parser.parse(arguments)) {
    error = parser.errorText().toStdString();
    return false;
  }
  if (!parser.positionalArguments().isEmpty()) {
    error = "unknown argument \"" + parser.positionalArguments().constFirst().toStdString() + "\"";
    return false;
  }
  options.help = parser.isSet(help);
  options.version = parser.isSet(version);
  if (options.help || options.version) return true;

  options.chain = parser.isSet(chain);
  options.geog = parser.isSet(geog);
  options.missingLabels = parser.isSet(missingLabels);
  options.force = parser.isSet(force);
  std::string text = parser.value(records).toStdString();
  if (parser.isSet(records) && (!readNumber(text, options.records) || options.records < 0)) {
    error = "--records wants a whole number of 0 or more, not \"" + text + "\"";
    return false;
  }
  text = parser.value(seed).toStdString();
  if (parser.isSet(seed) && !readNumber(text, options.seed)) {
    error = "--seed wants a whole number of 0 or more, not \"" + text + "\"";
    return false;
  }
  options.outDir = parser.value(out).toStdString();
  options.database = parser.value(database).toStdString();
  if (parser.isSet(out) && options.outDir.empty())
    error = "--out needs a folder";
  else if (parser.isSet(database) && options.database.empty())
    error = "--database needs a file or a PostgreSQL URI";
  else if (options.outDir.empty() && options.database.empty())
    error = "--out DIR or --database DB is required";
  return error.empty();
}

}  // namespace ms::sample
