// "Costs and Discounts": the last section of the planning report, pricing
// the job from its row of the Mailsort tariff `price` and comparing it with
// standard postage.
#pragma once

namespace ms {

struct RunState;
class ReportLines;
class FixedField;

// Prints the section from its heading to the saving. `suitable` is the
// number of items suitable for Mailsort and `suitableField` the field it was
// printed in above. Sets `pricekey` and `itemweight`, calls `getprc` and
// `round`. Every statement that fails is skipped; nothing is written to the
// database.
void printCosts(RunState& run, ReportLines& out, double suitable, const FixedField& suitableField);

}  // namespace ms
