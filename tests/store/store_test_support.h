// Small helpers and the fixture shared by the store's tests.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "store/database.h"
#include "store/recordset.h"
#include "support/fixture_db.h"
#include "values/fault.h"

namespace ms::store {

using Strings = std::vector<std::string>;

// The fault a statement fails with (a test failure when it does not fail).
inline Fault faultOf(const std::function<void()>& statement) {
  try {
    statement();
  } catch (const RunError& e) {
    return e.fault();
  }
  ADD_FAILURE() << "the statement did not fail";
  return Fault::Engine;
}

// The values of one field from the current record to the end.
inline Strings walk(Recordset& recordset, const std::string& field) {
  Strings seen;
  for (; !recordset.eof(); recordset.moveNext()) seen.push_back(recordset.field(field).textOrEmpty());
  return seen;
}

// Saves `fields` into the current record, or into a new one when `append`.
inline void save(Recordset& recordset, const std::vector<std::pair<std::string, Value>>& fields,
                 bool append = false) {
  append ? recordset.addNew() : recordset.edit();
  for (const auto& [name, value] : fields) recordset.set(name, value);
  recordset.update();
}

// A fresh file made from the suite schema.
class StoreTest : public ::testing::Test {
 protected:
  void work(const std::string& name, const std::string& mscode, const Value& seq = Value()) {
    fixture.insert("kvwork", {{"Name", name}, {"mscode", mscode}, {"seq", seq}});
  }
  std::unique_ptr<Database> open(OpenMode mode = OpenMode::Shared) {
    return Database::open(fixture.path(), mode);
  }
  // Opens the file into `db` and its work table into `rs`, in the order of `index` if one is named.
  void openWork(const std::string& index = "") {
    db = open();
    rs = db->openTable("kvwork");
    if (!index.empty()) rs->setIndex(index);
  }
  ms::testing::TempDir dir;
  ms::testing::FixtureDb fixture{dir.path()};
  std::unique_ptr<Database> db;
  std::unique_ptr<Recordset> rs;
};

}  // namespace ms::store
