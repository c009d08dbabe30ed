#include "sample_random.h"

#include <algorithm>

namespace ms::sample {

WeightedPick::WeightedPick(const std::vector<double>& weights) {
  double total = 0;
  totals_.reserve(weights.size());
  for (double w : weights) totals_.push_back(total += w);
}

std::size_t WeightedPick::operator()(SplitMix64& random) const {
  double target = random.uniform() * totals_.back();
  auto it = std::upper_bound(totals_.begin(), totals_.end(), target);
  if (it == totals_.end()) --it;
  return static_cast<std::size_t>(it - totals_.begin());
}

}  // namespace ms::sample
