#include "sample_options.h"

#include <gtest/gtest.h>

namespace ms::sample {
namespace {

TEST(SampleOptions, ReadsEveryOptionAndRefusesWhatItDoesNotUnderstand) {
  SampleOptions all;
  std::string error;
  ASSERT_TRUE(parseSampleArgs({"--records", "1000000", "--chain", "--seed", "18446744073709551615", "--geog",
                               "--missing-labels", "--out", "d"},
                              all, error))
      << error;
  EXPECT_EQ(all.outDir, "d");
  EXPECT_EQ(all.records, 1000000);
  EXPECT_EQ(all.seed, 18446744073709551615ull);
  EXPECT_TRUE(all.chain && all.geog && all.missingLabels);
  const std::vector<std::vector<std::string>> bad = {{},
                                                     {"--records", "10"},
                                                     {"--out"},
                                                     {"--out", ""},
                                                     {"--out", "d", "--records", "-5"},
                                                     {"--out", "d", "--records", "12x"},
                                                     {"--out", "d", "--records"},
                                                     {"--out", "d", "--seed", "-1"},
                                                     {"--out", "d", "--chian"}};
  for (const auto& args : bad) {
    SCOPED_TRACE(::testing::PrintToString(args));
    SampleOptions options;
    error.clear();
    EXPECT_FALSE(parseSampleArgs(args, options, error));
    EXPECT_FALSE(error.empty());
  }
}

}  // namespace
}  // namespace ms::sample
