#include "sample_options.h"

#include <gtest/gtest.h>

namespace ms::sample {
namespace {

bool parse(std::vector<std::string> args, SampleOptions& options, std::string& error) {
  return parseSampleArgs(args, options, error);
}

TEST(SampleOptions, ReadsEveryOptionAndKeepsTheDefaultsOtherwise) {
  SampleOptions options;
  std::string error;
  ASSERT_TRUE(parse({"--out", "/tmp/x"}, options, error)) << error;
  EXPECT_EQ(options.records, 20000);
  EXPECT_EQ(options.seed, 1u);
  EXPECT_FALSE(options.chain || options.geog || options.missingLabels);

  SampleOptions all;
  ASSERT_TRUE(parse({"--records", "1000000", "--chain", "--seed", "18446744073709551615", "--geog",
                     "--missing-labels", "--out", "d"},
                    all, error))
      << error;
  EXPECT_EQ(all.outDir, "d");
  EXPECT_EQ(all.records, 1000000);
  EXPECT_EQ(all.seed, 18446744073709551615ull);
  EXPECT_TRUE(all.chain && all.geog && all.missingLabels);
}

TEST(SampleOptions, RefusesWhatItDoesNotUnderstandWithAMessage) {
  const std::vector<std::vector<std::string>> bad = {
      {},                                  // no folder
      {"--records", "10"},                 // still no folder
      {"--out"},                           // folder missing
      {"--out", "d", "--records", "-5"},   // negative
      {"--out", "d", "--records", "12x"},  // not wholly a number
      {"--out", "d", "--records"},         // value missing
      {"--out", "d", "--seed", "-1"},      // negative seed
      {"--out", "d", "--chian"},           // misspelt
      {"--out", ""},                       // empty folder
  };
  for (const auto& args : bad) {
    SampleOptions options;
    std::string error;
    EXPECT_FALSE(parse(args, options, error)) << ::testing::PrintToString(args);
    EXPECT_FALSE(error.empty()) << ::testing::PrintToString(args);
  }
}

}  // namespace
}  // namespace ms::sample
