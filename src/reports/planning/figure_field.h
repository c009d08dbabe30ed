// Figures of the planning report in their fixed-width fields.
#pragma once

#include <cstddef>

#include "values/fault.h"
#include "values/text_rules.h"

namespace ms {

// Fills `field` right-aligned with the text that `make` gives. Making the
// text is one statement: when it fails the field keeps what it held, which
// for a field never filled is characters of code zero.
template <class Make>
void fillRight(FixedField& field, Make&& make) {
  attempt([&] { field.rset(make()); });
}

// A new field of `width` characters filled right-aligned by `make`.
template <class Make>
FixedField figure(std::size_t width, Make&& make) {
  FixedField field(width);
  fillRight(field, make);
  return field;
}

}  // namespace ms
