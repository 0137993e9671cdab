// `kurv simulate`: data whose groups, shares, censoring, missingness and
// count distributions are those asked for, and other data for another seed
// (the same seed giving the same data is checked with the fits from .csv and
// .dta files). Statistical checks allow at least four standard errors.
#include <gtest/gtest.h>

#include <cmath>
#include <numeric>

#include "cli/simulate.h"
#include "cli_support.h"

namespace {

DataTable draw(const std::string& model, const std::string& groups, const std::string& times, const std::string& n,
               const std::string& seed, const std::string& missing = "0", const std::string& inflation = "0") {
  return simulate(parseSimulation({.model = model, .groups = {groups}, .times = {times}, .n = n, .seed = seed,
                                   .sigma = "2", .min = model == "cnorm" ? "0" : "", .max = model == "cnorm" ? "22" : "",
                                   .missing = missing, .inflation = inflation, .decimals = "3", .out = ""}));
}

double mean(const std::vector<double>& v) { return std::accumulate(v.begin(), v.end(), 0.0) / v.size(); }

}  // namespace

TEST(Simulate, CensoredNormalGroupsSharesAndMeansAndOtherDataForAnotherSeed) {
  const DataTable t = draw("cnorm", "30:5,0.5 70:20,-1", "1 2 3 4", "4000", "5");  // sigma 2, bounds 0 and 22
  EXPECT_NE(t.values, draw("cnorm", "30:5,0.5 70:20,-1", "1 2 3 4", "4000", "6").values);
  ASSERT_EQ(t.names, words("id y1 y2 y3 y4 t1 t2 t3 t4 group"));
  const auto& group = t.values[9];
  // Binomial standard error sqrt(0.3 * 0.7 / 4000) = 0.0072.
  EXPECT_NEAR(std::count(group.begin(), group.end(), 1.0) / 4000.0, 0.3, 0.03);
  double sum = 0, n = 0, atMax = 0;
  for (std::size_t i = 0; i < t.rowCount(); ++i) {
    for (int j = 0; j < 4; ++j) {
      const double y = t.values[1 + j][i];
      // Censored, with three decimals, measured at the times asked for.
      EXPECT_TRUE(y >= 0 && y <= 22 && y == std::round(y * 1000) / 1000 && t.values[5 + j][i] == j + 1.0) << y;
    }
    // Group 1 at t = 2: mean 5 + 0.5 t = 6, far from both bounds. Group 2 at
    // t = 1: mean 19, sd 2, so P(y >= 22) = 1 - Phi(1.5) = 0.0668.
    if (group[i] == 1.0) sum += t.values[2][i], ++n;
    else atMax += t.values[1][i] == 22.0;
  }
  EXPECT_NEAR(sum / n, 6.0, 4 * 2.0 / std::sqrt(n));
  EXPECT_NEAR(atMax / (4000 - n), 0.0668, 0.02);
}

TEST(Simulate, MissingnessLogitAndCounts) {
  // One group with Poisson mean e, zero-inflated by 0.25: P(0) = 0.25 + 0.75 exp(-e), mean 0.75 e.
  const DataTable t = draw("zip", "1:1.0", "1", "5000", "9", "0.1", "0.25");
  double missing = 0, zeros = 0, sum = 0, count = 0;
  for (double y : t.values[1]) {
    if (isMissing(y) && ++missing) continue;
    EXPECT_EQ(y, std::floor(y));
    zeros += y == 0.0, sum += y, ++count;
  }
  EXPECT_NEAR(missing / 5000, 0.1, 0.02);
  EXPECT_NEAR(zeros / count, 0.25 + 0.75 * std::exp(-std::exp(1.0)), 0.025);
  EXPECT_NEAR(sum / count, 0.75 * std::exp(1.0), 0.1);
  EXPECT_NEAR(mean(draw("logit", "1:0", "1", "5000", "9").values[1]), 0.5, 0.03);  // probability 1/2
  // A mean of about 992, beyond Knuth's product method in one piece.
  const double lambda = std::exp(6.9);
  EXPECT_NEAR(mean(draw("poisson", "1:6.9", "0", "400", "2").values[1]), lambda, 4 * std::sqrt(lambda / 400));
}
