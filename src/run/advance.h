// Moving a long pass on to its next record, so that no pass can turn twice
// on the same record.
#pragma once

#include <string>

namespace ms {

namespace store {
class Recordset;
}

// Moves `walk` to its next record (a move always goes forward in the walk's
// order). A move that fails is a fault of the table `table` (damaged, or
// held by another program past the wait): it is recorded, false returned,
// and the pass must end rather than turn again on the same record.
bool advance(store::Recordset& walk, const std::string& table);

// Records that the walk over `table` was sent back to a place it had passed
// (its order changed under the pass); the pass must end.
void recordWalkedBack(const std::string& table);

}  // namespace ms
