// Reading back the PDFs the program writes.
#pragma once

#include <string>
#include <string_view>

namespace ms {

// Appends what is left of the open file `fd` to `text`; false when a read
// failed (errno tells why).
bool readRest(int fd, std::string& text);

// Whether the last 64 bytes of `pdf` (all of it, when shorter) hold the
// end-of-file mark that a PDF writer writes last: a PDF cut short by a full
// disk has none.
bool endsAsPdf(std::string_view pdf);

}  // namespace ms
