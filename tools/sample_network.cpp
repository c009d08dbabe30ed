#include "sample_network.h"

#include <algorithm>
#include <cmath>
#include <numeric>

#include "sample_random.h"

namespace ms::sample {

namespace {

struct AreaSeed {
  const char* letters;
  const char* town;
  const char* county;
  int region;
};

// Regions: 1 Scotland, 2 North East, 3 North West, 4 Yorkshire, 5 Midlands,
// 6 Wales, 7 East Anglia, 8 South West, 9 London, 10 South East.
const AreaSeed kAreas[] = {
    {"AB", "Aberdeen", "Aberdeenshire", 1},
    {"DD", "Dundee", "Angus", 1},
    {"EH", "Edinburgh", "Midlothian", 1},
    {"G", "Glasgow", "Lanarkshire", 1},
    {"IV", "Inverness", "Inverness-shire", 1},
    {"NE", "Newcastle upon Tyne", "Tyne and Wear", 2},
    {"SR", "Sunderland", "Tyne and Wear", 2},
    {"DH", "Durham", "County Durham", 2},
    {"TS", "Middlesbrough", "Cleveland", 2},
    {"M", "Manchester", "Greater Manchester", 3},
    {"L", "Liverpool", "Merseyside", 3},
    {"PR", "Preston", "Lancashire", 3},
    {"CA", "Carlisle", "Cumbria", 3},
    {"LS", "Leeds", "West Yorkshire", 4},
    {"S", "Sheffield", "South Yorkshire", 4},
    {"YO", "York", "North Yorkshire", 4},
    {"HU", "Hull", "East Yorkshire", 4},
    {"B", "Birmingham", "West Midlands", 5},
    {"CV", "Coventry", "West Midlands", 5},
    {"NG", "Nottingham", "Nottinghamshire", 5},
    {"LE", "Leicester", "Leicestershire", 5},
    {"DE", "Derby", "Derbyshire", 5},
    {"ST", "Stoke-on-Trent", "Staffordshire", 5},
    {"CF", "Cardiff", "South Glamorgan", 6},
    {"SA", "Swansea", "West Glamorgan", 6},
    {"LL", "Llandudno", "Gwynedd", 6},
    {"NR", "Norwich", "Norfolk", 7},
    {"IP", "Ipswich", "Suffolk", 7},
    {"CB", "Cambridge", "Cambridgeshire", 7},
    {"PE", "Peterborough", "Cambridgeshire", 7},
    {"BS", "Bristol", "Avon", 8},
    {"EX", "Exeter", "Devon", 8},
    {"PL", "Plymouth", "Devon", 8},
    {"TR", "Truro", "Cornwall", 8},
    {"EC", "London", "London", 9},
    {"SW", "London", "London", 9},
    {"N", "London", "London", 9},
    {"BN", "Brighton", "East Sussex", 10},
    {"RG", "Reading", "Berkshire", 10},
    {"OX", "Oxford", "Oxfordshire", 10},
    {"SO", "Southampton", "Hampshire", 10},
    {"CT", "Canterbury", "Kent", 10},
};

// Rough positions of the regions on a map, for ranking them by distance.
const int kRegionPlaces[][2] = {{3, 9}, {5, 7}, {3, 6}, {5, 6}, {4, 4},
                                {2, 4}, {7, 4}, {2, 1}, {6, 2}, {7, 1}};

// Areas whose residue code the region table leaves out.
bool leftOutOfRegions(const std::string& letters) {
  return letters == "CA" || letters == "LL" || letters == "TR";
}

const char* const kPostingArea = "LE";

std::string twoDigits(int n) {
  std::string text = std::to_string(n);
  return text.size() < 2 ? "0" + text : text;
}

}  // namespace

SampleNetwork::SampleNetwork() {
  for (const auto& place : kRegionPlaces) regionPlaces_.push_back({place[0], place[1]});

  int i = 0;
  for (const AreaSeed& seed : kAreas) {
    Area area;
    area.letters = seed.letters;
    area.town = seed.town;
    area.county = seed.county;
    area.region = seed.region;
    area.hasRegion = !leftOutOfRegions(area.letters);
    area.residue = std::to_string(110 + 21 * i);
    int districtCount = 4 + (i * 5) % 7;
    for (int j = 1; j <= districtCount; ++j) {
      District district;
      district.outward = area.letters + std::to_string(j);
      district.selection = area.residue + twoDigits(j);
      int sectorCount = 2 + (i * 3 + j) % 5;
      int start = (i + j) % 10;
      for (int s = 0; s < sectorCount; ++s)
        district.sectors.push_back(static_cast<char>('0' + (start + 3 * s) % 10));
      area.districts.push_back(district);
    }
    areas_.push_back(area);
    ++i;
  }

  // Selection sizes: a Zipf-like spread over a fixed shuffle of the
  // districts, with every seventh one made rare, so that a job of any size
  // has selections below the minimum as well as large ones.
  std::vector<District*> all;
  for (Area& area : areas_)
    for (District& district : area.districts) all.push_back(&district);
  SplitMix64 shuffle(0x5EEDF00Dull);
  for (std::size_t k = all.size(); k > 1; --k) std::swap(all[k - 1], all[shuffle.below(k)]);
  for (std::size_t k = 1; k <= all.size(); ++k)
    all[k - 1]->weight = std::pow(static_cast<double>(k), -0.9) * (k % 7 == 0 ? 0.01 : 1.0);
}

const SampleNetwork& SampleNetwork::uk() {
  static const SampleNetwork network;
  return network;
}

int SampleNetwork::selectionCount() const {
  int count = 0;
  for (const Area& area : areas_) count += static_cast<int>(area.districts.size());
  return count;
}

std::string SampleNetwork::rankString(const Area& area) const {
  const Place& home = regionPlaces_[area.region - 1];
  std::vector<int> order(regionPlaces_.size());
  std::iota(order.begin(), order.end(), 0);
  auto distance = [&](int r) {
    int dx = regionPlaces_[r].x - home.x, dy = regionPlaces_[r].y - home.y;
    return dx * dx + dy * dy;
  };
  std::stable_sort(order.begin(), order.end(), [&](int a, int b) { return distance(a) < distance(b); });
  std::vector<int> rank(regionPlaces_.size());
  for (std::size_t position = 0; position < order.size(); ++position)
    rank[order[position]] = static_cast<int>(position) + 1;
  std::string text;
  for (int r : rank) text += twoDigits(r);
  return text;
}

std::string SampleNetwork::selectionLabel(const Area& area, const District& district) {
  return area.town + " " + district.outward;
}

std::string SampleNetwork::residueLabel(const Area& area) {
  if (area.town == "London") return "London " + area.letters + " Residue";
  return area.town + " Residue";
}

std::string SampleNetwork::postingPostcode() const {
  for (const Area& area : areas_)
    if (area.letters == kPostingArea) {
      const District& district = area.districts.front();
      return district.outward + " " + district.sectors.front() + "TZ";
    }
  return {};
}

}  // namespace ms::sample
