// Placeholder until this procedure is written.
#include "reports/planning/planning_report.h"

namespace ms {

void planrep(RunState&) {}

}  // namespace ms
