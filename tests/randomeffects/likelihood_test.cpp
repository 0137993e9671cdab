// The random-effects censored normal likelihood: without censoring against
// an independent mixture of multivariate normal densities, with censoring
// against R (tests/fixtures/randomeffects/likelihood_reference.R), and the
// limit of vanishing random effects against the plain censored normal model.

#include <gtest/gtest.h>

#include <cfloat>
#include <random>

#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

#include "models/single_likelihood.h"
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
struct OptionSet {
  const char* name;
  Scenario s;
};
const OptionSet kOptionSets[] = {
    {"one group, shared order 1", {}},
    {"two groups, shared order 0", {.orders = {1, 2}, .reOrders = {0}}},
    {"three groups, per-group orders", {.orders = {0, 1, 3}, .reOrders = {1, 0, 2}}},
    {"per-group order -1", {.orders = {2, 1}, .reOrders = {-1, 1}}},
    {"trajectory order -1", {.orders = {1, -1}, .reOrders = {1}}},
    {"risk factors", {.nRisk = 2, .orders = {1, 1}}},
    {"covariates and weights", {.tcov = 2, .orders = {1, 2}, .weights = true}},
    {"five periods, quadratic random effects", {.T = 5, .orders = {2, 0}, .reOrders = {2}}},
};

TEST(RandomEffectsLikelihood, WithoutCensoringIsTheMixtureOfNormalDensities) {
  unsigned seed = 1;
  for (const OptionSet& set : kOptionSets) {
    const Scenario s = randomScenario(set.s, seed++);
    Prepared run = prepare(s);
    ASSERT_TRUE(run.ctx) << set.name << run.host->errors;
    const Reference ref(s);
    ASSERT_EQ(ref.n, run.ctx->nParams) << set.name;
    for (unsigned draw = 0; draw < 3; ++draw) {
      const std::vector<double> x = randomParameters(ref.n, seed * 10 + draw);
      const double expected = ref.nll(x);
      EXPECT_NEAR(run.nll(x), expected, 1e-11 * std::fabs(expected)) << set.name;
    }
  }
}

// The data set and parameters of the R script, and its value.
TEST(RandomEffectsLikelihood, WithCensoringMatchesR) {
  const auto rows = readRows("likelihood_censored.txt");
  Scenario s;
  s.censorMin = rows[0][0];
  s.censorMax = rows[0][1];
  s.orders = rows[1];
  s.reOrders = rows[2];
  const std::vector<double> x = rows[3];
  for (std::size_t i = 4; i + 1 < rows.size(); ++i)
    s.subjects.push_back({{rows[i].begin(), rows[i].begin() + 4}, {rows[i].begin() + 4, rows[i].end()}, {}, {}});
  const double reference = rows.back()[0];
  Prepared run = prepare(s);
  ASSERT_TRUE(run.ctx) << run.host->errors;
  const double value = run.nll(x);
  EXPECT_NEAR(value, reference, 1e-6 * reference);
  // Probabilities of three or four censored measurements miss the relative
  // tolerance 1e-8 within 500,000 evaluations: reported with the subject's
  // observation number, with and without uncensored measurements.
  EXPECT_NE(run.host->displayed.find("Bad mvnprob obs=4\n"), std::string::npos);
  EXPECT_NE(run.host->displayed.find("Bad mvn prob obs=5\n"), std::string::npos);
  // The same value at every evaluation (the uniform stream restarts).
  EXPECT_EQ(run.nll(x), value);
  // The subject without any used measurement has likelihood 1 in every group.
  const int last = static_cast<int>(s.subjects.size()) - 1;
  EXPECT_NEAR(run.ctx->subjectLik[static_cast<std::size_t>(last)], 1.0, 1e-15);
}

// Random-effects scales tending to 0: the plain censored normal mixture
// (with censoring, the censored measurements become independent too).
TEST(RandomEffectsLikelihood, VanishingRandomEffectsGiveThePlainCensoredNormalModel) {
  unsigned seed = 40;
  for (const OptionSet& set : kOptionSets) {
    Scenario s = randomScenario(set.s, seed++);
    s.censorMin = 0.5;
    s.censorMax = 3.0;
    Prepared run = prepare(s);
    ASSERT_TRUE(run.ctx) << set.name;
    std::vector<double> x = randomParameters(run.ctx->nParams, seed);
    for (const ParameterInfo& p : run.ctx->layout.params)
      if (p.kind == BlockKind::RandomEffects) x[&p - run.ctx->layout.params.data()] = -20.0;
    double plain = 0.0;
    singleModelLogLikelihood(static_cast<int>(x.size()), x.data(), &plain, run.ctx.get());
    EXPECT_NEAR(run.nll(x), plain, 1e-7 * std::fabs(plain)) << set.name;
  }
}

TEST(RandomEffectsLikelihood, SingularCovarianceFailsTheEvaluation) {
  Scenario s = randomScenario(Scenario{}, 3, 4);
  Prepared run = prepare(s);
  ASSERT_TRUE(run.ctx);
  // sigma = exp(-400) and random-effects scales exp(-400): S = 0.
  std::vector<double> x = {1.0, 0.5, -400.0, -400.0, -400.0};
  EXPECT_EQ(run.nll(x), DBL_MAX);
  EXPECT_NE(run.host->displayed.find("Problem: cov mtrx randomEffectsCnormLogLikelihood 4\n"), std::string::npos)
      << run.host->displayed;
}

}  // namespace
}  // namespace kurv::retest
