// Placeholder until this procedure is written.
#include "allocation/bags_table.h"

namespace ms {

void newfile(RunState&) {}

}  // namespace ms
