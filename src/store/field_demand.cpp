#include "store/field_demand.h"

#include <algorithm>

namespace ms::store {

void FieldDemand::narrow(const std::vector<KeyColumn>& key) {
  const std::size_t columns = asked_.size();
  wanted_.assign(columns, 0);
  for (const KeyColumn& column : key)
    if (column.column >= 0) wanted_[static_cast<std::size_t>(column.column)] = 1;
  for (std::size_t i = 0; i < columns; ++i)
    if (alone_ ? asks_[i] > 0 && asks_[i] * 2 >= served_ : asked_[i] != 0) wanted_[i] = 1;
  unwanted_.resize(columns);
  for (std::size_t i = 0; i < columns; ++i) unwanted_[i] = !wanted_[i];
  std::fill(asks_.begin(), asks_.end(), 0u);
  served_ = 0;
}

}  // namespace ms::store
