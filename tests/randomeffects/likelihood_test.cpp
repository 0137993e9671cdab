// The random-effects censored normal likelihood: without censoring against
// an independent mixture of multivariate normal densities, with censoring
// against R (tests/fixtures/randomeffects/likelihood_reference.R), and the
// limit of vanishing random effects against the plain censored normal model;
// the expected trajectory by simulation against its exact censored means.

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <random>

#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

#include "models/single_likelihood.h"
#include "randomeffects/expected_trajectory.h"
#include "randomeffects/re_scenario.h"

namespace kurv::retest {
namespace {

// Subjects with times 0..T-1 shifted per subject, outcomes around a line,
// risk factors and covariates; some measurements (and times) missing.
Scenario randomScenario(Scenario s, unsigned seed, int n = 12) {
  std::mt19937 gen(seed);
  std::normal_distribution<double> noise(0.0, 1.0);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  for (int i = 0; i < n; ++i) {
    Subject a;
    const double b0 = noise(gen), b1 = 0.3 * noise(gen);
    for (int j = 0; j < s.T; ++j) {
      const double t = j + 0.5 * unit(gen);
      a.t.push_back(i == 3 && j == 1 ? M : t);
      a.y.push_back(i == 5 && j == 2 ? M : 1.0 + b0 + (0.5 + b1) * t + 0.7 * noise(gen));
    }
    for (int r = 0; r < s.nRisk; ++r) a.risk.push_back(noise(gen));
    for (int c = 0; c < s.tcov * s.T; ++c) a.tcov.push_back(i == 7 && c == 0 ? M : noise(gen));
    a.weight = 0.5 + unit(gen);
    s.subjects.push_back(a);
  }
  return s;
}

std::vector<double> randomParameters(int n, unsigned seed) {
  std::mt19937 gen(seed);
  std::uniform_real_distribution<double> u(-0.8, 0.8);
  std::vector<double> x(static_cast<std::size_t>(n));
  for (double& v : x) v = u(gen);
  return x;
}

// Shared and per-group random-effects orders (one of them -1), trajectory
// orders -1 to 3, risk factors, time-varying covariates, weights.
const std::pair<const char*, Scenario> kOptionSets[] = {
    {"one group, shared order 1", {}},
    {"two groups, shared order 0", {.orders = {1, 2}, .reOrders = {0}}},
    {"three groups, per-group orders", {.orders = {0, 1, 3}, .reOrders = {1, 0, 2}}},
    {"per-group order -1", {.orders = {2, 1}, .reOrders = {-1, 1}}},
    {"trajectory order -1", {.orders = {1, -1}, .reOrders = {1}}},
    {"risk factors", {.nRisk = 2, .orders = {1, 1}}},
    {"covariates and weights", {.tcov = 2, .orders = {1, 2}, .weights = true}},
    {"five periods, quadratic random effects", {.T = 5, .orders = {2, 0}, .reOrders = {2}}},
};

// Without censoring: the independent mixture of normal densities. With
// censoring and random-effects scales tending to 0: the plain censored
// normal mixture (the censored measurements become independent too).
TEST(RandomEffectsLikelihood, MixtureOfNormalDensitiesAndVanishingRandomEffects) {
  for (unsigned i = 0; i < std::size(kOptionSets); ++i) {
    const auto& [name, options] = kOptionSets[i];
    Scenario s = randomScenario(options, 1 + i);
    Prepared run(s);
    ASSERT_TRUE(run.ctx) << name << run.host->errors;
    const Reference ref(s);
    ASSERT_EQ(ref.n, run.ctx->nParams) << name;
    for (unsigned draw = 0; draw < 3; ++draw) {
      const std::vector<double> x = randomParameters(ref.n, (2 + i) * 10 + draw);
      EXPECT_NEAR(run.nll(x), ref.nll(x), 1e-11 * std::fabs(ref.nll(x))) << name;
    }
    s = randomScenario(options, 40 + i);
    s.censorMin = 0.5, s.censorMax = 3.0;
    Prepared censored(s);
    std::vector<double> x = randomParameters(ref.n, 41 + i);
    for (const ParameterInfo& p : censored.ctx->layout.params)
      if (p.kind == BlockKind::RandomEffects) x[&p - censored.ctx->layout.params.data()] = -20.0;
    double plain = 0.0;
    singleModelLogLikelihood(ref.n, x.data(), &plain, censored.ctx.get());
    EXPECT_NEAR(censored.nll(x), plain, 1e-7 * std::fabs(plain)) << name;
  }
}

// The data set and parameters of the R script, and its value.
TEST(RandomEffectsLikelihood, WithCensoringMatchesR) {
  const auto rows = readRows("likelihood_censored.txt");
  Scenario s{.orders = rows[1], .reOrders = rows[2], .censorMin = rows[0][0], .censorMax = rows[0][1]};
  const std::vector<double> x = rows[3];
  for (std::size_t i = 4; i + 1 < rows.size(); ++i)
    s.subjects.push_back({{rows[i].begin(), rows[i].begin() + 4}, {rows[i].begin() + 4, rows[i].end()}, {}, {}});
  Prepared run(s);
  ASSERT_TRUE(run.ctx) << run.host->errors;
  const double value = run.nll(x);
  EXPECT_NEAR(value, rows.back()[0], 1e-6 * rows.back()[0]);
  // Probabilities of three or four censored measurements miss the relative
  // tolerance 1e-8 within 500,000 evaluations: reported with the subject's
  // observation number, with and without uncensored measurements.
  EXPECT_NE(run.host->displayed.find("Bad mvnprob obs=4\n"), std::string::npos);
  EXPECT_NE(run.host->displayed.find("Bad mvn prob obs=5\n"), std::string::npos);
  // The same value at every evaluation (the uniform stream restarts).
  EXPECT_EQ(run.nll(x), value);
  // The subject without any used measurement has likelihood 1 in every group.
  EXPECT_NEAR(run.ctx->subjectLik[s.subjects.size() - 1], 1.0, 1e-15);
}

// Two groups (linear and quadratic), per-group random-effects orders 1 and 0,
// censored at 0.5 and 4: each occasion's mean is that of its marginal
// N(mu, s^2) censored to [a, b].
TEST(RandomEffectsTrajectory, EachOccasionMatchesItsCensoredNormalMean) {
  const Scenario s{.orders = {1, 2}, .reOrders = {1, 0}, .censorMin = 0.5, .censorMax = 4.0,
                   .subjects = {{{1, 2, 3, 4}, {0, 1, 2, 3}, {}, {}}}};
  Prepared run(s);
  ASSERT_TRUE(run.ctx);
  const double a = 0.5, b = 4.0;
  // ln of sigma, of group 1's random-effects scales, of group 2's (less 0.2);
  // all times, the second time missing, tiny scales.
  const std::vector<double> all = {0.0, 1.0, 2.5, 4.0}, scales = {std::log(0.6), std::log(0.8), std::log(0.25)};
  const std::pair<std::vector<double>, std::vector<double>> cases[] = {
      {all, scales}, {{0.0, M, 2.5, 4.0}, scales}, {all, {-30.0, -30.0, -30.0}}};
  for (const auto& [times, ln] : cases) {
    // interc1 linear1 | interc2 linear2 quadra2 | ln sigma | g1: rSigma0 rSigma1 | g2: rSigma0 | theta2
    const std::vector<double> x = {1.0, 0.9, 3.5, -0.4, 0.05, ln[0], ln[1], ln[2], ln[1] + 0.2, 0.3};
    ASSERT_EQ(static_cast<int>(x.size()), run.ctx->nParams);
    std::vector<std::vector<double>> out;
    randomEffectsCnormExpectedTrajectory(times.data(), x.data(), out, *run.ctx);
    ASSERT_EQ(out.size(), 2u);
    for (int g = 0; g < 2; ++g)
      for (int j = 0; j < 4; ++j) {
        const double t = times[j];
        if (t >= M) {
          EXPECT_EQ(out[g][j], M);  // aligned with its occasion, not shifted
          continue;
        }
        const double mu = g == 0 ? x[0] + x[1] * t : x[2] + x[3] * t + x[4] * t * t;
        const double sd = std::sqrt(std::exp(2 * x[5]) + (g == 0 ? std::exp(2 * x[6]) + t * t * std::exp(2 * x[7])
                                                                  : std::exp(2 * x[8])));
        const double exact = sd < 1e-9 ? std::min(std::max(mu, a), b) : censoredMean(mu, sd, a, b);
        // Four Monte Carlo standard errors (censoring only lowers the spread),
        // and the rounding of a sum of 500,000 terms.
        EXPECT_NEAR(out[g][j], exact, 4.0 * sd / std::sqrt(kTrajectoryDraws) + 1e-10) << ln[0] << g << j;
      }
  }
}

// sigma and the random-effects scales exp(-400): S = 0. The likelihood
// fails the evaluation; the expected trajectory still fills its output
// with the means.
TEST(RandomEffectsLikelihood, SingularCovarianceFailsTheEvaluation) {
  Prepared run(randomScenario(Scenario{}, 3, 4));
  ASSERT_TRUE(run.ctx);
  const std::vector<double> x = {1.0, 0.5, -400.0, -400.0, -400.0}, times = {0, 1, 2, 3};
  EXPECT_EQ(run.nll(x), DBL_MAX);
  EXPECT_NE(run.host->displayed.find("Problem: cov mtrx randomEffectsCnormLogLikelihood 4\n"), std::string::npos)
      << run.host->displayed;
  std::vector<std::vector<double>> out;
  randomEffectsCnormExpectedTrajectory(times.data(), x.data(), out, *run.ctx);
  EXPECT_EQ(run.host->stdoutText, "Problem, chol: randomEffectsCnormExpectedTrajectory\n");
  for (int j = 0; j < 4; ++j) EXPECT_DOUBLE_EQ(out[0][j], 1.0 + 0.5 * j);
  // The debug trace: the function's name, then the vector six values to a
  // line, the last line filled up with -99.
  run.ctx->debugTrace = 1;
  run.host->displayed.clear();
  run.nll(x);
  EXPECT_EQ(run.host->displayed.rfind("randomEffectsCnormLogLikelihood\n    1.000000     0.500000  -400.000000  "
                                      "-400.000000  -400.000000   -99.000000\n", 0), 0u) << run.host->displayed;
}

}  // namespace
}  // namespace kurv::retest
