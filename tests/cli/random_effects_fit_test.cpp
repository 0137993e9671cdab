// `kurv fit ... --rorder`: a random-effects fit written to its files (the
// refusal of random effects on a model that is not cnorm is among the user
// errors).

#include <gtest/gtest.h>

#include "cli/cli_support.h"

namespace kurv::cli::testing {
namespace {

TEST(RandomEffectsFit, WritesEstimatesAndPlotSeries) {
  TempDir dir;
  const std::string data = std::string(KURV_FIXTURE_DIR) + "/randomeffects/two_groups.csv";
  const CliRun run = runKurv("fit " + data + " --var y1-y5 --indep t1-t5 --order 1 1 --rorder 1 0 --model cnorm --min 0 "
                             "--max 7 --out " + dir.path);
  ASSERT_EQ(run.code, 0) << run.err;
  const std::string json = readFile(dir.file("fit.json"));
  EXPECT_EQ(matches(json, "\"name\": ?\"(rSigmag1|rSigma1g1|rSigmag2)\""), 3) << json.substr(0, 400);
  // The header and one row per period.
  EXPECT_EQ(matches(readFile(dir.file("plot1.csv")), "\n"), 6);
}

}  // namespace
}  // namespace kurv::cli::testing
