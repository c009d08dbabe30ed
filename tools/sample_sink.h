// Where the sample job goes: the suite's tables, empty, in an SQLite file or
// in a PostgreSQL schema, then filled row by row in the order the generator
// makes the rows. Each table keeps its rows in that order (rowid on SQLite,
// the "rowid" identity on PostgreSQL), so rows with equal keys come back as
// they were written, whatever the engine.
#pragma once

#include <memory>
#include <string>
#include <vector>

namespace ms::sample {

// The rows of one table, field after field in the order of its columns.
class TableRows {
 public:
  virtual ~TableRows() = default;
  virtual TableRows& text(const std::string& value) = 0;
  virtual TableRows& number(double value) = 0;
  // Ends the row: the next field starts another.
  virtual void row() = 0;
};

class JobSink {
 public:
  virtual ~JobSink() = default;
  // The rows of `table` with these columns (the others stay Null). The sink
  // keeps them; a table may be asked for more than once.
  virtual TableRows& rows(const std::string& table, const std::vector<std::string>& columns) = 0;
  // Hands the job over: everything written, in one go. Nothing of it is
  // there for others before.
  virtual void commit() = 0;
  // The database as the tool's messages name it (never with a password).
  virtual const std::string& name() const = 0;
};

// A new SQLite file at `path`, replacing one there and its journals.
std::unique_ptr<JobSink> sqliteSink(const std::string& path);

// The schema that the URI's search_path selects (made when it is missing),
// with the suite's tables there dropped and made anew. Fails with the
// server's message when the URI names no schema or the server refuses, and
// with JobInTheWay, changing nothing, when the schema holds kvwork or
// parmcode and `replace` is false.
std::unique_ptr<JobSink> postgresSink(const std::string& uri, bool replace);

}  // namespace ms::sample
