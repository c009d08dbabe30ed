// Which fields a walk reads with its rows: after a walk that asks for some
// fields on some of its rows, what it wants, and what the asks of its last row need.
#include "store/field_demand.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace ms::store {
namespace {

// Field `field` asked for on rows first, first + every, ... up to last.
struct Asks {
  std::size_t field, first, every, last;
};

TEST(FieldDemand, WhatAWalkWantsAndWhatTheAsksOfItsLastRowNeed) {
  constexpr std::size_t N = 300;  // rows walked; a last row of N: to the end
  const std::vector<KeyColumn> key{{.column = 0, .sqlName = {}, .collation = {}}};
  struct Case {
    const char* what;
    bool alone;
    std::size_t walked;
    std::vector<Asks> asks;
    std::string wanted;  // empty: every field
    std::string last;    // per ask of the last row: Held (H, or - before narrowing), ThisRow, FromNowOn
  } cases[] = {
      {"the first rows read every field", true, 60, {{1, 0, 1, N}, {2, 3, 7, N}}, "", "--"},
      {"the rows after them the key alone", true, 64, {{2, 63, 1, N}}, "1000", "H"},
      {"then the key alone", true, N, {}, "1000", ""},
      {"and those asked on half of them", true, N, {{1, 0, 1, N}, {2, 2, 3, N}, {3, 0, 2, N}}, "1101", "HT"},
      {"judged again after as many rows", true, 150, {{2, 64, 1, 99}}, "1000", ""},
      {"a field asked no more is read alone", true, N, {{1, 0, 1, 100}, {1, 299, 1, N}}, "1000", "T"},
      {"asked twice on a row, read once", true, N, {{2, 299, 1, N}, {2, 299, 1, N}}, "1000", "TH"},
      {"one order keeps any field asked", false, N, {{2, 10, 1, 10}, {3, 299, 1, N}}, "1011", "F"},
      {"and reads it from then on", false, N, {{3, 298, 1, N}}, "1001", "H"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    FieldDemand demand(4, c.alone);
    std::string last;
    for (std::size_t row = 0; row < c.walked; ++row) {
      // A cursor reads ahead every 100 rows.
      if (row % 100 == 0 && demand.narrowsAgain()) demand.narrow(key);
      if (demand.rowServed()) demand.narrow(key);
      last.clear();
      for (const Asks& a : c.asks) {
        if (row < a.first || row > a.last || (row - a.first) % a.every != 0) continue;
        const FieldDemand::Ask ask = demand.ask(a.field);
        if (ask == FieldDemand::Ask::ThisRow) demand.heldWhole();
        const bool held = ask == FieldDemand::Ask::Held;
        last += held && !demand.narrowed() ? '-' : "HTF"[static_cast<int>(ask)];
      }
    }
    std::string wanted, unwanted;
    for (std::size_t i = 0; i < demand.wanted().size(); ++i) {
      wanted += demand.wanted()[i] ? '1' : '0';
      unwanted += demand.unwanted()[i] ? '0' : '1';
    }
    EXPECT_EQ((std::vector{wanted, unwanted, last}), (std::vector{c.wanted, c.wanted, c.last}));
  }
}

}  // namespace
}  // namespace ms::store
