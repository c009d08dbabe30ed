#include "reports/line/line_report.h"

#include <cmath>
#include <cstdint>
#include <memory>
#include <string>

#include "reports/common/page_sink.h"
#include "reports/line/line_layout.h"
#include "reports/line/po_files.h"
#include "reports/planning/planning_report.h"
#include "run/advance.h"
#include "run/progress.h"
#include "run/run_state.h"
#include "store/database.h"
#include "store/recordset.h"
#include "values/fault.h"
#include "values/fault_log.h"
#include "values/stop_point.h"
#include "values/text_rules.h"
#include "values/value.h"

namespace ms {

namespace {

using store::Recordset;

// A table or device the report could not get: every use of it fails as a
// statement does (the failure to get it has been recorded already).
template <class T>
T& need(T* thing, const char* what) {
  if (!thing) throw RunError(Fault::Engine, std::string(what) + " is not open");
  return *thing;
}

// What a failing statement reports: the empty text when it completes.
template <class Statement>
std::string failureOf(Statement&& statement) {
  try {
    statement();
    return "";
  } catch (const std::exception& e) {
    noteSkipped(e);
    return e.what();
  }
}

// A text compared with a Null gives no answer, which counts as "no"; a
// number is compared through its plain text.
bool differsFrom(const Value& value, const std::string& text) {
  return !value.isNull() && value.text() != text;
}

std::string formatValue(const Value& value, const char* pattern) {
  return value.isText() ? format(value.textOrEmpty(), pattern) : format(value.number(), pattern);
}

// The number of bags for `items`: bagitems taken away until nothing is left.
// Only a bag of at least one item ends; anything less fails.
double bagCount(double items, std::int32_t bagitems) {
  if (bagitems < 1) throw RunError(Fault::Overflow, "Items per bag below 1");
  return items > 0 ? std::ceil(items / bagitems) : 0;
}

class LineReport {
 public:
  explicit LineReport(RunState& run) : run_(run) {}
  void perform();

 private:
  bool openTables();
  void setUp();
  bool turn();
  void closeSelection();
  void startSelection();
  void writeBagsRecord();
  void finish();
  void takeGroup();
  void countPostcodeLevel();
  void newPageIfFull();

  store::Database& database() { return need(run_.mdb.get(), "mailsort.mdb"); }
  Recordset& work() { return need(work_.get(), "kvwork"); }
  Recordset& label() { return need(label_.get(), "label"); }
  Recordset& bags() { return need(bags_.get(), "bags"); }
  Recordset& parameters() { return need(run_.parmrs.get(), "parmcode"); }
  PageSink& sink() { return need(run_.printer, "printer"); }
  Progress& progress() { return need(run_.progress, "progress"); }

  RunState& run_;
  std::unique_ptr<Recordset> work_;
  std::unique_ptr<Recordset> label_;
  std::unique_ptr<Recordset> bags_;
  PoFiles files_;
  LineFields fields_;
  HeaderFields header_;

  // Job settings, read once: a setting that cannot be read counts as set.
  bool bagLab_ = true;
  bool bundleLab_ = true;
  bool regional_ = true;

  // The selection in hand.
  std::string groupcode_;
  FixedField groupsflag_{1};
  double groupseq_ = 0;
  std::string grouprscode_;
  double groupitems_ = 0;
  double groupbags_ = 0;
  double groupbundles_ = 0;

