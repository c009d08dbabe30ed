// Moving a long pass on to its next record, so that no pass can turn twice
// on the same record.
#pragma once

#include <cstdint>
#include <limits>
#include <string>

namespace ms {

namespace store {
class Recordset;
}

// The place of the current record in the walk's order; past the last record
// it is kPastEnd, so that reaching the end always counts as moving on.
constexpr std::int64_t kPastEnd = std::numeric_limits<std::int64_t>::max();
std::int64_t placeOf(store::Recordset& walk);

// Moves `walk` to its next record. A move that fails, or one that does not
// leave the place it started from, is a fault of the table `table` (the
// table is damaged, or another program reorders it under the pass): it is
// recorded and false returned, and the pass must end.
bool advance(store::Recordset& walk, const std::string& table);

// Records that the walk over `table` went back to a place it had passed
// (another program reordered the table under it); the pass must end.
void recordWalkedBack(const std::string& table);

}  // namespace ms
