// The run state: the variables that every procedure of a run shares, owned
// by the run and passed to each procedure. Names are the system's own.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "run/progress.h"
#include "store/database.h"
#include "store/recordset.h"
#include "values/fault_log.h"

namespace ms {

class Progress;
class PageSink;
class Publication;

struct RunState {
  // The open Mailsort Database and the two long-lived recordsets.
  std::unique_ptr<store::Database> mdb;
  std::unique_ptr<store::Recordset> workrs;  // kvwork, current index "Key1"
  std::unique_ptr<store::Recordset> parmrs;  // parmcode, on its first record

  // Derived limits.
  std::int32_t bagitems = 0;
  double bundlesperbag = 0;
  double minsel = 0;
  double totrecs = 0;

  // Progress and cancel.
  double percent = 0;
  FigureText figure;  // the text of `percent` last shown
  std::string cancelflag = "N";

  // The rounding interface (see round()).
  double roundin = 0;
  std::uint8_t roundplaces = 0;
  std::string roundout;

  // Region ranks of the posting selection.
  std::string sortcodes;
  // The region (`mdreg`) of each residue code `getreg` has looked up in this
  // run; no value where the code has no region row. The suite never changes
  // the region table while a run holds the database.
  std::unordered_map<std::string, std::optional<Value>> regions;

  // Standard prices.
  double itemweight = 0;
  double fstprice = 0;
  double sndprice = 0;
  std::string pricekey = std::string(6, '\0');  // six-character fixed field, never filled

  // Report counters, zeroed and filled by the line report.
  double processed = 0, pcmatched = 0, townmatched = 0, notmatched = 0;
  double outwardonly = 0, fullpc = 0;
  double dirsels = 0, ressels = 0, diritems = 0, resitems = 0;
  double dirbags = 0, resbags = 0, dirbundles = 0, resbundles = 0;

  // Totals of the planning report.
  double pclevel = 0, totsels = 0, totitems = 0, totbags = 0;
  // The costs as the planning report printed them, blanks trimmed ("1234.56",
  // ".50"): its "Total Cost" (the Mailsort cost), "Equivalent without
  // Mailsort" (the standard cost) and "Mailsort saving". Empty until printed.
  std::string mailsortcost, standardcost, mailsortsaving;

  // The screen and the printer of this run (not owned).
  Progress* progress = nullptr;
  PageSink* printer = nullptr;
  // Where the run's files wait until it has finished (not owned); null
  // outside a run, where a file is put in place as soon as it is written.
  Publication* publication = nullptr;

  // Faults of the machine or of the database that the run met and skipped;
  // a run that has any is incomplete and says so at its end.
  FaultLog faults;
  // The run finished, committed its work and put its files in place.
  bool published = false;
  // The run's commit failed so that it cannot be told whether it happened
  // (the server was lost): its files and its journal wait for the next
  // start, which settles them from the database.
  bool undecided = false;
  // The start found that the last run in the folder had committed and put
  // its files in place; this run did nothing more (`published` is set too).
  bool recovered = false;
  // Chain Mode as the run ends: RunAlone was "Y"; `labelsAsked`: RunLabels
  // was "Y". A run that commits writes its hand-over with its work.
  bool chainMode = false;
  bool labelsAsked = false;
  // The files it put in place (whole paths), once published.
  std::vector<std::string> files;
  // For the record of the run: the database as its journal names it, the
  // Job Parameters' JobRef, and where the pages went (the line the operator
  // is shown; the queue they were sent to, empty for none, and how many).
  std::string database;
  std::string jobref;
  std::string pageswent;
  std::string printedon;
  int pagesprinted = 0;

  // The date printed at the head of the reports, in the system's short date
  // format; set by whoever starts the run.
  std::string rundate;

  // Rounds `roundin` to `roundplaces` places into `roundout`.
  void round();

  // What the run kept, for the report of its faults.
  FaultLog::Kept kept() const {
    return published   ? FaultLog::Kept::Published
           : undecided ? FaultLog::Kept::Undecided
                       : FaultLog::Kept::Nothing;
  }

  // Whether the passes stop: the run is cancelled, or it has met a fault of
  // the machine or of the database (another program holding the database
  // past the wait, a lost connection), after which going on record by record
  // would only meet it again.
  bool stopping() const { return cancelflag == "Y" || !faults.empty(); }

  // Regional Sequencing: the second character of the Job Parameters
  // `service` is "1" and `Geog` is "Y"; read afresh at every call.
  bool regionalSequencing() const;
};

}  // namespace ms
