// `kurv simulate`: the same data for the same seed, and data whose groups,
// shares, censoring, missingness and count distributions are those asked for.
// Statistical checks allow at least four standard errors of the sample.
#include <gtest/gtest.h>

#include <cmath>
#include <numeric>

#include "cli/data_file.h"
#include "cli/simulate.h"
#include "cli/user_error.h"
#include "cli_support.h"

using namespace kurv::cli;
using namespace kurv::cli::testing;

namespace {

SimulationPlan plan(const std::string& model, std::vector<std::string> groups, std::vector<std::string> times,
                    const std::string& n, const std::string& seed) {
  SimulateOptions o;
  o.model = model;
  o.groups = std::move(groups);
  o.times = std::move(times);
  o.n = n;
  o.seed = seed;
  return parseSimulation(o);
}

double mean(const std::vector<double>& v) { return std::accumulate(v.begin(), v.end(), 0.0) / v.size(); }

}  // namespace

TEST(Simulate, SameSeedSameDataInEveryFormat) {
  TempDir dir;
  const std::string command = "simulate --model cnorm --groups 30:5,0.5 70:20,-1 --times 1 2 3 4 --n 300 --sigma 2 "
                              "--min 0 --max 22 --missing 0.2 --seed ";
  for (const char* out : {"5 --out @a.csv", "5 --out @b.csv", "5 --out @sub/c.dta", "6 --out @d.csv"})
    ASSERT_EQ(runKurv(command + out, &dir).code, 0);
  EXPECT_EQ(readFile(dir.file("a.csv")), readFile(dir.file("b.csv")));
  EXPECT_NE(readFile(dir.file("a.csv")), readFile(dir.file("d.csv")));
  EXPECT_EQ(readDataFile(dir.file("a.csv")).values, readDataFile(dir.file("sub/c.dta")).values);
}

TEST(Simulate, CensoredNormalGroupsSharesAndMeans) {
  SimulationPlan p = plan("cnorm", {"30:5,0.5", "70:20,-1"}, {"1 2 3 4"}, "4000", "5");
  p.sigma = 2, p.hasMin = p.hasMax = true, p.min = 0, p.max = 22;
  const DataTable t = simulate(p);
  ASSERT_EQ(t.names, (std::vector<std::string>{"id", "y1", "y2", "y3", "y4", "t1", "t2", "t3", "t4", "group"}));
  const auto& group = t.values[9];
  // Binomial standard error sqrt(0.3 * 0.7 / 4000) = 0.0072.
  EXPECT_NEAR(std::count(group.begin(), group.end(), 1.0) / 4000.0, 0.3, 0.03);
  double sum = 0, n = 0, atMax = 0;
  for (std::size_t i = 0; i < t.rowCount(); ++i) {
    for (int j = 0; j < 4; ++j) {
      const double y = t.values[1 + j][i];
      EXPECT_TRUE(y >= 0 && y <= 22 && y == std::round(y * 1000) / 1000) << y;  // censored, three decimals
      EXPECT_EQ(t.values[5 + j][i], j + 1.0);
    }
    if (group[i] == 1.0) {  // mean 5 + 0.5 t = 6 at t = 2, far from both bounds
      sum += t.values[2][i];
      ++n;
    } else {
      atMax += t.values[1][i] == 22.0;  // group 2 at t = 1: mean 19, sd 2, P(y > 22) = 0.0668
    }
  }
  EXPECT_NEAR(sum / n, 6.0, 4 * 2.0 / std::sqrt(n));
  EXPECT_NEAR(atMax / (4000 - n), 0.0668, 0.02);
}

TEST(Simulate, MissingnessLogitAndCounts) {
  SimulationPlan zip = plan("zip", {"1:1.0"}, {"1", "2"}, "5000", "9");  // Poisson mean e
  zip.inflation = 0.25, zip.missing = 0.1;
  double missing = 0, zeros = 0, sum = 0, count = 0;
  for (double y : simulate(zip).values[1]) {
    if (isMissing(y) && ++missing) continue;
    EXPECT_EQ(y, std::floor(y));
    zeros += y == 0.0, sum += y, ++count;
  }
  EXPECT_NEAR(missing / 5000, 0.1, 0.02);
  // Zero-inflated Poisson: P(0) = 0.25 + 0.75 exp(-e), mean 0.75 e.
  EXPECT_NEAR(zeros / count, 0.25 + 0.75 * std::exp(-std::exp(1.0)), 0.025);
  EXPECT_NEAR(sum / count, 0.75 * std::exp(1.0), 0.1);
  EXPECT_NEAR(mean(simulate(plan("logit", {"1:0"}, {"1"}, "5000", "9")).values[1]), 0.5, 0.03);
  // A mean of about 992, beyond Knuth's product method in one piece.
  EXPECT_NEAR(mean(simulate(plan("poisson", {"1:6.9"}, {"0"}, "400", "2")).values[1]), std::exp(6.9),
              4 * std::sqrt(std::exp(6.9) / 400));
}
