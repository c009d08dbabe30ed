#include "reports/planning/costs_section.h"

#include <memory>
#include <string>

#include "reports/common/mail_format.h"
#include "reports/planning/figure_field.h"
#include "reports/planning/job_parameters.h"
#include "reports/planning/price_lookup.h"
#include "reports/planning/report_lines.h"
#include "run/run_state.h"
#include "store/database.h"
#include "store/recordset.h"
#include "values/fault.h"
#include "values/text_rules.h"
#include "values/value.h"

namespace ms {

namespace {

// The job's row of the tariff, found by `pricekey`. Every read fails while
// no row has been found (no table, no index, no matching key).
class PriceRow {
 public:
  // Opens `price`, chooses its index, builds `pricekey` and seeks it; each
  // step is a statement of its own.
  explicit PriceRow(RunState& run) {
    attempt([&] { table_ = openPrices(run); });
    attempt([&] { table().setIndex("PrimaryKey"); });
    if (test([&] { return isY(jobParameter(run, "Mailsort120")); }))
      attempt([&] { run.pricekey = lset(jobParameter(run, "service").textOrEmpty() + " 120", 6); });
    else
      attempt([&] { run.pricekey = lset(jobParameter(run, "service").text(), 6); });
    attempt([&] {
      table().seek(Value(run.pricekey));
      found_ = !table().noMatch();
    });
  }

  Value field(const std::string& name) {
    if (!found_) throw RunError(Fault::NoCurrentRecord, "No current record");
    return table().field(name);
  }
  double number(const std::string& name) { return field(name).number(); }

 private:
  static std::unique_ptr<store::Recordset> openPrices(RunState& run) {
    if (!run.mdb) throw RunError(Fault::Engine, "Database not open");
    return run.mdb->openTable("price");
  }
  store::Recordset& table() {
    if (!table_) throw RunError(Fault::Engine, "Table price not open");
    return *table_;
  }

