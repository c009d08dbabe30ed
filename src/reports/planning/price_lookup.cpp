#include "reports/planning/price_lookup.h"

#include <memory>
#include <string>

#include "reports/common/mail_format.h"
#include "reports/planning/job_parameters.h"
#include "run/run_state.h"
#include "store/database.h"
#include "store/recordset.h"
#include "values/fault.h"

namespace ms {

namespace {

// Sets both prices from the two price fields of one step, Fst first.
void takeStep(RunState& run, store::Recordset& prices, const std::string& fst, const std::string& snd) {
  run.fstprice = prices.field(fst).number();
  run.sndprice = prices.field(snd).number();
}

// Walks the limited steps 1..count of a family in order and takes the first
// whose limit holds the item weight. Each limit is read only when the walk
// reaches it. Returns whether a step was taken.
bool walkSteps(RunState& run, store::Recordset& prices, const std::string& limitPrefix,
               const std::string& pricePrefix, int count) {
  for (int step = 1; step <= count; ++step) {
    const std::string n = std::to_string(step);
    if (run.itemweight <= prices.field(limitPrefix + n).number()) {
      takeStep(run, prices, pricePrefix + n + "Fst", pricePrefix + n + "Snd");
      return true;
    }
  }
  return false;
}

}  // namespace

void getprc(RunState& run) {
  if (!run.mdb) throw RunError(Fault::Engine, "Database not open");
  std::unique_ptr<store::Recordset> prices = run.mdb->openTable("poprice");
  prices->moveFirst();

  // Packets, A3 packets and any other format are priced by the packet
  // steps; the formats with steps of their own are tested in the table's
  // order.
  StandardSteps steps = StandardSteps::Packet;
  for (const MailFormat& format : kMailFormats)
    if (format.standardSteps != StandardSteps::Packet &&
        jobParameterIs(run, "Format", std::string(format.code))) {
      steps = format.standardSteps;
      break;
    }
  switch (steps) {
    case StandardSteps::Letter:
      takeStep(run, *prices, "LeW1Fst", "LeW1Snd");
      break;
    case StandardSteps::LargeLetter:
      if (!walkSteps(run, *prices, "LLWgt", "LLW", 3)) takeStep(run, *prices, "LLW4Fst", "LLW4Snd");
      break;
    case StandardSteps::Packet:
      // Above the last limit no price is set.
      walkSteps(run, *prices, "PKWgt", "PKW", 9);
      break;
  }
}

}  // namespace ms
