// The Counting Pass over the work table in "Key1" order, with a Residue Walk
// for every selection too small (or not allowed) to go direct.
//
// Every statement runs under attempt(): one that fails is skipped and the
// pass goes on with the next. An If whose test fails enters its first branch
// (test()). `getreg` and `percbar` run inside attempt() as a whole, so a
// failure in them abandons the call and the pass goes on after it.
//
// The pass never turns twice on a record: a move that fails, a Residue Walk
// whose seek lands before its selection, or a next selection that would not
// start past the one just judged, is a fault that ends the pass.
#include "allocation/selection_allocation.h"

#include <string>

#include "allocation/region_lookups.h"
#include "run/advance.h"
#include "run/progress.h"
#include "run/run_state.h"
#include "values/fault.h"
#include "values/fault_log.h"
#include "values/stop_point.h"
#include "values/text_rules.h"

namespace ms {

namespace {

// The code that marks an address the coding program did not match: never a
// selection of its own, always sequenced.
const std::string kUnmatched = "1";

// What `nextcode` holds at the end of the table.
const std::string kEndOfTable = "0";

const std::string kWorkTable = "kvwork";

// Whether a field holds the code `code` (a Null holds no code).
bool holds(const Value& field, const std::string& code) { return !field.isNull() && field.text() == code; }

class CountingPass {
 public:
  explicit CountingPass(RunState& run) : run_(run), work_(*run.workrs) {}

  void run() {
    attempt([&] { work_.moveFirst(); });
    attempt([&] { prevcode_ = work_.field("mscode").text(); });
    recsdone_ = 1;
    selcount_ = 1;
    attempt([&] { selstart_ = work_.place(); });
    while (!work_.eof() && !run_.stopping()) {
      setFaultPlace("the allocation", recsdone_);
      stopPoint("allocation", recsdone_);
      sequence();
      if (!moveOn() || !boundary()) return;
      showProgress();
    }
  }

  // Whether the pass saves a new sequence number into nearly every record.
  bool sequencesEveryRecord() const {
    bool every = false;
    attempt([&] { every = run_.regionalSequencing() || everySelectionToResidue(); });
    return every;
  }

 private:
  // Gives the record under the cursor its `seq` when Regional Sequencing is
  // in force or the record is unmatched; other records keep theirs.
  void sequence() {
    if (!test([&] { return run_.regionalSequencing() || holds(work_.field("mscode"), kUnmatched); })) return;
    attempt([&] { work_.edit(); });
    attempt([&] { getreg(run_); });
    // An empty `rscode` (matched at postcode level) keeps the full code in
    // the units; a post-town match, or no `rscode` at all, moves it up three
    // places.
    if (test([&] {
          Value rscode = work_.field("rscode");
          return !rscode.isNull() && rscode.text().empty();
        }))
      attempt([&] {
        work_.set("seq", work_.field("rgcode").number() * 1000000 + work_.field("mscode").number());
      });
    else
      attempt([&] {
        work_.set("seq", work_.field("rgcode").number() * 1000000 + work_.field("mscode").number() * 1000);
      });
    attempt([&] { work_.update(); });
  }

  bool moveOn() {
    if (!advance(work_, kWorkTable)) return false;
    atEnd_ = !test([&] { return !work_.eof(); });
    if (!atEnd_)
      attempt([&] { nextcode_ = work_.field("mscode").text(); });
    else
      nextcode_ = kEndOfTable;
    return true;
  }

  // Counts the next record into the selection, or judges the selection that
  // has just ended. A block of unmatched records is not counted and ends
  // nothing: the selection before it is judged after the block.
  // False when the pass must end.
  bool boundary() {
    if (nextcode_ == kUnmatched) return true;
    if (nextcode_ == prevcode_) {
      selcount_ += 1;
      return true;
    }
    if (test([&] { return goesToResidue(); }) && !residueWalk()) return false;
    // The next selection starts where the cursor now is: on the record that
    // ended this one or, after a Residue Walk, on the first record after the
    // selection, which may lie before it (a block of code "1" records is then
    // gone through again). Either way it lies past this selection's start.
    store::Place place;
    if (!attempt([&] { place = work_.place(); }) || !work_.before(selstart_, place))
      return recordWalkedBack(kWorkTable), false;
    selcount_ = 1;
    selstart_ = std::move(place);
    attempt([&] { prevcode_ = work_.field("mscode").text(); });
    return true;
  }

