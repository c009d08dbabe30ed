// Saves kept back by a run: a record saved again, whatever kind of value
// each save holds, reads back as the last value saved, through a cursor
// while the saves are kept and from the file after the sweep has written
// them; a field the second save leaves alone keeps its first value.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <tuple>

#include "store/database.h"
#include "store/recordset.h"
#include "support/fixture_db.h"

namespace ms::store {
namespace {

TEST(DeferredSaves, ARecordSavedAgainReadsAsTheLastSaveWhateverItsKind) {
  const std::string longText = "a text longer than eight bytes",
                    otherLong = "another long text, longer still";
  const std::tuple<Value, Value> cases[] = {
      // first save, second save: the second is read back
      {1.5, "abc"},     {"abc", Value()}, {Value(), 7.0},        {2.0, Value()},    {Value(), "xy"},
      {longText, "ab"}, {"ab", longText}, {longText, otherLong}, {longText, 3.0},   {4.0, longText},
      {"", 5.0},        {"12345678", ""}, {Value(), Value()},    {"text", "other"}, {6.0, 7.0},
  };
  ms::testing::TempDir dir;
  ms::testing::FixtureDb fixture(dir.path());
  // Fields without a type keep whatever kind they are given.
  fixture.exec("CREATE TABLE kept (n INTEGER, v, w)");
  const auto count = static_cast<int>(std::size(cases));
  for (int n = 0; n < count; ++n) fixture.insert("kept", {{"n", n}});

  auto db = Database::open(fixture.path(), OpenMode::Shared);
  db->beginRun();
  db->deferSaves("kept", {"v", "w"}, 100);
  auto pass = db->openTable("kept");
  for (const auto& [first, second] : cases) {
    pass->edit();
    pass->set("v", first);
    pass->set("w", first);
    pass->update();
    pass->edit();
    pass->set("v", second);
    pass->update();
    pass->moveNext();
  }
  auto check = [&](const std::function<Value(int, const char*)>& read) {
    for (int n = 0; n < count; ++n) {
      const auto& [first, second] = cases[n];
      SCOPED_TRACE(::testing::PrintToString(first) + " then " + ::testing::PrintToString(second));
      EXPECT_EQ(read(n, "v"), second);
      EXPECT_EQ(read(n, "w"), first);
    }
  };
  auto reader = db->openTable("kept");
  check([&](int n, const char* field) {
    reader->moveFirst();
    for (int i = 0; i < n; ++i) reader->moveNext();
    return reader->field(field);
  });
  db->commitRun();
  db->close();
  check([&](int n, const char* field) {
    return fixture.scalar(std::string("SELECT ") + field + " FROM kept WHERE n = " + std::to_string(n));
  });
}

}  // namespace
}  // namespace ms::store
