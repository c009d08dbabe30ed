// The label program started as the program starts every other: through Qt,
// detached, so that it outlives the run.
#pragma once

#include <string>

#include "job/run_driver.h"

namespace ms {

class QtProgramStarter : public ProgramStarter {
 public:
  bool startDetached(const std::string& path) override;
};

}  // namespace ms