  // Every part of the test is evaluated, so a Job Parameter that cannot be
  // read fails the whole test.
  bool goesToResidue() const {
    bool tooSmall = selcount_ < run_.minsel;
    return prevcode_ != kUnmatched && (tooSmall || everySelectionToResidue());
  }

  bool everySelectionToResidue() const {
    store::Recordset& parm = *run_.parmrs;
    bool mailsort120 = isY(parm.field("Mailsort120"));
    Value service = parm.field("Service");
    bool service120 = mailsort120 && (holds(service, "M1") || holds(service, "M2") || holds(service, "M3"));
    bool resOnly = isY(parm.field("ResOnly"));
    return service120 || resOnly;
  }

  // Recodes every record of the selection `prevcode` to its residue code
  // and leaves the cursor on the first record after the selection. It does
  // not yield, so Cancel never interrupts it. False when the pass must end.
  bool residueWalk() {
    // A selection without a code of its own (records whose `mscode` holds
    // no value) is not found: nothing is recoded, and the cursor goes back
    // to the record that ended the selection, the first of its code.
    bool found = false;
    store::Place place;
    attempt([&] {
      work_.seek(Value(prevcode_));
      found = !work_.noMatch();
      if (found) place = work_.place();
    });
    if (!found) {
      if (!atEnd_) attempt([&] { work_.seek(Value(nextcode_)); });
      return true;
    }
    // Its first record lies where the selection began, or the table's order
    // has changed under the pass.
    if (work_.before(place, selstart_)) return recordWalkedBack(kWorkTable), false;
    attempt([&] { rescode_ = leftChars(work_.field("mscode").text(), 3); });
    attempt([&] { curcode_ = work_.field("mscode").text(); });
    while (curcode_ == prevcode_) {
      attempt([&] { work_.edit(); });
      attempt([&] { work_.set("mscode", Value(rescode_)); });
      if (test([&] { return !run_.regionalSequencing(); })) {
        attempt([&] { work_.set("seq", strictNumber(rescode_) * 1000); });
      } else {
        attempt([&] { getreg(run_); });
        attempt([&] {
          work_.set("seq", work_.field("rgcode").number() * 1000000 + strictNumber(rescode_) * 1000);
        });
      }
      attempt([&] { work_.set("sflag", Value("Y")); });
      attempt([&] { work_.update(); });
      if (!advance(work_, kWorkTable)) return false;
      if (test([&] { return work_.eof(); }))
        curcode_.clear();
      else
        attempt([&] { curcode_ = work_.field("mscode").text(); });
    }
    return true;
  }

  // The figure after the k-th record is (k + 1) / totrecs x 100.
  void showProgress() {
    recsdone_ += 1;
    ms::showProgress(run_, recsdone_);
  }

  RunState& run_;
  store::Recordset& work_;
  std::string prevcode_;
  std::string nextcode_;
  std::string rescode_;
  std::string curcode_;
  bool atEnd_ = false;
  store::Place selstart_;  // place of the first record of the selection `prevcode`
  double selcount_ = 1;
  double recsdone_ = 1;
};

}  // namespace

void allocate(RunState& run) {
  if (!run.workrs || !run.parmrs) return;
  CountingPass pass(run);
  // A pass that gives nearly every record a new sequence number would move
  // each record's entry in the "Key2" order, which it never walks: that
  // index is built once after the pass instead. Nor does the pass read a
  // record's `seq` or `rgcode` back from the table: those saves are written
  // after it too, in the file's order.
  const bool deferKey2 = run.mdb && pass.sequencesEveryRecord();
  if (deferKey2) {
    attempt([&] { run.mdb->deferIndex(kWorkTable, "Key2"); });
    attempt([&] { run.mdb->deferSaves(kWorkTable, {"seq", "rgcode"}); });
  }
  pass.run();
  // A run that stops (cancelled, or after a fault) is undone with the index
  // as it was: nothing to build or write.
  if (deferKey2 && !run.stopping()) attempt([&] { run.mdb->writeDeferred(); });
}

}  // namespace ms
