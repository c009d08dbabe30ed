// The three Post Office files of the line report: POFILE.DAT (bags of each
// selection by its numeric code), POLINE.CSV (the printed lines) and
// POADDR.CSV (every address with its Mailsort code); and UNMATCHED.CSV, the
// addresses the coding program did not match, as POADDR.CSV has them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "reports/common/record_file.h"

namespace ms {

namespace store {
class Recordset;
}

// The code of a selection as POFILE.DAT holds it: the number its text
// begins with, rounded to a whole number, ties to the even one. Fails with
// Overflow outside the 32-bit range.
std::int32_t poFileCode(const std::string& code);

class PoFiles {
 public:
  // Starts POFILE.DAT, POLINE.CSV, POADDR.CSV and UNMATCHED.CSV anew, in
  // this order, in the current directory. A file that cannot be created is a fault, recorded
  // without stopping the others, and so is each of its records: the file
  // under that name is left as it was. The files are staged with
  // `publication` when closed.
  void open(Publication* publication);
  // One POADDR.CSV record for the current work record. Fails, writing
  // nothing, when a field cannot be read. Each write fails as
  // RecordFile::writeRecord does.
  void writeAddress(store::Recordset& work);
  // The record writeAddress() last made, again in UNMATCHED.CSV: for an
  // address the line report counts as not matched. Fails, writing nothing,
  // when that record could not be made.
  void writeUnmatched();
  // One POLINE.CSV record: six quoted texts, each with its blanks trimmed;
  // the code is cut to 5 characters and the description to 50.
  void writeLine(const std::string& code, const std::string& description, const std::string& items,
                 const std::string& cumItems, const std::string& bags, const std::string& cumBags);
  // One POFILE.DAT record: the code as poFileCode gives it and the bags.
  void writeBags(const std::string& code, double bags);
  // Puts the four files in place under their names; a file that could not
  // be written in full or put in place is a fault, recorded without stopping
  // the others.
  void close();

 private:
  RecordFile pofile_;
  RecordFile poline_;
  RecordFile poaddr_;
  RecordFile unmatched_;
  std::vector<std::string> address_;
  bool addressMade_ = false;  // address_ holds the current record's fields
};

}  // namespace ms
