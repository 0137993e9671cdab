// `kurv simulate`: reproducible data whose groups, shares, censoring,
// missingness and count distributions are those asked for.
#include <gtest/gtest.h>

#include <cmath>
#include <numeric>

#include "cli/csv_reader.h"
#include "cli/data_file.h"
#include "cli/simulate.h"
#include "cli/user_error.h"
#include "cli_test_support.h"

using namespace kurv::cli;
using namespace kurv::cli::testing;

namespace {

SimulateOptions cnormOptions() {
  SimulateOptions o;
  o.model = "cnorm";
  o.groups = {"30:5,0.5", "70:20,-1"};
  o.times = {"1 2 3 4"};
  o.n = "4000";
  o.seed = "5";
  o.sigma = "2";
  o.min = "0";
  o.max = "22";
  return o;
}

}  // namespace

TEST(Simulate, SameSeedSameDataOtherSeedOtherData) {
  const SimulationPlan plan = parseSimulation(cnormOptions());
  EXPECT_EQ(toCsv(simulate(plan)), toCsv(simulate(plan)));
  SimulationPlan other = plan;
  other.seed = 6;
  EXPECT_NE(toCsv(simulate(plan)), toCsv(simulate(other)));
}

TEST(Simulate, SharesMeansAndCensoring) {
  const DataTable t = simulate(parseSimulation(cnormOptions()));
  ASSERT_EQ(t.names, (std::vector<std::string>{"id", "y1", "y2", "y3", "y4", "t1", "t2", "t3", "t4", "group"}));
  const auto& group = t.values[9];
  const double share1 = std::count(group.begin(), group.end(), 1.0) / 4000.0;
  // Binomial standard error sqrt(0.3 * 0.7 / 4000) = 0.0072: 4 of them.
  EXPECT_NEAR(share1, 0.3, 0.03);
  double sum = 0, n = 0, atMax = 0;
  for (std::size_t i = 0; i < t.rowCount(); ++i) {
    for (int j = 0; j < 4; ++j) {
      const double y = t.values[1 + j][i];
      EXPECT_GE(y, 0.0);
      EXPECT_LE(y, 22.0);
      EXPECT_EQ(y, std::round(y * 1000) / 1000);  // three decimals
      EXPECT_EQ(t.values[5 + j][i], j + 1.0);
    }
    if (group[i] == 1.0) {  // mean 5 + 0.5 t at t = 2 is 6, far from both bounds
      sum += t.values[2][i];
      ++n;
    } else {
      atMax += t.values[1][i] == 22.0;  // group 2 at t = 1: mean 19, sd 2: P(y > 22) = 0.067
    }
  }
  EXPECT_NEAR(sum / n, 6.0, 4 * 2.0 / std::sqrt(n));
  EXPECT_NEAR(atMax / (4000 - n), 0.0668, 0.02);
}

TEST(Simulate, MissingnessLogitAndZeroInflatedCounts) {
  SimulateOptions o;
  o.model = "zip";
  o.groups = {"1:1.0"};  // one group, Poisson mean e
  o.times = {"1", "2"};
  o.n = "5000";
  o.seed = "9";
  o.inflation = "0.25";
  o.missing = "0.1";
  const DataTable t = simulate(parseSimulation(o));
  double missing = 0, zeros = 0, sum = 0, count = 0;
  for (double y : t.values[1]) {
    if (isMissing(y)) {
      ++missing;
      continue;
    }
    EXPECT_EQ(y, std::floor(y));
    zeros += y == 0.0;
    sum += y;
    ++count;
  }
  EXPECT_NEAR(missing / 5000, 0.1, 0.02);
  // Zero-inflated Poisson: P(0) = 0.25 + 0.75 e^-e, mean 0.75 e.
  EXPECT_NEAR(zeros / count, 0.25 + 0.75 * std::exp(-std::exp(1.0)), 0.025);
  EXPECT_NEAR(sum / count, 0.75 * std::exp(1.0), 0.1);

  o.model = "logit";
  o.inflation = "0";
  o.missing = "0";
  o.groups = {"1:0"};  // probability 1/2
  const DataTable b = simulate(parseSimulation(o));
  const double ones = std::accumulate(b.values[1].begin(), b.values[1].end(), 0.0);
  EXPECT_NEAR(ones / 5000, 0.5, 0.03);
}

