// The random-effects expected trajectory by simulation against its exact
// value, and the random numbers behind it.

#include <gtest/gtest.h>

#include <cmath>

#include "randomeffects/expected_trajectory.h"
#include "randomeffects/normal_deviates.h"
#include "randomeffects/re_scenario.h"

namespace kurv::retest {
namespace {

double Phi(double z) { return 0.5 * std::erfc(-z / std::sqrt(2.0)); }
double phi(double z) { return std::exp(-0.5 * z * z) / std::sqrt(2.0 * M_PI); }

// E[min(max(Y, a), b)] for Y ~ N(mu, s^2):
//   a Phi(alpha) + b (1 - Phi(beta)) + mu (Phi(beta) - Phi(alpha)) + s (phi(alpha) - phi(beta)).
double censoredMean(double mu, double s, double a, double b) {
  const double alpha = (a - mu) / s, beta = (b - mu) / s;
  return a * Phi(alpha) + b * (1.0 - Phi(beta)) + mu * (Phi(beta) - Phi(alpha)) + s * (phi(alpha) - phi(beta));
}

struct TrajectoryCase {
  const char* name;
  std::vector<double> times;
  double lnSigma, lnRe0, lnRe1;
};

// Two groups (linear and quadratic), per-group random-effects orders 1 and 0,
// censored at 0.5 and 4; each occasion's censored mean depends only on its
// marginal N(mu_j, S_jj).
TEST(RandomEffectsTrajectory, EachOccasionMatchesItsCensoredNormalMean) {
  Scenario s;
  s.orders = {1, 2};
  s.reOrders = {1, 0};
  s.censorMin = 0.5;
  s.censorMax = 4.0;
  s.subjects.push_back({{1, 2, 3, 4}, {0, 1, 2, 3}, {}, {}});
  Prepared run = prepare(s);
  ASSERT_TRUE(run.ctx);
  const TrajectoryCase cases[] = {
      {"all times", {0.0, 1.0, 2.5, 4.0}, std::log(0.6), std::log(0.8), std::log(0.25)},
      {"second time missing", {0.0, M, 2.5, 4.0}, std::log(0.6), std::log(0.8), std::log(0.25)},
      {"tiny scales", {0.0, 1.0, 2.5, 4.0}, -30.0, -30.0, -30.0},
  };
  for (const TrajectoryCase& c : cases) {
    // interc1 linear1 | interc2 linear2 quadra2 | ln sigma | g1: rSigma0 rSigma1 | g2: rSigma0 | theta2
    const std::vector<double> x = {1.0, 0.9, 3.5, -0.4, 0.05, c.lnSigma, c.lnRe0, c.lnRe1, c.lnRe0 + 0.2, 0.3};
    ASSERT_EQ(static_cast<int>(x.size()), run.ctx->nParams);
    std::vector<std::vector<double>> out;
    randomEffectsCnormExpectedTrajectory(c.times.data(), x.data(), out, *run.ctx);
    ASSERT_EQ(out.size(), 2u);
    for (int g = 0; g < 2; ++g) {
      for (int j = 0; j < 4; ++j) {
        const double t = c.times[j];
        if (t >= M) {
          EXPECT_EQ(out[g][j], M) << c.name;  // aligned with its occasion, not shifted
          continue;
        }
        const double mu = g == 0 ? x[0] + x[1] * t : x[2] + x[3] * t + x[4] * t * t;
        const double var = std::exp(2 * x[5]) + (g == 0 ? std::exp(2 * x[6]) + t * t * std::exp(2 * x[7])
                                                         : std::exp(2 * x[8]));
        const double sd = std::sqrt(var);
        const double exact = sd < 1e-9 ? std::min(std::max(mu, 0.5), 4.0) : censoredMean(mu, sd, 0.5, 4.0);
        // Four Monte Carlo standard errors (censoring only lowers the spread),
        // and the rounding of a sum of 500,000 terms.
        EXPECT_NEAR(out[g][j], exact, 4.0 * sd / std::sqrt(kTrajectoryDraws) + 1e-10) << c.name << g << j;
      }
    }
  }
}

TEST(RandomEffectsTrajectory, CovarianceThatIsNotPositiveDefiniteStillFillsTheOutput) {
  Scenario s;
  s.subjects.push_back({{1, 2, 3, 4}, {0, 1, 2, 3}, {}, {}});
  Prepared run = prepare(s);
  ASSERT_TRUE(run.ctx);
  const std::vector<double> times = {0, 1, 2, 3};
  const std::vector<double> x = {1.0, 0.5, -400.0, -400.0, -400.0};  // S = 0
  std::vector<std::vector<double>> out;
  randomEffectsCnormExpectedTrajectory(times.data(), x.data(), out, *run.ctx);
  EXPECT_EQ(run.host->stdoutText, "Problem, chol: randomEffectsCnormExpectedTrajectory\n");
  for (int j = 0; j < 4; ++j) EXPECT_DOUBLE_EQ(out[0][j], 1.0 + 0.5 * j);
}

TEST(NormalDeviates, MomentsAndTailOfAMillionDraws) {
  LehmerGenerator gen{kTrajectorySeed};
  const int n = 1000000;
  double sum = 0.0, sumSq = 0.0, beyond = 0.0, negative = 0.0;
  for (int i = 0; i < n; ++i) {
    const double z = drawStandardNormal(gen);
    sum += z, sumSq += z * z, beyond += z > 1.5, negative += z < -0.3;
  }
  const double mean = sum / n, var = sumSq / n - mean * mean;
  EXPECT_NEAR(mean, 0.0, 4.0 / std::sqrt(n));
  EXPECT_NEAR(var, 1.0, 4.0 * std::sqrt(2.0 / n));
  const double p = 1.0 - Phi(1.5), q = Phi(-0.3);
  EXPECT_NEAR(beyond / n, p, 4.0 * std::sqrt(p * (1 - p) / n));
  EXPECT_NEAR(negative / n, q, 4.0 * std::sqrt(q * (1 - q) / n));
}

}  // namespace
}  // namespace kurv::retest
