#include "reports/planning/planning_report.h"

#include <string>
#include <vector>

#include "reports/common/mail_format.h"
#include "reports/common/record_file.h"
#include "reports/planning/costs_section.h"
#include "reports/planning/figure_field.h"
#include "reports/planning/job_parameters.h"
#include "reports/planning/report_lines.h"
#include "run/run_state.h"
#include "values/fault.h"
#include "values/text_rules.h"
#include "values/value.h"

namespace ms {

namespace {

// One row of the sortation statistics: number, items, % match, bags,
// bundles, each in six characters.
struct SortationRow {
  FixedField number{6}, items{6}, match{6}, bags{6}, bundles{6};

  std::string text() const {
    return number.str() + "     " + items.str() + "       " + match.str() + "   " + bags.str() + "      " +
           bundles.str();
  }
};

void fillCount(FixedField& field, double value) {
  fillRight(field, [&] { return plainText(value); });
}

}  // namespace

void planrep(RunState& run) {
  ReportLines out(run);
  auto parameter = [&](const char* name) { return jobParameter(run, name); };

  RecordFile poplan;
  attempt([&] { poplan.open("POPLAN.CSV", run.publication); });
  out.setFont("Courier New", 11);

  out.line(run.rundate + "                     Mailsort Planning Report");
  std::string company;
  attempt([&] { company = parameter("Company Name").textOrEmpty(); });
  out.line(" " + company);
  out.line(" ");

  // The job's Mailsort parameters.
  FixedField serviceField(6), selectionField(6), bundleField(6), weightField(6), jobRefField(15);
  std::string formatName;
  if (test([&] { return isY(parameter("Mailsort120")); }))
    attempt([&] { serviceField.lset(parameter("service").textOrEmpty() + " 120"); });
  else
    attempt([&] { serviceField.rset(parameter("service").text()); });
  fillRight(selectionField, [&] { return parameter("selection").text(); });
  fillRight(bundleField, [&] { return parameter("bundlemax").text(); });
  fillRight(weightField, [&] { return parameter("weight").text(); });
  // Tested in the table's order; a test that fails enters its branch.
  for (const MailFormat& format : kMailFormats)
    if (test([&] { return jobParameterIs(run, "Format", std::string(format.code)); })) {
      formatName = format.name;
      break;
    }
  fillRight(jobRefField, [&] { return parameter("JobRef").text(); });

  out.heading("Mailsort Parameters");
  out.line("Mailsort Service                                 " + serviceField.str());
  out.line("Minimum Selection Size                           " + selectionField.str());
  out.line("Mail Format                                      " + formatName);
  out.line("Max Bundle Size                                  " + bundleField.str());
  out.line("Weight of item                                   " + weightField.str() + "g");
  out.line("Job Reference                           " + jobRefField.str());
  out.line(" ");

  // Statistics. A percentage of no records fails, leaving its field as it
  // was; the sums that use it take the zero it started with.
  double suitable = 0, nopc = 0, pctfull = 0, pctoutward = 0, pctlevel = 0, pctnone = 0, totbundles = 0;
  auto ofProcessed = [&](double part) { return divide(part, run.processed) * 100; };
  auto ofSuitable = [&](double part) { return divide(part, suitable) * 100; };
  suitable = run.processed - run.notmatched;
  attempt([&] { pctoutward = ofProcessed(run.outwardonly); });
  attempt([&] { pctfull = ofProcessed(run.fullpc); });
  pctlevel = pctfull + pctoutward;
  run.pclevel = run.fullpc + run.outwardonly;
  nopc = run.processed - run.pclevel;
  pctnone = 100 - pctlevel;

  FixedField processedField(6), pcmatchedField(6), townmatchedField(6), notmatchedField(6), suitableField(6);
  fillCount(processedField, run.processed);
  fillCount(pcmatchedField, run.pcmatched);
  fillCount(townmatchedField, run.townmatched);
  fillCount(notmatchedField, run.notmatched);
  fillCount(suitableField, suitable);
  out.heading("Presortation Statistics");
  out.line("Address Records Processed                        " + processedField.str());
  out.line("Postcodes Matched                                " + pcmatchedField.str());
  out.line("Post Towns Matched                               " + townmatchedField.str());
  out.line("Addresses not matched                            " + notmatchedField.str());
  out.line("Suitable for Mailsort                            " + suitableField.str());
  out.line(" ");

  FixedField pctfullField(6), pctoutwardField(6), pctlevelField(6), pctnoneField(6);
  fillRight(pctfullField, [&] { return format(ofProcessed(run.fullpc), "0.0"); });
  fillRight(pctoutwardField, [&] { return format(ofProcessed(run.outwardonly), "0.0"); });
  fillRight(pctlevelField, [&] { return format(pctlevel, "0.0"); });
  fillRight(pctnoneField, [&] { return format(pctnone, "0.0"); });
  out.heading("Postcode Statistics");
  out.line("Full Postcode                                    " + pctfullField.str() + "%");
  out.line("Outward Only                                     " + pctoutwardField.str() + "%");
  out.line("Postcode Level                                   " + pctlevelField.str() + "%");
  out.line("No Postcode                                      " + pctnoneField.str() + "%");
  out.line(" ");

  SortationRow direct, residue, totals;
  fillRight(direct.match, [&] { return format(ofSuitable(run.diritems), ".0"); });
  fillRight(residue.match, [&] { return format(ofSuitable(run.resitems), ".0"); });
  fillCount(direct.number, run.dirsels);
  fillCount(direct.items, run.diritems);
  fillCount(direct.bags, run.dirbags);
  fillCount(direct.bundles, run.dirbundles);
  fillCount(residue.number, run.ressels);
  fillCount(residue.items, run.resitems);
  fillCount(residue.bags, run.resbags);
  fillCount(residue.bundles, run.resbundles);
  out.heading("Sortation Statistics");
  out.line("                         Number      Items      % Match     Bags     Bundles");
  if (test([&] { return !isY(parameter("Mailsort120")); }))
    out.line("Direct Selections       " + direct.text());
  out.line("Residue Selections      " + residue.text());
  run.totsels = run.dirsels + run.ressels;
  run.totitems = run.diritems + run.resitems;
  run.totbags = run.dirbags + run.resbags;
  totbundles = run.dirbundles + run.resbundles;
  fillCount(totals.number, run.totsels);
  fillCount(totals.items, run.totitems);
  fillRight(totals.match, [&] { return format(ofSuitable(run.totitems), ".0"); });
  fillCount(totals.bags, run.totbags);
  fillCount(totals.bundles, totbundles);
  out.line("Totals                  " + totals.text());
  out.line(" ");

  // The planning figures for the Post Office, one record.
  attempt([&] {
    poplan.writeRecord({
        quoted("DB2007R1"),
        quoted(trim(serviceField.str())),
        quoted(selectionField.str()),
        quoted(formatName),
        quoted(trim(weightField.str())),
        quoted(trim(jobRefField.str())),
        quoted(processedField.str()),
        quoted(pcmatchedField.str()),
        quoted(townmatchedField.str()),
        quoted(notmatchedField.str()),
        quoted(suitableField.str()),
        quoted(plainText(run.fullpc)),
        quoted(pctfullField.str()),
        quoted(plainText(run.outwardonly)),
        quoted(pctoutwardField.str()),
        quoted(plainText(run.pclevel)),
        quoted(pctlevelField.str()),
        quoted(plainText(nopc)),
        quoted(pctnoneField.str()),
        quoted(direct.number.str()),
        quoted(direct.items.str()),
        quoted(direct.match.str()),
        quoted(direct.bags.str()),
        quoted(residue.number.str()),
        quoted(residue.items.str()),
        quoted(residue.match.str()),
        quoted(residue.bags.str()),
    });
  });
  attempt([&] { poplan.close(); });

  printCosts(run, out, suitable, suitableField);
  out.endDoc();
}

}  // namespace ms
