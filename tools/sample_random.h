// A small random source with a fixed algorithm for the sample job, so that a seed
// gives the same file on every machine and compiler (std:: distributions do
// not promise that).
#pragma once

#include <cstdint>
#include <vector>

namespace ms::sample {

// SplitMix64: one 64-bit state, one multiply-xorshift output step.
class SplitMix64 {
 public:
  explicit SplitMix64(std::uint64_t seed) : state_(seed) {}

  std::uint64_t next() {
    std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }

  // Uniform in [0, 1) with 53 random bits.
  double uniform() { return static_cast<double>(next() >> 11) * 0x1.0p-53; }

  // Uniform in [0, n); n must be above 0. The slight modulo bias does not
  // matter for sample data.
  std::uint64_t below(std::uint64_t n) { return next() % n; }

  // True with probability p.
  bool chance(double p) { return uniform() < p; }

  template <class T>
  const T& pick(const std::vector<T>& items) {
    return items[static_cast<std::size_t>(below(items.size()))];
  }

 private:
  std::uint64_t state_;
};

// Picks an index in proportion to fixed weights, by binary search over their
// running totals.
class WeightedPick {
 public:
  explicit WeightedPick(const std::vector<double>& weights);
  std::size_t operator()(SplitMix64& random) const;
  std::size_t size() const { return totals_.size(); }

 private:
  std::vector<double> totals_;
};

}  // namespace ms::sample
