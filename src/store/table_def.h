// A table definition: named double-precision fields and named indexes,
// appended to the database in one step.
#pragma once

#include <string>
#include <vector>

namespace ms::store {

struct IndexDef {
  std::string name;  // "PrimaryKey" becomes the table's primary key
  std::vector<std::string> fields;
  bool primary = false;
  bool unique = false;
};

struct TableDef {
  std::string name;
  std::vector<std::string> fields;  // all of the engine's double-precision type
  std::vector<IndexDef> indexes;
};

}  // namespace ms::store
