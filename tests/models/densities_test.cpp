// Densities of one measurement against their textbook forms: censored
// normal through erfc, logistic, Poisson through lgamma; the clamp ends,
// zero inflation shared and per group, exposure, the zero-only first group,
// the dropout factor's existence rules and the outcome-analysis density.

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>

#include "model_test_support.h"
#include "models/densities.h"
#include "models/measurement_tables.h"

namespace kurv {
namespace {

using modeltest::M;
using modeltest::prepare;
using modeltest::PreparedRun;
using modeltest::Scenario;
using modeltest::Subject;

double Phi(double z) { return 0.5 * std::erfc(-z / std::sqrt(2.0)); }
double pdf(double z) { return std::exp(-0.5 * z * z) / std::sqrt(2.0 * M_PI); }
double logistic(double v) { return 1.0 / (1.0 + std::exp(-v)); }
double poisson(double y, double lambda) {
  return std::exp(y * std::log(lambda) - lambda - std::lgamma(y + 1.0));
}

PreparedRun ready(const Scenario& s) {
  PreparedRun run = prepare(s);
  EXPECT_TRUE(run.ctx) << run.host->errors;
  if (run.ctx) prepareMeasurementTables(*run.ctx);
  return run;
}

double densityAt(const PreparedRun& run, const std::vector<double>& x, int k, int i, int j,
                 double sigma = 1.0) {
  const ModelContext& c = *run.ctx;
  return measurementDensity(x.data(), c, {0, k, i, j}, groupBlocks(c, 0, k), sigma);
}

TEST(Densities, CensoredNormalEveryBranch) {
  Scenario s;
  s.nPeriods = 5;
  s.orders = {1};
  s.censorMin = 0.0;
  s.censorMax = 10.0;
  s.subjects = {modeltest::makeSubject({-1.0, 0.0, 4.2, 10.0, 12.0}, {0.5, 1.0, 1.5, 2.0, 2.5})};
  PreparedRun run = ready(s);
  const std::vector<double> x = {2.0, 1.5, std::log(1.7)};
  const double sigma = 1.7;
  auto mu = [&](double t) { return 2.0 + 1.5 * t; };
  // Below and exactly at the lower bound: left-censored.
  EXPECT_NEAR(densityAt(run, x, 0, 0, 0, sigma), Phi((0.0 - mu(0.5)) / sigma), 1e-15);
  EXPECT_NEAR(densityAt(run, x, 0, 0, 1, sigma), Phi((0.0 - mu(1.0)) / sigma), 1e-15);
  // Between the bounds: the density.
  EXPECT_NEAR(densityAt(run, x, 0, 0, 2, sigma) / (pdf((4.2 - mu(1.5)) / sigma) / sigma), 1.0, 1e-14);
  // Exactly at and above the upper bound: right-censored.
  EXPECT_NEAR(densityAt(run, x, 0, 0, 3, sigma), 1.0 - Phi((10.0 - mu(2.0)) / sigma), 1e-15);
  EXPECT_NEAR(densityAt(run, x, 0, 0, 4, sigma), 1.0 - Phi((10.0 - mu(2.5)) / sigma), 1e-15);
}

TEST(Densities, TrajectoryPredictorWithCovariates) {
  Scenario s;
  s.nPeriods = 2;
  s.orders = {0, 2};
  s.tcovPerPeriod = 2;
  Subject a = modeltest::makeSubject({1.0, 2.0}, {1.5, -2.0});
  a.tcov = {0.3, 0.4, -1.0, 2.0};  // covariate 0 at periods 0,1, then covariate 1
  s.subjects = {a};
  PreparedRun run = ready(s);
  const ModelContext& c = *run.ctx;
  // Group 0: intercept and two covariate coefficients; group 1 from index 3.
  const std::vector<double> x = {0.1, 0.2, 0.3, 1.0, -0.5, 0.25, 2.0, -3.0, 0.0, 0.0};
  const GroupBlocks b1 = groupBlocks(c, 0, 1);
  EXPECT_EQ(b1.trajectory, 3);
  const double t = -2.0;
  EXPECT_NEAR(trajectoryPredictor(x.data(), c, {0, 1, 0, 1}, b1.trajectory),
              1.0 - 0.5 * t + 0.25 * t * t + 2.0 * 0.4 - 3.0 * 2.0, 1e-14);
  EXPECT_NEAR(trajectoryPredictor(x.data(), c, {0, 0, 0, 0}, 0), 0.1 + 0.2 * 0.3 + 0.3 * -1.0, 1e-15);
}

TEST(Densities, LogitCountsAnyNonzeroAsOneAndClamps) {
  Scenario s;
  s.kind = "logit";
  s.nPeriods = 3;
  s.orders = {1};
  s.subjects = {modeltest::makeSubject({0.0, 1.0, 2.0}, {0.0, 1.0, 2.0})};
  PreparedRun run = ready(s);
  std::vector<double> x = {-0.4, 0.9};
  EXPECT_NEAR(densityAt(run, x, 0, 0, 0), 1.0 - logistic(-0.4), 1e-15);
  EXPECT_NEAR(densityAt(run, x, 0, 0, 1), logistic(0.5), 1e-15);
  EXPECT_NEAR(densityAt(run, x, 0, 0, 2), logistic(-0.4 + 0.9 * 2.0), 1e-15);
  // A predictor of -800 is treated as the clamp's lower end: p stays positive.
  x = {-800.0, 0.0};
  const double low = std::exp(-std::log(DBL_MAX) - 10.0);
  EXPECT_EQ(densityAt(run, x, 0, 0, 1), low / (low + 1.0));
  EXPECT_GT(densityAt(run, x, 0, 0, 1), 0.0);
  x = {800.0, 0.0};
  EXPECT_EQ(densityAt(run, x, 0, 0, 1), 1.0);
}

Scenario zipScenario(std::vector<double> inflOrders) {
  Scenario s;
  s.kind = "zip";
  s.nPeriods = 4;
  s.orders = {1, 0};
  s.exposure = true;
  s.inflOrders = std::move(inflOrders);
  Subject a = modeltest::makeSubject({0.0, 3.0, 0.0, 2.0}, {0.5, 1.0, 1.5, 2.0});
  a.exposure = {0.0, 1.5, 2.0, 0.5};
  s.subjects = {a};
  return s;
}

TEST(Densities, ZeroInflatedPoissonPerGroupInflationAndExposure) {
  PreparedRun run = ready(zipScenario({1, -1}));
  const ModelContext& c = *run.ctx;
  // Trajectories (0.2, 0.4 | 0.7), then group 0's inflation block (-0.5, 0.8);
  // group 1 has inflation order -1 and no block.
  const std::vector<double> x = {0.2, 0.4, 0.7, -0.5, 0.8};
  EXPECT_EQ(groupBlocks(c, 0, 0).zeroInflation, 3);
  auto omega = [](double t) { return logistic(-0.5 + 0.8 * t); };
  auto lambda = [](double t, double e) { return std::exp(0.2 + 0.4 * t) * e; };
  // y = 0 with exposure 0: lambda = 0, the density is exactly 1.
  EXPECT_EQ(densityAt(run, x, 0, 0, 0), 1.0);
  EXPECT_NEAR(densityAt(run, x, 0, 0, 1) / ((1 - omega(1.0)) * poisson(3, lambda(1.0, 1.5))), 1.0, 2.5e-11);  // logGamma's series error
  EXPECT_NEAR(densityAt(run, x, 0, 0, 2),
              omega(1.5) + (1 - omega(1.5)) * std::exp(-lambda(1.5, 2.0)), 1e-15);
  // Group 1: no zero inflation, a plain Poisson with mean exp(0.7) * exposure.
  EXPECT_EQ(zeroInflationProb(x.data(), c, {0, 1, 0, 3}, groupBlocks(c, 0, 1).zeroInflation), 0.0);
  EXPECT_NEAR(densityAt(run, x, 1, 0, 3) / poisson(2, std::exp(0.7) * 0.5), 1.0, 2.5e-11);  // logGamma's series error
}

TEST(Densities, ZeroInflationSharedByAllGroups) {
  PreparedRun run = ready(zipScenario({0}));
  const ModelContext& c = *run.ctx;
  const std::vector<double> x = {0.2, 0.4, 0.7, 0.3};
  EXPECT_EQ(groupBlocks(c, 0, 1).zeroInflation, groupBlocks(c, 0, 0).zeroInflation);
  const double omega = logistic(0.3);
  EXPECT_NEAR(densityAt(run, x, 1, 0, 2), omega + (1 - omega) * std::exp(-std::exp(0.7) * 2.0), 1e-15);
  EXPECT_NEAR(densityAt(run, x, 0, 0, 3) / ((1 - omega) * poisson(2, std::exp(0.2 + 0.8) * 0.5)), 1.0, 2.5e-11);  // logGamma's series error
}

TEST(Densities, ZeroInflationProbabilityThirtyPercentAndZeroRate) {
  // y = 0, omega = 0.3, lambda = 0 (exposure 0): density 1.0.
  PreparedRun run = ready(zipScenario({0}));
  const std::vector<double> x = {0.2, 0.4, 0.7, std::log(0.3 / 0.7)};
  EXPECT_NEAR(zeroInflationProb(x.data(), *run.ctx, {0, 0, 0, 0}, 3), 0.3, 1e-15);
  EXPECT_EQ(densityAt(run, x, 0, 0, 0), 1.0);
}

TEST(Densities, PoissonRateUnderflowGivesZero) {
  Scenario s;
  s.kind = "poisson";
  s.nPeriods = 2;
  s.orders = {0};
  s.subjects = {modeltest::makeSubject({3.0, 0.0}, {1.0, 2.0})};
  PreparedRun run = ready(s);
  ASSERT_EQ(run.ctx->modelKind[0], kZip);
  // exp(-719.78...) is below DBL_MIN: a nonzero count has density 0, a zero
  // count density exp(-lambda) = 1.
  EXPECT_EQ(densityAt(run, {-800.0}, 0, 0, 0), 0.0);
  EXPECT_EQ(densityAt(run, {-800.0}, 0, 0, 1), 1.0);
  EXPECT_NEAR(densityAt(run, {0.6}, 0, 0, 0) / poisson(3, std::exp(0.6)), 1.0, 2.5e-11);  // logGamma's series error
  // A zero count under a huge rate: lambda itself is limited to the clamp's
  // upper end before exp(-lambda).
  EXPECT_EQ(densityAt(run, {800.0}, 0, 0, 1), std::exp(-(std::log(DBL_MAX) - 10.0)));
}

TEST(Densities, UnusablePeriodsContributeOne) {
  Scenario s;
  s.nPeriods = 3;
  s.orders = {0};
  s.tcovPerPeriod = 1;
  Subject a = modeltest::makeSubject({1.0, M, 2.0}, {1.0, 2.0, M});
  a.tcov = {0.0, 0.0, 0.0};
  Subject b = modeltest::makeSubject({1.0, 1.0, 1.0}, {1.0, 2.0, 3.0});
  b.tcov = {0.0, M, 0.0};
  s.subjects = {a, b};
  PreparedRun run = ready(s);
  const std::vector<double> x = {0.0, 0.0, 0.0};
  EXPECT_EQ(densityAt(run, x, 0, 0, 1), 1.0);  // outcome missing
  EXPECT_EQ(densityAt(run, x, 0, 0, 2), 1.0);  // time missing
  EXPECT_EQ(densityAt(run, x, 0, 1, 1), 1.0);  // covariate missing
  EXPECT_NEAR(densityAt(run, x, 0, 1, 0), pdf(1.0), 1e-15);
}

TEST(Densities, ZeroOnlyFirstGroup) {
  Scenario s;
  s.nPeriods = 2;
  s.orders = {-1, 1};
  s.subjects = {modeltest::makeSubject({0.0, 2.5}, {1.0, 2.0})};
  PreparedRun run = ready(s);
  const std::vector<double> x = {0.5, 0.5, 0.0, 0.0};
  EXPECT_TRUE(isZeroOnlyGroup(*run.ctx, 0, 0));
  EXPECT_FALSE(isZeroOnlyGroup(*run.ctx, 0, 1));
  EXPECT_EQ(densityAt(run, x, 0, 0, 0), 1.0);
  EXPECT_EQ(densityAt(run, x, 0, 0, 1), 0.0);
  EXPECT_EQ(groupBlocks(*run.ctx, 0, 1).trajectory, 0);  // group 0 takes no parameters
  EXPECT_NEAR(densityAt(run, x, 1, 0, 1), pdf(2.5 - 1.5), 1e-15);
  // In a multi-trajectory run the rule does not apply.
  run.ctx->isMultModel = true;
  EXPECT_FALSE(isZeroOnlyGroup(*run.ctx, 0, 0));
}

Scenario dropoutScenario() {
  Scenario s;
  s.nPeriods = 5;
  s.orders = {0};
  s.dropoutOrders = {1};
  s.dcovPerPeriod = 1;
  s.exempt = true;
  auto subject = [](std::vector<double> y) {
    Subject a = modeltest::makeSubject(std::move(y), {1, 2, 3, 4, 5});
    a.dcov = {0.1, 0.2, 0.3, 0.4, 0.5};
    return a;
  };
  Subject complete = subject({1, 2, 3, 4, 5});
  Subject dropsAt2 = subject({1, 2, M, M, M});
  Subject exempt = subject({1, 2, M, M, M});
  exempt.exempt = 1;
  Subject lateStart = subject({M, 1, 2, 3, 4});
  Subject gap = subject({1, M, 3, 4, 5});
  Subject covariateMissing = subject({1, 2, 3, 4, 5});
  covariateMissing.dcov[3] = M;
  Subject noData = subject({M, M, M, M, M});
  Subject notSelected = subject({1, 2, 3, 4, 5});
  notSelected.selected = false;
  s.subjects = {complete, dropsAt2, exempt, lateStart, gap, covariateMissing, noData, notSelected};
  return s;
}

TEST(Densities, DropoutFactorExistenceRules) {
  PreparedRun run = ready(dropoutScenario());
  const ModelContext& c = *run.ctx;
  // Trajectory (1), dropout block (constant, lag-1 outcome, covariate), sigma.
  const std::vector<double> x = {0.0, -1.0, 0.3, 0.8, 0.0};
  ASSERT_EQ(c.dropoutStart, 1);
  auto exists = [&](int i, int j) { return dropoutProb(x.data(), c, 0, i, j, 1).has_value(); };
  auto p = [&](int i, int j) {
    return logistic(-1.0 + 0.3 * run.host->data[i][j - 1] + 0.8 * (j + 1) * 0.1);
  };
  // Complete subject: factors for j = 1..4, all "stays": 1 - p.
  EXPECT_FALSE(exists(0, 0));
  for (int j = 1; j < 5; ++j) EXPECT_NEAR(*dropoutProb(x.data(), c, 0, 0, j, 1), 1.0 - p(0, j), 1e-15);
  // Drops out after period 1: stays at 1, drops at 2 (= lastPeriod), nothing after.
  EXPECT_NEAR(*dropoutProb(x.data(), c, 0, 1, 1, 1), 1.0 - p(1, 1), 1e-15);
  EXPECT_NEAR(*dropoutProb(x.data(), c, 0, 1, 2, 1), p(1, 2), 1e-15);
  EXPECT_FALSE(exists(1, 3));
  for (int j = 0; j < 5; ++j) {
    EXPECT_FALSE(exists(2, j)) << "exempt, period " << j;
    EXPECT_FALSE(exists(6, j)) << "no data, period " << j;
    EXPECT_FALSE(exists(7, j)) << "excluded, period " << j;
  }
  // First observed period 1: factors only after it.
  EXPECT_FALSE(exists(3, 1));
  EXPECT_TRUE(exists(3, 2));
  // A missing lagged outcome or dropout covariate means no factor.
  EXPECT_TRUE(exists(4, 1));
  EXPECT_FALSE(exists(4, 2));
  EXPECT_TRUE(exists(4, 3));
  EXPECT_TRUE(exists(5, 2));
  EXPECT_FALSE(exists(5, 3));
}

TEST(Densities, DropoutOrderAndCompleteLengthLimits) {
  PreparedRun run = ready(dropoutScenario());
  ModelContext& c = *run.ctx;
  EXPECT_EQ(c.completeLength, 5);
  // With order 2 the first factor needs two lags: period 2 onwards.
  EXPECT_FALSE(dropoutPeriodEligible(c, 2, 0, 1));
  EXPECT_TRUE(dropoutPeriodEligible(c, 2, 0, 2));
  EXPECT_FALSE(dropoutPeriodEligible(c, -1, 0, 3));
  c.completeLength = 3;  // j must stay below firstPeriod + completeLength
  EXPECT_TRUE(dropoutPeriodEligible(c, 1, 3, 3));
  EXPECT_FALSE(dropoutPeriodEligible(c, 1, 3, 4));
}

TEST(Densities, OutcomeAnalysisDensities) {
  ModelContext c;
  c.outcomeValue = {0.0, 1.0, 3.0, -2.0, 9.0};
  c.omodelKind = kLogit;
  EXPECT_NEAR(outcomeDensity(c, 0, 0.4, 0, 0), 1.0 - logistic(0.4), 1e-15);
  EXPECT_NEAR(outcomeDensity(c, 2, 0.4, 0, 0), logistic(0.4), 1e-15);
  c.omodelKind = kCnorm;
  EXPECT_NEAR(outcomeDensity(c, 2, 1.0, 2.0, 0) / (pdf(1.0) / 2.0), 1.0, 1e-14);
  c.hasOutcomeCensorMin = true;
  c.outcomeCensorMin = -2.0;
  c.hasOutcomeCensorMax = true;
  c.outcomeCensorMax = 9.0;
  EXPECT_NEAR(outcomeDensity(c, 3, 1.0, 2.0, 0), Phi(-1.5), 1e-15);
  EXPECT_NEAR(outcomeDensity(c, 4, 1.0, 2.0, 0), 1.0 - Phi(4.0), 1e-15);
  c.omodelKind = kZip;
  EXPECT_NEAR(outcomeDensity(c, 0, 0.5, 0, 0.2), 0.2 + 0.8 * std::exp(-std::exp(0.5)), 1e-15);
  EXPECT_NEAR(outcomeDensity(c, 2, 0.5, 0, 0.2) / (0.8 * poisson(3, std::exp(0.5))), 1.0, 2.5e-11);  // logGamma's series error
  EXPECT_EQ(outcomeDensity(c, 2, -719.0, 0, 0.0), 0.0);  // rate below DBL_MIN
}

}  // namespace
}  // namespace kurv