  std::unique_ptr<store::Recordset> table_;
  bool found_ = false;
};

// The numeric tests of the tariff bands and weight steps: a Null on either
// side makes the test not true (it does not fail); a text that is not a
// number fails.
bool notAbove(const Value& a, const Value& b) {
  if (a.isNull() || b.isNull()) return false;
  return a.number() <= b.number();
}
bool below(const Value& a, const Value& b) {
  if (a.isNull() || b.isNull()) return false;
  return a.number() < b.number();
}

// Rounds through the run's `round` and gives the number of its text.
double rounded(RunState& run, double value, std::uint8_t places) {
  run.roundin = value;
  run.roundplaces = places;
  run.round();
  return Val(run.roundout);
}

// The format whose columns of the tariff price the job: the prefix of its
// discount and volume band fields ("Le", "LL", "A3", "PK"), or empty for
// any other format. The tests are made in this order; a test that fails
// enters its branch.
std::string tariffFamily(RunState& run) {
  for (const MailFormat& format : kMailFormats)
    if (test([&] { return jobParameterIs(run, "Format", std::string(format.code)); }))
      return std::string(format.tariffPrefix);
  return {};
}

// A figure right-aligned in `width` characters through a Format pattern.
FixedField amount(double value, const char* pattern, std::size_t width) {
  return figure(width, [&] { return format(value, pattern); });
}
FixedField count(double value) {
  return figure(6, [&] { return plainText(value); });
}

}  // namespace

void printCosts(RunState& run, ReportLines& out, double suitable, const FixedField& suitableField) {
  double itemcost = 0, itempounds = 0, sltotal = 0, slprint = 0;
  double dirpct = 0, respct = 0, dirdisc = 0, resdisc = 0;
  double m120qty = 0, m120pct = 0, m120disc = 0, franking = 0;
  double stdrate = 0, stdcost = 0, totalcost = 0, equivalent = 0, saving = 0;

  out.heading("Costs and Discounts");
  out.line("Total Mailsort Items                             " + suitableField.str());

  PriceRow row(run);
  auto weight = [&] { return jobParameter(run, "Weight"); };

  // Straight-line price of one item, in pence.
  const std::string family = tariffFamily(run);
  if (family == "Le") {
    attempt([&] { itemcost = row.number("LeBase1"); });
  } else if (family == "LL" || family == "A3") {
    const std::string p = family;
    if (test([&] { return notAbove(weight(), row.field(p + "Wgt1")); }))
      attempt([&] { itemcost = row.number(p + "Base1"); });
    else if (test([&] { return notAbove(weight(), row.field(p + "Wgt2")); }))
      attempt([&] { itemcost = row.number(p + "Base2"); });
    else
      attempt([&] {
        itemcost =
            row.number(p + "Base2") + (weight().number() - row.number(p + "Wgt2")) * row.number(p + "Ext1");
      });
  } else if (family == "PK") {
    if (test([&] { return notAbove(weight(), row.field("PKWgt1")); }))
      attempt([&] { itemcost = row.number("PKBase1"); });
    else if (test([&] { return notAbove(weight(), row.field("PKWgt2")); }))
      attempt([&] { itemcost = row.number("PKBase2"); });
    else if (test([&] { return below(weight(), row.field("PKWgt3")); }))
      attempt([&] {
        itemcost = row.number("PKBase2") + (weight().number() - row.number("PKWgt2")) * row.number("PKExt1");
      });
    else
      attempt([&] {
        itemcost = row.number("PkBase3") + (weight().number() - row.number("PKWgt3")) * row.number("PKExt2");
      });
  }

  attempt([&] { itemcost = rounded(run, itemcost, 1); });
  attempt([&] { itempounds = rounded(run, itemcost / 100, 3); });
  out.line("Straight Line Item Cost                          " + amount(itempounds, ".000", 6).str());

  // The straight-line total keeps its unrounded value for the total cost.
  sltotal = suitable * itempounds;
  attempt([&] { slprint = rounded(run, sltotal, 2); });
  out.line("Straight Line Total Cost                     " + amount(slprint, ".00", 10).str());
  out.line(" ");

  // Selection discounts; the direct one gains the first volume band whose
  // limit is not below the direct items.
  if (!family.empty()) {
    attempt([&] { dirpct = row.number(family + "DPtg1"); });
    attempt([&] { respct = row.number(family + "RPtg1"); });
    for (int band = 1; band <= 5; ++band) {
      const std::string n = std::to_string(band);
      if (test([&] { return notAbove(Value(run.diritems), row.field(family + "Qty" + n)); })) {
        attempt([&] { dirpct = dirpct + row.number(family + "Q" + n + "VRD1"); });
        break;
      }
    }
  }

  attempt([&] { dirdisc = rounded(run, itempounds * run.diritems * dirpct / 100, 2); });
  out.line("Direct Selection Discount                       " + amount(dirdisc, ".00", 7).str());
  out.line("      " + count(run.diritems).str() + " items @ " + amount(dirpct, ".00", 6).str() + "%");

  attempt([&] { resdisc = rounded(run, itempounds * run.resitems * respct / 100, 2); });
  out.line("Residue Selection Discount                      " + amount(resdisc, ".00", 7).str());
  out.line("      " + count(run.resitems).str() + " items @ " + amount(respct, ".00", 6).str() + "%");

  if (test([&] { return isY(jobParameter(run, "Mailsort120")); })) {
    // No count of items is held against the Mailsort 120 bands: m120qty
    // stays 0, so the first rate applies whenever Qty1 is not negative. The
    // discount itself is on the residue items.
    if (test([&] { return notAbove(Value(m120qty), row.field("Qty1")); }))
      attempt([&] { m120pct = row.number("LeQ1DPtg1"); });
    else if (test([&] { return notAbove(Value(m120qty), row.field("Qty2")); }))
      attempt([&] { m120pct = row.number("LeQ2DPtg1"); });
    else
      attempt([&] { m120pct = row.number("LeQ3DPtg1"); });
    attempt([&] { m120disc = rounded(run, itempounds * run.resitems * m120pct / 100, 2); });
    out.line("Mailsort 120 Discount                         " + amount(m120disc, ".00", 9).str());
    out.line("      " + count(run.resitems).str() + " items @ " + amount(m120pct, ".00", 6).str() + "%");
  }

  if (test([&] { return isY(jobParameter(run, "RoyalMail")); })) {
    attempt([&] {
      franking = rounded(
          run,
          (itempounds * run.diritems + itempounds * run.resitems) * row.number("Franking Surcharge") / 100,
          2);
    });
    out.line("P.O. Franking Surcharge                         " + amount(franking, ".00", 7).str());
    FixedField surcharge = figure(6, [&] { return format(row.number("Franking Surcharge"), ".00"); });
    out.line("      " + suitableField.str() + " items @ " + surcharge.str() + "%");
  }

  // The unmatched items go at the standard postal rate.
  attempt([&] { run.itemweight = jobParameter(run, "weight").number(); });
  attempt([&] { getprc(run); });
  if (test([&] { return jobParameterIs(run, "service", "M1") || jobParameterIs(run, "service", "P1"); }))
    attempt([&] { stdrate = run.fstprice; });
  else
    attempt([&] { stdrate = run.sndprice; });
  attempt([&] { stdcost = rounded(run, stdrate / 100 * run.notmatched, 2); });
  out.line("Items at standard postal rate                   " + amount(stdcost, ".00", 7).str());
  out.line("      " + count(run.notmatched).str() + " items @   " + plainText(stdrate) + " pence");
  out.line(" ");

  attempt([&] { totalcost = rounded(run, sltotal - dirdisc - resdisc + stdcost - m120disc + franking, 2); });
  const FixedField totalField = amount(totalcost, ".00", 10);
  out.line("Total Cost                                   " + totalField.str());
  out.line(" ");

  attempt([&] { equivalent = rounded(run, stdrate / 100 * run.processed, 2); });
  const FixedField equivalentField = amount(equivalent, ".00", 10);
  out.line("Equivalent without Mailsort                  " + equivalentField.str());
  out.line(" ");

  saving = equivalent - totalcost;
  attempt([&] { saving = rounded(run, saving, 2); });
  const FixedField savingField = amount(saving, ".00", 10);
  out.line("Mailsort saving                              " + savingField.str());

  // Kept as printed, for the record of the run.
  run.mailsortcost = trim(totalField.str());
  run.standardcost = trim(equivalentField.str());
  run.mailsortsaving = trim(savingField.str());
}

}  // namespace ms
