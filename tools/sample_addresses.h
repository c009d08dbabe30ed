// Coded addresses as the suite's coding program leaves them in the work
// table: most matched at postcode level, some on the post town, some not
// matched at all.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sample_network.h"
#include "sample_random.h"

namespace ms::sample {

enum class Match { Postcode, Town, None };

struct AddressRecord {
  Match match = Match::None;
  std::string mscode;  // five digits, three digits (town match) or "1"
  std::string rscode;  // empty unless matched on the post town
  double seq = 0;      // the code as a number; x 1000 for a town match
  std::string pcflag;  // "F" full postcode, "O" outward code only
  std::string name, address1, address2, address3, address4, town, county, postcode;
};

class AddressGenerator {
 public:
  // Shares of the mailing that the coding program matched on the post town
  // and did not match.
  static constexpr double kTownShare = 0.07;
  static constexpr double kNoneShare = 0.05;

  AddressGenerator(const SampleNetwork& network, std::uint64_t seed);
  AddressRecord next();

 private:
  void fillName(AddressRecord& record);
  void fillStreet(AddressRecord& record);
  std::string inwardLetters();

  const SampleNetwork& network_;
  SplitMix64 random_;
  std::vector<const Area*> districtArea_;
  std::vector<const District*> districts_;
  WeightedPick pickDistrict_;
  WeightedPick pickArea_;
};

}  // namespace ms::sample
