// Placeholder until this procedure is written.
#include "reports/line/line_report.h"

namespace ms {

void linerep(RunState&) {}

}  // namespace ms
