#include "reports/line/po_files.h"

#include <cmath>
#include <vector>

#include "store/recordset.h"
#include "values/fault.h"
#include "values/text_rules.h"
#include "values/value.h"

namespace ms {

namespace {

const char* const kAddressFields[] = {"Name",     "Address1", "Address2", "Address3",
                                      "Address4", "town",     "county",   "postcode"};

}  // namespace

std::int32_t poFileCode(const std::string& code) {
  // The current rounding mode is to nearest, ties to even.
  const double whole = std::nearbyint(Val(code));
  if (!(whole >= -2147483648.0 && whole <= 2147483647.0)) throw RunError(Fault::Overflow, "Overflow");
  return static_cast<std::int32_t>(whole);
}

void PoFiles::open(Publication* publication) {
  attempt([&] { pofile_.open("POFILE.DAT", publication); });
  attempt([&] { poline_.open("POLINE.CSV", publication); });
  attempt([&] { poaddr_.open("POADDR.CSV", publication); });
  attempt([&] { unmatched_.open("UNMATCHED.CSV", publication); });
}

void PoFiles::writeAddress(store::Recordset& work) {
  // One record for every address: the fields keep their room from record to record.
  address_.resize(11);
  addressMade_ = false;
  std::size_t n = 0;
  for (const char* name : kAddressFields) quoteInto(address_[n++], work.field(name).textOrEmpty());
  quoteInto(address_[n++], "");
  quoteInto(address_[n++], "");
  quoteInto(address_[n], work.field("mscode").textOrEmpty());
  addressMade_ = true;
  poaddr_.writeRecord(address_);
}

void PoFiles::writeUnmatched() {
  if (!addressMade_) throw RunError(Fault::Engine, "the address could not be read", "kvwork");
  unmatched_.writeRecord(address_);
}

void PoFiles::writeLine(const std::string& code, const std::string& description, const std::string& items,
                        const std::string& cumItems, const std::string& bags, const std::string& cumBags) {
  poline_.writeRecord({quoted(trim(leftChars(code, 5))), quoted(trim(leftChars(description, 50))),
                       quoted(trim(items)), quoted(trim(cumItems)), quoted(trim(bags)),
                       quoted(trim(cumBags))});
}

void PoFiles::writeBags(const std::string& code, double bags) {
  pofile_.writeRecord({std::to_string(poFileCode(code)), plainText(bags)});
}

void PoFiles::close() {
  attempt([&] { pofile_.close(); });
  attempt([&] { poline_.close(); });
  attempt([&] { poaddr_.close(); });
  attempt([&] { unmatched_.close(); });
}

}  // namespace ms
