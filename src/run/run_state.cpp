#include "run/run_state.h"

#include "values/fault.h"
#include "values/rounding.h"
#include "values/text_rules.h"

namespace ms {

void RunState::round() {
  roundout.clear();
  roundout = roundText(roundin, roundplaces);
}

bool RunState::regionalSequencing() const {
  if (!parmrs) throw RunError(Fault::Engine, "The Job Parameters are not open");
  Value service = parmrs->field("service");
  Value geog = parmrs->field("Geog");
  if (service.isNull()) return false;
  std::string code = service.text();
  bool secondIsOne = charCount(code) >= 2 && leftChars(code, 2).substr(leftChars(code, 1).size()) == "1";
  return secondIsOne && isY(geog);
}

}  // namespace ms
