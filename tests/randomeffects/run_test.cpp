// Random-effects runs end to end through the run command: the lme4
// reference fit, the estimates table and results, and the refusals.

#include <gtest/gtest.h>

#include <cmath>
#include <tuple>

#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

#include "core/run_summary.h"
#include "engine/fit_phases.h"
#include "engine/results_to_host.h"
#include "randomeffects/re_scenario.h"

namespace kurv::retest {
namespace {

int runScenario(testing::MemoryHost& host, const Scenario& s, RunSummary* summary, const testing::ArgChanges& changes = {}) {
  loadData(host, s);
  return testing::runWithArgs(host, scenarioArgs(s, changes), summary);
}

// lme4::lmer(y ~ t + (1 | id) + (0 + t | id), REML = FALSE) on simulated
// data (tests/fixtures/randomeffects/lme4_reference.R): the same model as one
// group of order 1 with a shared random-effects order 1.
TEST(RandomEffectsRun, OneGroupFitWithoutCensoringMatchesLme4) {
  Scenario s{.T = 5};
  for (const auto& row : readRows("lme4_data.txt"))
    if (row.size() == 10) s.subjects.push_back({{row.begin(), row.begin() + 5}, {row.begin() + 5, row.end()}, {}, {}});
  const auto fit = readRows("lme4_fit.txt");
  testing::MemoryHost host;
  for (const auto& [name, rows, columns] : {std::tuple{"parmData", 1, 5}, {"varData", 5, 5}, {"groupPct1", 1, 1},
                                            {"outPlot1", 5, 5}})
    host.createMatrix(name, rows, columns);
  RunSummary summary;
  ASSERT_EQ(runScenario(host, s, &summary), 0) << host.errors;
  ASSERT_TRUE(summary.fitted) << host.stdoutText;
  EXPECT_NEAR(summary.logLikelihood, fit[0][0], 1e-6 * std::fabs(fit[0][0]));
  // interc1 linear1 sigma rSigma rSigma1 against intercept, slope, sigma and
  // the two random-effect standard deviations.
  EXPECT_EQ(host.macros["_outvars"], "interc1 linear1 sigma rSigma rSigma1 ");
  for (int k = 0; k < 5; ++k) EXPECT_NEAR(summary.estimates[k], fit[k + 1][0], 1e-4) << k;
  EXPECT_NE(host.displayed.find("\t\tModel: Censored Normal (CNORM) Random Effects\n"), std::string::npos);
  for (const char* name : {"rSigma0", "rSigma1"}) EXPECT_NE(host.displayed.find(name), std::string::npos);
  EXPECT_EQ(host.matrices["groupPct1"][0][0], 100.0);
}

// The plot series of a censored random-effects run: each period's prediction
// is the mean of the censored measurement with the random effects integrated
// out, of its margin N(mu_j, sigma^2 + d_0 + t_j^2 d_1) censored to [a, b]; the
// simulation of 500,000 draws is within 5 standard errors of it. Predictions
// without the random effects (s = sigma) would be 0.1 to 0.4 away, except at
// mu = 3, midway between the bounds, where both means are mu.
TEST(RandomEffectsRun, PlotSeriesAreCensoredMeansOfTheMarginalDistribution) {
  const std::vector<double> times{0, 1, 2, 3};
  Scenario s{.reOrders = {1}, .censorMin = 0.0, .censorMax = 6.0};
  for (double y0 : {1.0, 2.0, 3.0}) s.subjects.push_back({{y0, y0 + 1, y0 + 2, y0 + 3}, times, {}, {}});
  Prepared run(s);
  ASSERT_TRUE(run.ctx) << run.host->errors;
  ModelContext& ctx = *run.ctx;
  // interc1 linear1 sigma rSigma rSigma1
  const std::vector<double> x{2.0, 1.0, 0.0, std::log(1.5), std::log(0.5)};
  run.nll(x);
  ctx.params = ctx.estimates = x;
  ctx.stdErrors.assign(x.size(), 0.1);
  ctx.covariance.assign(x.size() * x.size(), 0.0);
  run.host->createMatrix("outPlot1", 4, 5);
  writeResultsToHost(ctx);
  for (int j = 0; j < 4; ++j) {
    const double sd = std::sqrt(1.0 + 2.25 + 0.25 * times[j] * times[j]), mean = censoredMean(2.0 + times[j], sd, 0.0, 6.0);
    EXPECT_NEAR(run.host->matrices["outPlot1"][j][2], mean, 5.0 * sd / std::sqrt(500000.0)) << j;
  }
}

// Defaults: every random-effects scale starts at e^-2; given scales (sigma
// and random effects) become logarithms, the percentages log-odds.
TEST(RandomEffectsRun, StartValues) {
  const Scenario s{.orders = {1, 1}, .reOrders = {0, 1},
                   .subjects = {{{1, 2, 3, 4}, {0, 1, 2, 3}, {}, {}}, {{2, 3, 4, 6}, {0, 1, 2, 3}, {}, {}}}};
  for (bool given : {false, true}) {
    testing::MemoryHost host;
    loadData(host, s);
    auto args = scenarioArgs(s);
    if (given)
      host.setRowVector("kurv_start", {1, 0.5, 2, 0.5, 0.7, 0.3, 0.2, 0.1, 40, 60}), testing::setArg(args, 35, 10.0);
    auto ctx = testing::prepareTestRun(host, args);
    ASSERT_TRUE(ctx) << host.errors;
    settleStartValues(*ctx);
    // interc1 linear1 interc2 linear2 sigma | rSigmag1 | rSigmag2 rSigma1g2 | theta2
    for (int k = 0; k < 3; ++k)
      EXPECT_DOUBLE_EQ(ctx->params[5 + k], given ? std::log(0.3 - 0.1 * k) : -2.0) << k;
    EXPECT_DOUBLE_EQ(ctx->params[4], given ? std::log(0.7) : ctx->params[4]);
    EXPECT_DOUBLE_EQ(ctx->params[8], given ? std::log(60.0 / 40.0) : 0.0);
  }
}

// Refused before anything is allocated, with the message and 198 (with a
// multi-trajectory model: among the engine's input errors).
TEST(RandomEffectsRun, RefusedCombinations) {
  struct Case {
    std::vector<std::pair<int, std::string>> args;
    std::map<std::string, std::vector<double>> matrices;
    const char* message;
  } cases[] = {
      {{{1, "logit"}}, {}, "Random-effects orders were given for model 1 (\"logit\"); random effects need a cnorm model.\n"},
      {{{13, "1"}}, {{"kurv_mat_dropoutorder1", {0}}},
       "Random effects cannot be combined with a dropout model: that likelihood has no random-effects part.\n"},
      {{{16, "normal"}}, {},
       "Random effects cannot be combined with an outcome analysis: that likelihood has no random-effects part.\n"},
      {{{18, "cnorm"}, {19, "4"}, {23, "1"}}, {{"kurv_mat_order2", {0}}},
       "Random effects cannot be combined with a joint model: that likelihood has no random-effects part.\n"},
  };
  for (const Case& c : cases) {
    testing::MemoryHost host;
    for (const auto& [name, values] : c.matrices) host.setRowVector(name, values);
    const Scenario s{.subjects = {{{1, 2, 3, 4}, {0, 1, 2, 3}, {}, {}}}};
    EXPECT_EQ(runScenario(host, s, nullptr, c.args), 198) << c.message;
    EXPECT_EQ(host.errors, c.message);
    EXPECT_EQ(host.displayed.find("observations read"), std::string::npos) << c.message;
  }
}

}  // namespace
}  // namespace kurv::retest