  // Running figures.
  double cumitems_ = 0;
  double cumbags_ = 0;
  double nextbag_ = 1;
  double labelstart_ = 0;
  double bundleno_ = 0;
  std::string lastturn_ = "N";
  std::uint8_t linecount_ = 0;
};

void LineReport::perform() {
  if (!openTables()) return;
  setUp();
  while (work_ && !work_->eof() && !run_.stopping()) {
    setFaultPlace("the line report", run_.processed + 1);
    stopPoint("printing", run_.processed + 1);
    if (!turn()) break;  // the pass could not move on: what it has is reported
  }
  finish();
}

// Without the work table in its Key2 order, or without the label table, no
// line of the report could be right: the operator is told which table is at
// fault and nothing is printed or written, so the previous run's files stay.
bool LineReport::openTables() {
  std::string fault = failureOf([&] {
    work_ = database().openTable("kvwork");
    work_->setIndex("Key2");
  });
  std::string what = "the work table kvwork cannot be read in its Key2 order";
  if (fault.empty()) {
    fault = failureOf([&] {
      label_ = database().openTable("label");
      label_->setIndex("PrimaryKey");
    });
    what = "the table label cannot be searched by its PrimaryKey";
  }
  if (fault.empty()) return true;
  attempt([&] { progress().message("The line report cannot be printed: " + what + " (" + fault + ")."); });
  return false;
}

void LineReport::setUp() {
  attempt([&] { bags_ = database().openTable("bags"); });
  attempt([&] { work().moveFirst(); });
  takeGroup();

  run_.processed = run_.pcmatched = run_.townmatched = run_.notmatched = 0;
  run_.outwardonly = run_.fullpc = 0;
  run_.dirsels = run_.ressels = run_.diritems = run_.resitems = 0;
  run_.dirbags = run_.resbags = run_.dirbundles = run_.resbundles = 0;

  bagLab_ = test([&] { return isY(parameters().field("BagLab")); });
  bundleLab_ = test([&] { return isY(parameters().field("BundleLab")); });
  const bool noLabels = test([&] {
    return isText(parameters().field("BagLab"), "N") && isText(parameters().field("BundleLab"), "N");
  });
  labelstart_ = noLabels ? 0 : 1;
  bundleno_ = 0;
  nextbag_ = 1;
  fields_.seqcode.rset("");
  lastturn_ = "N";

  header_.date = run_.rundate;
  attempt([&] { header_.companyName = parameters().field("Company Name").textOrEmpty(); });
  attempt([&] { header_.jobRef = parameters().field("JobRef").textOrEmpty(); });
  attempt([&] { header_.formatName = mailFormatName(parameters().field("Format")); });
  header_.longPages = test([&] { return isText(parameters().field("printer"), "L"); });
  attempt([&] { printFirstHeader(sink(), header_); });
  linecount_ = 5;

  regional_ = test([&] { return run_.regionalSequencing(); });
  if (regional_) attempt([&] { fields_.seqcode.rset(formatValue(work().field("rgcode"), "00")); });

  files_.open(run_.publication);
}

void LineReport::takeGroup() {
  attempt([&] { groupcode_ = work().field("mscode").text(); });
  attempt([&] { groupsflag_.lset(work().field("sflag").text()); });
  attempt([&] { groupseq_ = work().field("seq").number(); });
  attempt([&] { grouprscode_ = work().field("rscode").text(); });
}

// False when the pass could not move on to the next record.
bool LineReport::turn() {
  if (lastturn_ != "Y") attempt([&] { files_.writeAddress(work()); });
  const double notmatched = run_.notmatched;

  if (groupcode_ != "1") {
    // Postcode or post-town level of every record that has a match.
    if (test([&] {
          const Value code = work().field("mscode");
          const bool notOne = !code.isNull() && code.number() != 1;
          return lastturn_ == "N" && notOne;
        })) {
      if (test([&] { return isText(work().field("rscode"), ""); }))
        run_.pcmatched += 1;
      else
        run_.townmatched += 1;
    }
    countPostcodeLevel();
    if (test([&] { return differsFrom(work().field("mscode"), groupcode_) || lastturn_ == "Y"; })) {
      closeSelection();
      startSelection();
    } else {
      groupitems_ += 1;
      cumitems_ += 1;
    }
  } else {
    // The not-matched group runs to the end of the table.
    if (lastturn_ != "Y") run_.notmatched += 1;
    countPostcodeLevel();
  }
  // An address counted as not matched is listed in UNMATCHED.CSV too.
  if (lastturn_ != "Y" && run_.notmatched > notmatched) attempt([&] { files_.writeUnmatched(); });

  if (!advance(work(), "kvwork")) return false;
  if (test([&] { return work().eof() && lastturn_ == "N"; })) {
    // One more turn on the last record closes the last selection.
    attempt([&] { work().moveLast(); });
    lastturn_ = "Y";
  } else {
    run_.processed += 1;
  }

  ms::showProgress(run_, run_.processed);
  return true;
}

void LineReport::countPostcodeLevel() {
  if (test([&] { return isText(work().field("pcflag"), "O") && lastturn_ != "Y"; })) run_.outwardonly += 1;
  if (test([&] { return isText(work().field("pcflag"), "F") && lastturn_ != "Y"; })) run_.fullpc += 1;
}

void LineReport::closeSelection() {
  // A code the label table does not know is neither printed nor written.
  if (test([&] {
        label().seek(Value(groupcode_));
        return label().noMatch();
      }))
    return;

  groupbags_ = 0;
  attempt([&] { groupbags_ = bagCount(groupitems_, run_.bagitems); });
  cumbags_ += groupbags_;

  attempt([&] {
    run_.roundin =
        divide(groupitems_ - (groupbags_ - 1) * run_.bagitems, parameters().field("BundleMax").number());
  });
  run_.roundplaces = 0;
  attempt([&] { run_.round(); });
  groupbundles_ = (groupbags_ - 1) * run_.bundlesperbag + Val(run_.roundout);

  fields_.code.lset(groupcode_);
  attempt([&] { fields_.description.lset(label().field("mdlab").text()); });
  fields_.items.rset(plainText(groupitems_));
  fields_.cumItems.rset(plainText(cumitems_));
  fields_.bags.rset(plainText(groupbags_));
  fields_.cumBags.rset(plainText(cumbags_));
  attempt([&] { sink().printLine(fields_.selectionLine()); });
  attempt([&] {
    files_.writeLine(fields_.code.str(), fields_.description.str(), fields_.items.str(),
                     fields_.cumItems.str(), fields_.bags.str(), fields_.cumBags.str());
  });
  linecount_ += 1;
  attempt([&] { files_.writeBags(groupcode_, groupbags_); });

  if (grouprscode_ != "" || groupsflag_.str() == "Y") {
    run_.ressels += 1;
    run_.resitems += groupitems_;
    run_.resbags += groupbags_;
    run_.resbundles += groupbundles_;
  } else {
    run_.dirsels += 1;
    run_.diritems += groupitems_;
    run_.dirbags += groupbags_;
    run_.dirbundles += groupbundles_;
  }

  writeBagsRecord();
  newPageIfFull();
}

void LineReport::writeBagsRecord() {
  auto labelNumber = [&] { return bags().field("Label Number").number(); };
  attempt([&] { bags().addNew(); });
  attempt([&] { bags().set("Bag Number", nextbag_); });
  nextbag_ = cumbags_ + 1;
  attempt([&] { bags().set("Label Number", cumitems_); });
  attempt([&] { bags().set("Label Start", labelstart_); });
  if (bagLab_) attempt([&] { bags().set("Label Number", labelNumber() + cumbags_); });
  if (bundleLab_) {
    if (bundleno_ == 0 && run_.resbundles > 0) bundleno_ = 1;
    attempt([&] { bags().set("Label Number", labelNumber() + run_.resbundles); });
    attempt([&] { bags().set("Bundle Number", bundleno_); });
    if (run_.resbundles > 0) bundleno_ = run_.resbundles + 1;
  }
  attempt([&] { labelstart_ = labelNumber(); });
  attempt([&] { bags().set("Seq", groupseq_); });
  if (!attempt([&] { bags().update(); })) attempt([&] { bags().cancelUpdate(); });
}

void LineReport::newPageIfFull() {
  if ((linecount_ >= 70 && !header_.longPages) || (linecount_ >= 80 && header_.longPages)) {
    attempt([&] { sink().newPage(); });
    attempt([&] { printContinuationHeader(sink(), header_); });
    linecount_ = 5;
  }
}

void LineReport::startSelection() {
  groupitems_ = 1;
  if (test([&] { return differsFrom(work().field("mscode"), "1"); }))
    cumitems_ += 1;
  else
    run_.notmatched += 1;
  takeGroup();
  if (regional_ && test([&] { return !work().eof(); }))
    attempt([&] { fields_.seqcode.rset(formatValue(work().field("rgcode"), "00")); });
}

void LineReport::finish() {
  if (run_.cancelflag == "Y") {
    files_.close();
    return;
  }

  if (run_.notmatched > 0) {
    double groupbags = 0;
    attempt([&] { groupbags = bagCount(run_.notmatched, run_.bagitems); });
    cumbags_ += groupbags;

    fields_.items.rset(plainText(run_.notmatched));
    fields_.cumItems.rset(plainText(cumitems_ + run_.notmatched));
    fields_.bags.rset(plainText(groupbags));
    fields_.cumBags.rset(plainText(cumbags_));
    attempt([&] { sink().printLine(fields_.notMatchedLine(regional_)); });
    attempt([&] {
      files_.writeLine("None", "Letter Post", fields_.items.str(), fields_.cumItems.str(), fields_.bags.str(),
                       fields_.cumBags.str());
    });

    attempt([&] { bags().addNew(); });
    attempt([&] { bags().set("Bag Number", cumbags_); });
    attempt([&] { bags().set("Label Number", cumitems_ + run_.notmatched); });
    if (bagLab_)
      attempt([&] { bags().set("Label Number", bags().field("Label Number").number() + cumbags_); });
    if (bundleLab_) {
      attempt([&] { bags().set("Label Number", bags().field("Label Number").number() + run_.resbundles); });
      attempt([&] { bags().set("Bundle Number", run_.resbundles); });
    }
    attempt([&] { bags().set("Seq", groupseq_); });
    if (!attempt([&] { bags().update(); })) attempt([&] { bags().cancelUpdate(); });
  }

  attempt([&] { sink().printLine(kEndLine); });
  attempt([&] { sink().newPage(); });
  attempt([&] { planrep(run_); });
  files_.close();
}

}  // namespace

void linerep(RunState& run) {
  LineReport report(run);
  report.perform();
}

}  // namespace ms
