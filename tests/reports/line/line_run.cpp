#include "line_run.h"

#include <cmath>
#include <filesystem>

#include "reports/line/line_report.h"
#include "store/database.h"
#include "store/table_def.h"

namespace ms::testing {

LineRun::LineRun() {
  state.rundate = "06/12/2026";
  db_.exec("BEGIN");  // committed when the run starts
}

LineRun::~LineRun() {
  state.parmrs.reset();
  state.workrs.reset();
  state.mdb.reset();
}

void LineRun::addRecords(const WorkRecord& r, int count) {
  for (int i = 0; i < count; ++i)
    db_.insert("kvwork", {{"mscode", r.mscode},
                          {"rscode", r.rscode},
                          {"seq", r.seq},
                          {"rgcode", r.rgcode},
                          {"sflag", r.sflag},
                          {"pcflag", r.pcflag},
                          {"Name", r.name},
                          {"Address1", "1 High Street"},
                          {"Address2", "Village"},
                          {"Address3", r.address3},
                          {"Address4", Value()},
                          {"town", "TOWN"},
                          {"county", "County"},
                          {"postcode", "AB1 2CD"}});
}

void LineRun::run(int bagitems, double bundlesperbag) {
  db_.insertParameters(overrides_);
  db_.exec("COMMIT");
  // The PO files go to the current directory: the fixture's folder.
  struct InFolder {
    std::filesystem::path before = std::filesystem::current_path();
    explicit InFolder(const std::string& dir) { std::filesystem::current_path(dir); }
    ~InFolder() { std::filesystem::current_path(before); }
  } inFolder(dir_.path());
  state.mdb = store::Database::open("mailsort.mdb", store::OpenMode::Shared);
  state.mdb->appendTableDef(
      {"bags",
       {"Bag Number", "Label Start", "Label Number", "Bundle Number", "Seq"},
       {{"PrimaryKey", {"Bag Number"}, true, true}, {"Key2", {"Label Number"}, false, false}}});
  state.workrs = state.mdb->openTable("kvwork");
  state.workrs->setIndex("Key1");
  state.parmrs = state.mdb->openTable("parmcode");
  state.bagitems = bagitems;
  state.bundlesperbag = bundlesperbag;
  state.totrecs = static_cast<double>(state.workrs->recordCount());
  state.cancelflag = "N";
  state.printer = &sink;
  state.progress = &progress;
  linerep(state);
  state.mdb->close();
}

int LineRun::reportPages() const {
  for (int p = 1; p <= sink.pageCount(); ++p)
    for (const auto& line : sink.linesOf(p))
      if (line.text == kEnd) return p;
  return sink.pageCount();
}

std::vector<std::string> LineRun::bodyLines() const {
  std::vector<std::string> out;
  for (int p = 1; p <= reportPages(); ++p) {
    const auto& lines = sink.linesOf(p);
    for (std::size_t i = p == 1 ? 8 : 5; i < lines.size(); ++i) {
      if (lines[i].text != " ") out.push_back(lines[i].text);
      if (lines[i].text == kEnd) return out;
    }
  }
  return out;
}

std::vector<std::string> LineRun::bags() {
  std::vector<std::string> out;
  for (const auto& row : db_.query("SELECT * FROM bags ORDER BY rowid")) {
    std::string text;
    for (const char* field : {"Bag Number", "Label Start", "Label Number", "Bundle Number", "Seq"}) {
      const Value& v = row.at(field);
      text += (text.empty() ? "" : "/") + (v.isNull() ? "-" : std::to_string(std::llround(v.number())));
    }
    out.push_back(text);
  }
  return out;
}

}  // namespace ms::testing
