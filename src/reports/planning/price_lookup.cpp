// Placeholder until this procedure is written.
#include "reports/planning/price_lookup.h"

namespace ms {

void getprc(RunState&) {}

}  // namespace ms
