// The random-effects censored normal likelihood: without censoring against
// an independent mixture of multivariate normal densities, with censoring
// against R (tests/fixtures/randomeffects/likelihood_reference.R), and the
// limit of vanishing random effects against the plain censored normal model.

#include <gtest/gtest.h>

#include <cfloat>
#include <fstream>
#include <random>
#include <sstream>

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

struct OptionSet {
  const char* name;
  Scenario s;
};

// Shared and per-group random-effects orders (one of them -1), trajectory
// orders -1 to 3, risk factors, time-varying covariates, weights.
std::vector<OptionSet> optionSets() {
  std::vector<OptionSet> sets;
  auto add = [&](const char* name, auto edit) {
    Scenario s;
    edit(s);
    sets.push_back({name, s});
  };
  add("one group, shared order 1", [](Scenario&) {});
  add("two groups, shared order 0", [](Scenario& s) { s.orders = {1, 2}, s.reOrders = {0}; });
  add("three groups, per-group orders", [](Scenario& s) { s.orders = {0, 1, 3}, s.reOrders = {1, 0, 2}; });
  add("per-group order -1", [](Scenario& s) { s.orders = {2, 1}, s.reOrders = {-1, 1}; });
  add("trajectory order -1", [](Scenario& s) { s.orders = {1, -1}, s.reOrders = {1}; });
  add("risk factors", [](Scenario& s) { s.orders = {1, 1}, s.nRisk = 2; });
  add("covariates and weights", [](Scenario& s) { s.orders = {1, 2}, s.tcov = 2, s.weights = true; });
  add("five periods, quadratic random effects", [](Scenario& s) { s.T = 5, s.orders = {2, 0}, s.reOrders = {2}; });
  return sets;
}

TEST(RandomEffectsLikelihood, WithoutCensoringIsTheMixtureOfNormalDensities) {
  unsigned seed = 1;
  for (const OptionSet& set : optionSets()) {
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
  std::ifstream in(std::string(KURV_FIXTURE_DIR) + "/randomeffects/likelihood_censored.txt");
  ASSERT_TRUE(in.good());
  std::vector<std::vector<std::string>> lines;
  for (std::string line; std::getline(in, line);) {
    std::istringstream words(line);
    lines.emplace_back();
    for (std::string w; words >> w;) lines.back().push_back(w);
  }
  auto number = [](const std::string& w) { return w == "NA" ? M : std::stod(w); };
  Scenario s;
  s.censorMin = number(lines[0][0]);
  s.censorMax = number(lines[0][1]);
  s.orders.clear();
  s.reOrders.clear();
  for (const auto& w : lines[1]) s.orders.push_back(number(w));
  for (const auto& w : lines[2]) s.reOrders.push_back(number(w));
  std::vector<double> x;
  for (const auto& w : lines[3]) x.push_back(number(w));
  for (std::size_t i = 4; i + 1 < lines.size(); ++i) {
    Subject a;
    for (int j = 0; j < 4; ++j) a.y.push_back(number(lines[i][j])), a.t.push_back(number(lines[i][4 + j]));
    s.subjects.push_back(a);
  }
  const double reference = number(lines.back()[0]);
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
  for (const OptionSet& set : optionSets()) {
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

TEST(RandomEffectsLikelihood, DebugTraceShowsTheParametersAndTheValue) {
  Scenario s = randomScenario(Scenario{}, 4, 3);
  Prepared run = prepare(s);
  ASSERT_TRUE(run.ctx);
  run.ctx->debugTrace = 1;
  run.host->displayed.clear();
  const std::vector<double> x = {1.0, 0.5, 0.0, -1.0, -2.0};
  const double f = run.nll(x);
  EXPECT_EQ(run.host->displayed,
            "randomEffectsCnormLogLikelihood\n"
            "    1.000000     0.500000     0.000000    -1.000000    -2.000000   -99.000000\n");
  char expected[64];
  std::snprintf(expected, sizeof expected, " nll=%f", f);
  EXPECT_EQ(run.host->stdoutText, expected);
}

}  // namespace
}  // namespace kurv::retest
