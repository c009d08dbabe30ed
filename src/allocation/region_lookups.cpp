// Region ranks for the posting location: `getseq` once per run, `getreg`
// once for each work record that needs its region ranked.
#include "allocation/region_lookups.h"

#include <cmath>
#include <cstdint>
#include <string>

#include "run/run_state.h"
#include "values/fault.h"
#include "values/text_rules.h"

namespace ms {

namespace {

// Character `position` (from 1) of a text, as a one-character fixed field
// holds it: a space past the end of the text.
std::string characterAt(const std::string& text, unsigned position) {
  std::string c = midChars(text, position, 1);
  return c.empty() ? std::string(" ") : c;
}

// The next value of an unsigned 8-bit counter; it cannot pass 255.
std::uint8_t nextByte(std::uint8_t counter) {
  if (counter == 255) throw RunError(Fault::Overflow, "Overflow");
  return static_cast<std::uint8_t>(counter + 1);
}

// The posting sector: the postcode up to and including its first space and
// the one character after it, built one character at a time with a
// one-character buffer. A postcode without a space gives the whole text and
// two spaces.
std::string postingSector(const std::string& postcode) {
  std::string buffer = characterAt(postcode, 1);
  std::string sector;
  bool spaceSeen = false;
  std::uint8_t i = 1;
  while (!spaceSeen) {
    if (buffer == " ") spaceSeen = true;
    buffer = characterAt(postcode, i);
    sector += buffer;
    i = nextByte(i);
  }
  return sector;
}

// The posting district: the characters before the first space (the end of
// the text reads as a space).
std::string postingDistrict(const std::string& postcode) {
  std::string district;
  std::uint8_t i = 1;
  for (std::string buffer = characterAt(postcode, i); buffer != " "; buffer = characterAt(postcode, i)) {
    district += buffer;
    i = nextByte(i);
  }
  return district;
}

// Start position of region `mdreg` in `sortcodes`: 2 x mdreg - 1 held as an
// unsigned 8-bit number, which must point at a character (1 to 255).
unsigned startPosition(double mdreg) {
  double start = std::nearbyint(2 * mdreg - 1);  // a byte takes the nearest whole number, halves to even
  if (!(start >= 0 && start <= 255)) throw RunError(Fault::Overflow, "Overflow");
  if (start < 1) throw RunError(Fault::Engine, "Invalid procedure call or argument");
  return static_cast<unsigned>(start);
}

store::Database& database(RunState& run) {
  if (!run.mdb) throw RunError(Fault::Engine, "The Mailsort Database is not open");
  return *run.mdb;
}

}  // namespace

void getseq(RunState& run) {
  if (!run.parmrs) throw RunError(Fault::Engine, "The Job Parameters are not open");
  Value postcodeValue = run.parmrs->field("postcode");
  // A job without a posting postcode has no Posting Selection: its regions
  // cannot be ranked, and `sortcodes` is left as it was.
  if (postcodeValue.isNull()) return;
  const std::string postcode = postcodeValue.text();

  std::string sector = postingSector(postcode);
  auto pcode = database(run).openTable("pcode");
  pcode->setIndex("PrimaryKey");
  pcode->seek(Value(sector));
  if (pcode->noMatch()) pcode->seek(Value(postingDistrict(postcode)));
  if (pcode->noMatch()) return;

  Value mdsel = pcode->field("mdsel");
  if (mdsel.isNull()) return;  // a sector or district without a selection
  FixedField postingSelection(3);
  postingSelection.lset(mdsel.text());
  pcode.reset();

  auto sequence = database(run).openTable("sequence");
  sequence->setIndex("PrimaryKey");
  sequence->seek(Value(postingSelection.str()));
  // A selection without ranks leaves `sortcodes` as it was; the run decides
  // what an unranked job may do.
  if (sequence->noMatch()) return;
  Value mdsorts = sequence->field("mdsorts");
  if (mdsorts.isNull()) return;
  run.sortcodes = mdsorts.text();
}

void getreg(RunState& run) {
  if (!run.workrs) throw RunError(Fault::Engine, "The work table is not open");
  store::Recordset& work = *run.workrs;
  FixedField residueKey(3);
  residueKey.lset(work.field("mscode").text());
  const std::string& key = residueKey.str();

  auto known = run.regions.find(key);
  if (known == run.regions.end()) {
    auto region = database(run).openTable("region");
    region->setIndex("PrimaryKey");
    region->seek(Value(key));
    std::optional<Value> mdreg;
    if (!region->noMatch()) mdreg = region->field("mdreg");
    known = run.regions.emplace(key, std::move(mdreg)).first;
  }
  if (!known->second) {
    work.set("rgcode", Value(99));
    return;
  }
  unsigned start = startPosition(known->second->number());
  work.set("rgcode", Value(midChars(run.sortcodes, start, 2)));
}

}  // namespace ms
