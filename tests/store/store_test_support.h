// Small helpers shared by the store's tests.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "store/fault.h"
#include "store/recordset.h"

namespace ms::store {

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
inline std::vector<std::string> walk(Recordset& recordset, const std::string& field) {
  std::vector<std::string> seen;
  for (; !recordset.eof(); recordset.moveNext()) seen.push_back(recordset.field(field).textOrEmpty());
  return seen;
}

}  // namespace ms::store
