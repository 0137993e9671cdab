// Results handed to the host: estimates, covariance, posterior variables,
// group percentages and the plot series.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "engine/results_to_host.h"
#include "support/memory_host.h"

namespace kurv {
namespace {

using testing::MemoryHost;

constexpr int kOutVarBase = 8;
constexpr double kUnwritten = -7.0;  // fill of the host matrices before the run writes them

double logistic(double x) { return 1.0 / (1.0 + std::exp(-x)); }

// A fitted two-group model over 5 subjects and 3 periods (times 1, 2, 3),
// with the group terms of the last likelihood evaluation:
//   subject 0: y = 1 0 1,   terms 0.6*0.02, 0.4*0.01 (posteriors 3/4, 1/4)
//   subject 1: y = 0 0 .,   terms 0.2, 0.2 (a tie)
//   subject 2: excluded
//   subject 3: no measurement, terms = membership probabilities 0.6, 0.4
//   subject 4: y = 1 1 .,   terms 0.6*0.001, 0.4*0.1
// Weights 1, 2, 1, 1, 0.5.
struct FittedRun {
  MemoryHost host;
  ModelContext ctx;

  explicit FittedRun(int kind) {
    const double miss = host.missingValue();
    ctx.host = &host;
    ctx.modelKind[0] = kind;
    ctx.nGroups[0] = 2;
    ctx.polyOrder[0] = {1, 1};
    ctx.nPeriods[0] = 3;
    ctx.nObs = 5;
    ctx.nExcluded = 1;
    ctx.outVarBase = kOutVarBase;
    ctx.nMeasurements = 7;
    ctx.outcomeY[0] = {{1, 0, 1, miss, 1}, {0, 0, 1, miss, 1}, {1, miss, 1, miss, miss}};
    ctx.timeT[0] = {{1, 1, 1, 1, 1}, {2, 2, 2, 2, 2}, {3, 3, 3, 3, 3}};
    ctx.meanTime[0] = {1, 2, 3};
    ctx.weight = {1.0, 2.0, 1.0, 1.0, 0.5};
    ctx.excluded = {0, 0, 1, 0, 0};
    ctx.firstPeriod = {0, 0, -1, -1, 0};
    ctx.lastPeriod = {3, 2, 3, 0, 2};
    ctx.groupTerm = {0.6 * 0.02, 0.2, 0.5, 0.6, 0.6 * 0.001,   // group 1
                     0.4 * 0.01, 0.2, 0.5, 0.4, 0.4 * 0.1};    // group 2
    ctx.dropoutFactorStore.assign(2 * 5 * 3, miss);
    // interc1 linear1 interc2 linear2 | [log sigma] | theta2
    ctx.params = {-1.0, 0.5, 1.0, -0.2};
    std::vector<double> se = {0.3, 0.1, 3.0, 1.0};
    if (kind == kCnorm) {
      ctx.censorMin[0] = 0.0;
      ctx.censorMax[0] = 2.0;
      ctx.params = {1.0, 0.2, 0.5, 0.1};
      ctx.scaleIndex[0] = 4;
      ctx.params.push_back(0.0);
      se.push_back(0.1);
    }
    ctx.params.push_back(std::log(0.4 / 0.6));
    se.push_back(0.2);
    ctx.nParams = static_cast<int>(ctx.params.size());
    ctx.thetaStart = ctx.nParams - 1;
    ctx.stdErrors = se;
    const int n = ctx.nParams;
    ctx.covariance.assign(n * n, 0.0);
    for (int k = 0; k < n; ++k) ctx.covariance[k * n + k] = se[k] * se[k];
    ctx.covariance[0 * n + 1] = ctx.covariance[1 * n + 0] = -0.02;
    ctx.estimates = ctx.params;

    host.data.assign(5, std::vector<double>(kOutVarBase - 1, 0.0));
    host.createMatrix("parmData", 1, n, kUnwritten);
    host.createMatrix("varData", n, n, kUnwritten);
    host.createMatrix("groupPct1", 1, 2, kUnwritten);
    host.createMatrix("outPlot1", 3, 1 + 4 * 2 + (ctx.nDropoutOrder > 0 ? 2 : 0), kUnwritten);
  }
  void withDropout() {
    ctx.nDropoutOrder = 1;
    ctx.dropoutOrder = {0};
    host.createMatrix("outPlot1", 3, 1 + 5 * 2, kUnwritten);
  }
  double plot(int row, int col) { return host.matrices["outPlot1"][row - 1][col - 1]; }
  double var(int v, int obs) { return host.value(v, obs); }
};

TEST(ResultsToHost, PosteriorsFollowBayesRuleFromTheGroupTerms) {
  FittedRun run(kLogit);
  writeResultsToHost(run.ctx);
  const double miss = run.host.missingValue();
  // Bayes' rule: prior times likelihood over its sum.
  const double p40 = (0.6 * 0.001) / (0.6 * 0.001 + 0.4 * 0.1);
  const std::vector<std::vector<double>> expected = {
      {1, 0.75, 0.25}, {1, 0.5, 0.5}, {miss, miss, miss}, {1, 0.6, 0.4}, {2, p40, 1 - p40}};
  for (int obs = 1; obs <= 5; ++obs)
    for (int v = 0; v < 3; ++v)
      EXPECT_NEAR(run.var(kOutVarBase + v, obs), expected[obs - 1][v], 1e-15)
          << "observation " << obs << " variable " << v;
  // Shares: posterior sums over the 4 subjects that took part.
  const double share1 = 100.0 * (0.75 + 0.5 + 0.6 + p40) / 4.0;
  EXPECT_NEAR(run.host.matrices["groupPct1"][0][0], share1, 1e-12);
  EXPECT_NEAR(run.host.matrices["groupPct1"][0][1], 100.0 - share1, 1e-12);
}

TEST(ResultsToHost, MostLikelyGroupTiesAndEmptyPosteriors) {
  FittedRun run(kLogit);
  std::vector<double> post = {0.3, 0.0, 0.0, 0.0, 0.0, 0.3, 0.0, 0.0, 0.0, 0.0};
  run.ctx.nObs = 5;
  EXPECT_EQ(mostLikelyGroup(run.ctx, post, 0), 1.0);  // tie: the lower-numbered group
  EXPECT_EQ(mostLikelyGroup(run.ctx, post, 1), 1.0);  // no posterior above 0
  post[7] = 0.2;
  EXPECT_EQ(mostLikelyGroup(run.ctx, post, 2), 2.0);
}

TEST(ResultsToHost, EstimatesAndCovarianceMatrices) {
  FittedRun run(kLogit);
  const int n = run.ctx.nParams;
  run.ctx.covariance[2 * n + 2] = -9.0;  // a negative variance keeps its absolute value
  writeResultsToHost(run.ctx);
  for (int j = 0; j < n; ++j) EXPECT_EQ(run.host.matrices["parmData"][0][j], run.ctx.estimates[j]);
  EXPECT_EQ(run.host.matrices["varData"][2][2], 9.0);
  EXPECT_EQ(run.host.matrices["varData"][0][1], -0.02);

  FittedRun skipped(kLogit);
  skipped.ctx.noStdErrors = 1;
  skipped.ctx.covFailCode = 1;
  writeResultsToHost(skipped.ctx);
  for (const auto& row : skipped.host.matrices["varData"])
    for (double v : row) EXPECT_EQ(v, 0.0);

  FittedRun singular(kLogit);
  singular.ctx.covFailCode = 2;
  writeResultsToHost(singular.ctx);
  for (const auto& row : singular.host.matrices["varData"])
    for (double v : row) EXPECT_TRUE(singular.host.isMissing(v));
}

TEST(ResultsToHost, PlotSeriesAveragesPredictionsAndLogitLimits) {
  FittedRun run(kLogit);
  writeResultsToHost(run.ctx);
  const double miss = run.host.missingValue();
  const double p40 = (0.6 * 0.001) / (0.6 * 0.001 + 0.4 * 0.1), p41 = 1 - p40;
  // Observed averages: sum of y w post over sum of w post, subjects 0, 1, 4.
  EXPECT_NEAR(run.plot(1, 2), (1 * 0.75 + 0 + 0.5 * p40) / (0.75 + 2 * 0.5 + 0.5 * p40), 1e-15);
  EXPECT_NEAR(run.plot(1, 3), (1 * 0.25 + 0 + 0.5 * p41) / (0.25 + 2 * 0.5 + 0.5 * p41), 1e-15);
  EXPECT_NEAR(run.plot(2, 2), (0 + 0 + 0.5 * p40) / (0.75 + 1.0 + 0.5 * p40), 1e-15);
  for (int t = 1; t <= 3; ++t) {
    EXPECT_EQ(run.plot(t, 1), t);  // mean time
    // Group 1: logistic trajectory with delta-method band
    // var = (p (1 - p))^2 (0.09 + t^2 0.01 - 2 t 0.02).
    const double p = logistic(-1.0 + 0.5 * t);
    const double sd = p * (1 - p) * std::sqrt(0.09 + t * t * 0.01 - 2 * t * 0.02);
    EXPECT_NEAR(run.plot(t, 4), p, 1e-15);
    EXPECT_NEAR(run.plot(t, 6), p - 1.96 * sd, 1e-14);
    EXPECT_NEAR(run.plot(t, 7), p + 1.96 * sd, 1e-14);
  }
  // Group 2's standard errors are large: its band is clamped to [0, 1].
  EXPECT_NEAR(run.plot(1, 5), logistic(1.0 - 0.2), 1e-15);
  EXPECT_EQ(run.plot(1, 8), 0.0);
  EXPECT_EQ(run.plot(1, 9), 1.0);
  // Period 3 has only subject 0: group 2's weight 0.25 is too small.
  EXPECT_NEAR(run.plot(3, 2), 1.0, 1e-15);
  for (int col : {3, 5, 8, 9}) EXPECT_EQ(run.plot(3, col), miss) << col;
}

TEST(ResultsToHost, CensoredNormalLimitsStayInsideTheBounds) {
  FittedRun run(kCnorm);
  const int n = run.ctx.nParams;
  run.ctx.covariance[2 * n + 2] = 4.0;  // group 2's intercept is very uncertain
  writeResultsToHost(run.ctx);
  for (int t = 1; t <= 2; ++t) {
    EXPECT_EQ(run.plot(t, 8), 0.0);  // raised to the lower bound
    EXPECT_EQ(run.plot(t, 9), 2.0);  // lowered to the upper bound
    EXPECT_GT(run.plot(t, 5), 0.0);
    EXPECT_LT(run.plot(t, 5), 2.0);
  }
}

TEST(ResultsToHost, DropoutRatesOfTheMostLikelyGroup) {
  FittedRun run(kLogit);
  run.withDropout();
  // Stored factors of staying (1 - p) before the last period, p at it.
  auto& store = run.ctx.dropoutFactorStore;
  auto set = [&](int g, int i, int j, double v) { store[run.ctx.gij(g, i, j)] = v; };
  set(0, 0, 1, 0.9);   // subject 0, most likely group 1
  set(0, 0, 2, 0.8);
  set(1, 0, 1, 0.5);   //   not its most likely group: ignored
  set(0, 1, 1, 0.7);   // subject 1, group 1 (tie), last period 2
  set(0, 1, 2, 0.25);  //   the dropout at its last period is not a rate term
  set(1, 4, 1, 0.95);  // subject 4, most likely group 2, last period 2
  set(0, 2, 1, 0.1);   // subject 2 is excluded
  writeResultsToHost(run.ctx);
  const double miss = run.host.missingValue();
  EXPECT_EQ(run.plot(1, 10), kUnwritten);  // the first row has no dropout
  EXPECT_EQ(run.plot(1, 11), kUnwritten);
  EXPECT_NEAR(run.plot(2, 10), (0.1 + 0.3) / 2, 1e-15);
  EXPECT_NEAR(run.plot(2, 11), 0.05, 1e-15);
  EXPECT_NEAR(run.plot(3, 10), 0.2, 1e-15);
  EXPECT_EQ(run.plot(3, 11), miss);
}

}  // namespace
}  // namespace kurv
