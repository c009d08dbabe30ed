// The reference data of the sample job: a small but plausible Mailsort
// network of the UK. Postcode areas are post towns; each has a three-digit
// residue code and a region, and its districts are the Direct Selections,
// coded with the residue code and two more digits.
#pragma once

#include <string>
#include <vector>

namespace ms::sample {

struct District {
  std::string outward;        // "LE4"
  std::string selection;      // five-digit Mailsort code, e.g. "54104"
  std::vector<char> sectors;  // first inward digits in use, e.g. {'1','3','7'}
  double weight = 0;          // share of the mailing that falls here
};

struct Area {
  std::string letters;  // postcode area, "LE"
  std::string town;     // post town, "Leicester"
  std::string county;
  std::string residue;    // three-digit residue code, also the posting selection code
  int region = 0;         // 1..regionCount()
  bool hasRegion = true;  // false: left out of the region table (ranks 99)
  std::vector<District> districts;
};

class SampleNetwork {
 public:
  // The one network of the generator; it does not depend on the seed.
  static const SampleNetwork& uk();

  const std::vector<Area>& areas() const { return areas_; }
  int regionCount() const { return static_cast<int>(regionPlaces_.size()); }
  int selectionCount() const;

  // Region ranks for mail posted in `area`: two digits per region, region n
  // at characters 2n-1 and 2n; the home region ranks 01, the rest by
  // distance from it.
  std::string rankString(const Area& area) const;

  // Description of a Direct Selection and of a residue code.
  static std::string selectionLabel(const Area& area, const District& district);
  static std::string residueLabel(const Area& area);

  // The mailing house's own postcode: its sector is in the postcode table.
  std::string postingPostcode() const;

 private:
  SampleNetwork();
  struct Place {
    int x, y;
  };
  std::vector<Place> regionPlaces_;
  std::vector<Area> areas_;
};

}  // namespace ms::sample
