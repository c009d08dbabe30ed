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

void PoFiles::open() {
  attempt([&] { pofile_.open("POFILE.DAT"); });
  attempt([&] { poline_.open("POLINE.CSV"); });
  attempt([&] { poaddr_.open("POADDR.CSV"); });
}

void PoFiles::writeAddress(store::Recordset& work) {
  std::vector<std::string> fields;
  fields.reserve(11);
  for (const char* name : kAddressFields) fields.push_back(quoted(work.field(name).textOrEmpty()));
  fields.push_back(quoted(""));
  fields.push_back(quoted(""));
  fields.push_back(quoted(work.field("mscode").textOrEmpty()));
  poaddr_.writeRecord(fields);
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
}

}  // namespace ms