TEST(Simulate, LargePoissonMeansAreSplitWithoutUnderflow) {
  SimulateOptions o;
  o.model = "poisson";
  o.groups = {"1:6.9"};  // mean about 992, beyond Knuth's method in one piece
  o.times = {"0"};
  o.n = "400";
  o.seed = "2";
  const DataTable t = simulate(parseSimulation(o));
  const double mean = std::accumulate(t.values[1].begin(), t.values[1].end(), 0.0) / 400;
  EXPECT_NEAR(mean, std::exp(6.9), 4 * std::sqrt(std::exp(6.9) / 400));
}

TEST(Simulate, WritesCsvAndDtaWithTheSameValues) {
  TempDir dir;
  SimulateOptions o = cnormOptions();
  o.missing = "0.2";
  const DataTable t = simulate(parseSimulation(o));
  writeDataFile(t, dir.file("s.csv"));
  writeDataFile(t, dir.file("sub/s.dta"));
  const DataTable csv = readDataFile(dir.file("s.csv"));
  const DataTable dta = readDataFile(dir.file("sub/s.dta"));
  EXPECT_EQ(csv.values, t.values);
  EXPECT_EQ(dta.values, t.values);
  EXPECT_THROW(writeDataFile(t, dir.file("s.txt")), UserError);
}

TEST(Simulate, CommandLineAndItsErrors) {
  TempDir dir;
  const CliRun ok = runKurv({"simulate", "--model", "logit", "--groups", "50:-1,0.5", "50:1,-0.5", "--times", "1",
                             "2", "3", "--n", "20", "--seed", "1", "--out", dir.file("d.csv")});
  EXPECT_EQ(ok.code, 0) << ok.err;
  EXPECT_EQ(readDataFile(dir.file("d.csv")).rowCount(), 20u);
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{"--model", "probit"}, "kurv: --model: 'probit' is not cnorm, logit, zip or poisson"},
      {{"--groups", "50"}, "kurv: --groups: '50' is not SHARE:b0,b1,... (for example 40:10,2.5)"},
      {{"--groups", "0:1"}, "kurv: --groups: the share in '0:1' is not above 0"},
      {{"--groups", "1:1,2,3,4,5,6,7"}, "kurv: --groups: '1:1,2,3,4,5,6,7' needs 1 to 6 coefficients (intercept to quintic)"},
      {{"--n", "2.5"}, "kurv: --n: '2.5' is not a whole number of subjects"},
      {{"--min", "0"}, "kurv: --min and --max are censoring bounds of --model cnorm"},
      {{"--inflation", "0.2"}, "kurv: --inflation needs --model zip"},
      {{"--missing", "1"}, "kurv: --missing must be from 0 to below 1"},
      {{"--out", dir.file("d.xlsx")}, "kurv: --out must name a .csv or .dta file: " + dir.file("d.xlsx")},
  };
  for (const auto& [change, message] : cases) {
    // The base command with the option `change[0]` set to the value `change[1]`.
    std::vector<std::pair<std::string, std::string>> options = {
        {"--model", "logit"}, {"--groups", "1:0"}, {"--times", "1"}, {"--n", "5"}, {"--seed", "1"},
        {"--out", dir.file("e.csv")}};
    bool replaced = false;
    for (auto& [name, value] : options)
      if (name == change[0]) value = change[1], replaced = true;
    if (!replaced) options.emplace_back(change[0], change[1]);
    std::vector<std::string> words{"simulate"};
    for (const auto& [name, value] : options) {
      words.push_back(name);
      words.push_back(value);
    }
    const CliRun run = runKurv(words);
    EXPECT_EQ(run.code, 1) << message;
    EXPECT_EQ(run.err, message + "\n");
    EXPECT_FALSE(std::filesystem::exists(dir.file("e.csv")));
  }
}
