// The Start Dialog's run gate: a momentary exclusive open of the Mailsort
// Database that tells whether another option of the suite is running, and
// the Chain Mode test on the Job Parameters.
#pragma once

#include <string>

#include "store/database.h"

namespace ms {

enum class GateResult {
  Refused,    // another program holds the database: say so and end
  ChainMode,  // RunAlone is "Y": RunCodes is now "N", run at once
  Wait,       // wait for OK or Exit (also when the file or table is missing)
};

// The gate's message.
extern const char* const kGateMessage;

// The gate's message for `databasePath`, with a second sentence naming
// who holds the job where the system can tell ("The job is held by flock,
// process 4242, on this machine."). Best effort; it never waits for a lock.
std::string gateRefusalMessage(const std::string& databasePath = store::kMailsortDatabase);

// Opens `databasePath` exclusively, reads `RunAlone` of the first
// `parmcode` record and, when it is "Y", writes `RunCodes` = "N". The file
// is closed again before this returns. Only a database held elsewhere
// refuses; any other failure is silent and leaves the dialog waiting.
GateResult startGate(const std::string& databasePath = store::kMailsortDatabase);

}  // namespace ms
