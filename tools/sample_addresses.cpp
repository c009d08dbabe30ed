#include "sample_addresses.h"

namespace ms::sample {

namespace {

const std::vector<std::string> kTitles = {"Mr", "Mrs", "Ms", "Miss", "Dr"};
const std::vector<std::string> kFirstNames = {
    "James",  "Mary",  "John",     "Patricia", "Robert", "Jennifer", "Michael", "Linda",   "David",
    "Susan",  "Peter", "Margaret", "Andrew",   "Sarah",  "Ian",      "Helen",   "Stephen", "Karen",
    "Paul",   "Janet", "Gareth",   "Siân",     "Zoë",    "Renée",    "Hamish",  "Fiona",   "Rhys",
    "Eileen", "Colin", "Agnes",    "Graham",   "Ruth",   "Kevin",    "Joanne",  "Nigel",   "Bethan"};
const std::vector<std::string> kSurnames = {
    "Smith",      "Jones",     "Williams",  "Taylor",     "Brown",
    "Davies",     "Evans",     "Wilson",    "Thomas",     "Roberts",
    "Johnson",    "Lewis",     "Walker",    "Robinson",   "Wood",
    "Thompson",   "White",     "Watson",    "Jackson",    "Wright",
    "Green",      "Harris",    "Cooper",    "King",       "Lee",
    "Martin",     "Clarke",    "James",     "Morgan",     "Hughes",
    "Edwards",    "Hill",      "Moore",     "Clark",      "Harrison",
    "Scott",      "Young",     "Morris",    "Hall",       "Ward",
    "O'Brien",    "O'Neill",   "McDonald",  "MacLeod",    "Campbell",
    "Stewart",    "Fraser",    "Pritchard", "Llewellyn",  "Ap Rhys",
    "Fitzgerald", "Bannerman", "Ogilvie",   "Ramsbottom", "Featherstonehaugh",
    "Patel",      "Khan",      "Singh",     "Begum",      "Nowak",
    "Kowalski"};
const std::vector<std::string> kStreetNames = {
    "High",      "Station", "Church",     "Park",      "Victoria", "Green",       "Manor",     "Mill",
    "Queens",    "Kings",   "New",        "School",    "Grange",   "London",      "North",     "South",
    "West",      "East",    "Albert",     "Windsor",   "Chapel",   "Springfield", "Highfield", "Orchard",
    "Meadow",    "Beech",   "Oak",        "Elm",       "Willow",   "Ash",         "Cedar",     "Hawthorn",
    "Churchill", "Nelson",  "Wellington", "Trafalgar", "Bridge",   "Castle",      "Market",    "Priory"};
const std::vector<std::string> kStreetKinds = {"Road",    "Street",   "Avenue", "Close",   "Lane",
                                               "Drive",   "Crescent", "Way",    "Gardens", "Grove",
                                               "Terrace", "Place",    "Court",  "Row",     "Walk"};
const std::vector<std::string> kHouseNames = {"Rose Cottage", "The Old Rectory", "Ivy House", "Glenview",
                                              "Hillcrest",    "The Willows",     "Fernlea",   "Brookside"};
const std::vector<std::string> kLocalities = {
    "Westfield", "Northgate", "Hillside", "Broadmeadow", "Eastbrook", "Kingsway",  "Millbrook", "Oakwood",
    "Riverside", "Southend",  "Ashton",   "Newtown",     "Greenhill", "Fairfield", "Moorside"};
// Inward-code letters in use (no C, I, K, M, O, V).
const std::string kInwardLetters = "ABDEFGHJLNPQRSTUWXYZ";

struct Unmatched {
  const char* town;
  const char* county;
  const char* postcode;
};
// Places the network does not cover, and addresses the coding program
// could not read.
const Unmatched kUnmatched[] = {
    {"Belfast", "County Antrim", "BT1 5GS"},
    {"Londonderry", "County Londonderry", "BT48 6HQ"},
    {"Douglas", "Isle of Man", "IM1 1AA"},
    {"St Helier", "Jersey", "JE2 3QA"},
    {"St Peter Port", "Guernsey", "GY1 1WR"},
    {"Birmingam", "", ""},
    {"Manchster", "Lancs", "M"},
    {"", "", "NR33"},
    {"Lerwick", "Shetland", ""},
    {"Kirkwall", "Orkney", "KW15"},
};

}  // namespace

AddressGenerator::AddressGenerator(const SampleNetwork& network, std::uint64_t seed)
    : network_(network),
      random_(seed),
      pickDistrict_([&] {
        std::vector<double> weights;
        for (const Area& area : network.areas())
          for (const District& district : area.districts) weights.push_back(district.weight);
        return weights;
      }()),
      pickArea_([&] {
        std::vector<double> weights;
        for (const Area& area : network.areas()) {
          double total = 0;
          for (const District& district : area.districts) total += district.weight;
          weights.push_back(total);
        }
        return weights;
      }()) {
  for (const Area& area : network.areas())
    for (const District& district : area.districts) {
      districtArea_.push_back(&area);
      districts_.push_back(&district);
    }
}

std::string AddressGenerator::inwardLetters() {
  std::string letters;
  letters += kInwardLetters[random_.below(kInwardLetters.size())];
  letters += kInwardLetters[random_.below(kInwardLetters.size())];
  return letters;
}

void AddressGenerator::fillName(AddressRecord& record) {
  const std::string& surname = random_.pick(kSurnames);
  if (random_.chance(0.6)) {
    record.name = random_.pick(kTitles) + " " + random_.pick(kFirstNames).substr(0, 1) + " " + surname;
  } else {
    record.name = random_.pick(kFirstNames) + " " + surname;
  }
}

void AddressGenerator::fillStreet(AddressRecord& record) {
  std::string street = random_.pick(kStreetNames) + " " + random_.pick(kStreetKinds);
  std::string number = std::to_string(1 + random_.below(random_.chance(0.8) ? 120 : 400));
  std::vector<std::string> lines;
  double kind = random_.uniform();
  if (kind < 0.12) {
    lines.push_back("Flat " + std::to_string(1 + random_.below(24)));
    lines.push_back(number + " " + street);
  } else if (kind < 0.2) {
    lines.push_back(random_.pick(kHouseNames));
    lines.push_back(street);
  } else if (kind < 0.24) {
    lines.push_back("Unit " + std::to_string(1 + random_.below(40)) + ", " + random_.pick(kLocalities) +
                    " Business Park");
    lines.push_back(street);
  } else {
    lines.push_back(number + " " + street);
  }
  if (random_.chance(0.35)) lines.push_back(random_.pick(kLocalities));
  lines.resize(4);
  record.address1 = lines[0];
  record.address2 = lines[1];
  record.address3 = lines[2];
  record.address4 = lines[3];
}

AddressRecord AddressGenerator::next() {
  AddressRecord record;
  fillName(record);
  fillStreet(record);

  double kind = random_.uniform();
  if (kind < kNoneShare) {
    const Unmatched& place = kUnmatched[random_.below(std::size(kUnmatched))];
    record.match = Match::None;
    record.mscode = "1";
    record.seq = 1;
    record.town = place.town;
    record.county = place.county;
    record.postcode = place.postcode;
    record.pcflag = record.postcode.find(' ') != std::string::npos ? "F" : "O";
  } else if (kind < kNoneShare + kTownShare) {
    // Matched on the post town: the postcode names a district the network
    // does not know (new building), or is missing.
    const Area& area = network_.areas()[pickArea_(random_)];
    record.match = Match::Town;
    record.mscode = area.residue;
    record.rscode = area.residue;
    record.seq = std::stod(area.residue) * 1000;
    record.town = area.town;
    record.county = area.county;
    std::string outward = area.letters + std::to_string(area.districts.size() + 1 + random_.below(3));
    double form = random_.uniform();
    if (form < 0.5) {
      record.postcode = outward + " " + static_cast<char>('0' + random_.below(10)) + inwardLetters();
      record.pcflag = "F";
    } else if (form < 0.8) {
      record.postcode = outward;
      record.pcflag = "O";
    } else {
      record.pcflag = "O";
    }
  } else {
    std::size_t index = pickDistrict_(random_);
    const Area& area = *districtArea_[index];
    const District& district = *districts_[index];
    record.match = Match::Postcode;
    record.mscode = district.selection;
    record.seq = std::stod(district.selection);
    record.town = area.town;
    record.county = random_.chance(0.85) ? area.county : "";
    if (random_.chance(0.95)) {
      record.postcode = district.outward + " " + random_.pick(district.sectors) + inwardLetters();
      record.pcflag = "F";
    } else {
      record.postcode = district.outward;
      record.pcflag = "O";
    }
  }
  return record;
}

}  // namespace ms::sample
