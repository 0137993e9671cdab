// Expected measurements with delta-method variances: closed forms, and the
// gradient of the expected value against central finite differences.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "report/expected_trajectory.h"
#include "report_test_context.h"

namespace kurv {
namespace {

using testing::MemoryHost;

struct Point {
  std::vector<double> mean, variance;
};

Point evaluate(ModelContext& ctx, double t, double exposure = 1.0) {
  Point p{std::vector<double>(ctx.nGroups[0]), std::vector<double>(ctx.nGroups[0])};
  expectedTrajectoryPoint(t, exposure, p.mean, p.variance, ctx);
  return p;
}

// Central differences of the expected value of group `g` with respect to
// every parameter (step scaled to the parameter).
std::vector<double> finiteDifferenceGradient(ModelContext& ctx, int g, double t, double exposure) {
  std::vector<double> grad(ctx.nParams);
  const std::vector<double> base = ctx.params;
  for (int k = 0; k < ctx.nParams; ++k) {
    const double h = 1e-6 * (std::fabs(base[k]) + 1.0);
    ctx.params[k] = base[k] + h;
    const double up = evaluate(ctx, t, exposure).mean[g];
    ctx.params[k] = base[k] - h;
    const double down = evaluate(ctx, t, exposure).mean[g];
    ctx.params = base;
    grad[k] = (up - down) / (2 * h);
  }
  return grad;
}

// Checks the analytic gradient left in derivativeWork for the last group and
// the variance d' C d with a dense covariance. The CNORM scale's own
// uncertainty is left out of the bands, so its entry is taken as 0.
void expectGradientMatchesDifferences(ModelContext& ctx, double t, double exposure, double tol) {
  const int last = ctx.nGroups[0] - 1;
  std::vector<double> fd = finiteDifferenceGradient(ctx, last, t, exposure);
  if (ctx.modelKind[0] == kCnorm) fd[ctx.scaleIndex[0]] = 0.0;
  const Point p = evaluate(ctx, t, exposure);
  const std::vector<double> d = ctx.derivativeWork;
  for (int k = 0; k < ctx.nParams; ++k) EXPECT_NEAR(d[k], fd[k], tol) << "parameter " << k;
  double v = 0.0;
  for (int r = 0; r < ctx.nParams; ++r)
    for (int c = 0; c < ctx.nParams; ++c) v += fd[r] * ctx.covariance[r * ctx.nParams + c] * fd[c];
  EXPECT_NEAR(p.variance[last], v, 1e-6 * (std::fabs(v) + 1e-3));
}

// A dense positive definite covariance: diagonal s^2 plus a common 0.001.
void denseCovariance(ModelContext& ctx) {
  const int n = ctx.nParams;
  ctx.covariance.assign(n * n, 0.001);
  for (int k = 0; k < n; ++k) ctx.covariance[k * n + k] = 0.01 * (k + 1);
}

TEST(ExpectedTrajectory, CnormWithFarBoundsIsTheLinearPredictor) {
  MemoryHost host;
  ModelContext ctx = testing::twoGroupCnorm(host);
  const Point p = evaluate(ctx, 2.0);
  EXPECT_NEAR(p.mean[0], 10.0 + 0.5 * 2.0, 1e-12);
  EXPECT_NEAR(p.mean[1], 20.0 - 2.0 + 0.05 * 4.0, 1e-12);
  // Diagonal covariance: var = sum over coefficients of (t^p)^2 se_p^2.
  EXPECT_NEAR(p.variance[0], 4.0 + 4.0 * 0.0625, 1e-12);
}

TEST(ExpectedTrajectory, CensoredNormalMeanAndItsExactSlope) {
  MemoryHost host;
  ModelContext ctx = testing::twoGroupCnorm(host);
  // E[max(X, 0)] for X ~ N(0, 1) is phi(0) = 1/sqrt(2 pi).
  ctx.censorMin[0] = 0.0;
  ctx.params = {0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0};
  EXPECT_NEAR(evaluate(ctx, 1.0).mean[0], 0.3989422804014327, 1e-15);
  EXPECT_NEAR(ctx.derivativeWork[2], 0.5, 1e-15);  // last group: Phi(inf) - Phi(0)

  // Both bounds active, sigma = 2: slope Phi(z_hi) - Phi(z_lo) matches differences.
  ctx.censorMin[0] = 0.0;
  ctx.censorMax[0] = 10.0;
  ctx.params = {3.0, 0.5, 4.0, 1.5, -0.1, std::log(2.0), 0.3};
  denseCovariance(ctx);
  expectGradientMatchesDifferences(ctx, 2.5, 1.0, 1e-7);
}

TEST(ExpectedTrajectory, LogitMeanAndSlope) {
  MemoryHost host;
  ModelContext ctx = testing::handBuiltModel(host, kLogit, {1});
  testing::setFit(ctx, {0.0, 0.0}, {0.1, 0.1});
  EXPECT_DOUBLE_EQ(evaluate(ctx, 3.0).mean[0], 0.5);
  EXPECT_DOUBLE_EQ(ctx.derivativeWork[0], 0.25);
  EXPECT_DOUBLE_EQ(ctx.derivativeWork[1], 0.75);
  ctx.params = {-0.4, 0.3};
  denseCovariance(ctx);
  expectGradientMatchesDifferences(ctx, 1.7, 1.0, 1e-8);
}

TEST(ExpectedTrajectory, ZeroInflatedPoissonWithExposure) {
  MemoryHost host;
  ModelContext ctx = testing::handBuiltModel(host, kZip, {0, 2});
  ctx.nPeriods[0] = 3;
  ctx.nExposure[0] = 3;
  ctx.nInflOrder[0] = 2;
  ctx.inflOrder[0] = {0, 1};
  ctx.zipStart[0] = 4;
  // interc1 | interc2 linear2 quadra2 | alpha0g1 | alpha0g2 alpha1g2 | theta2
  testing::setFit(ctx, {0.1, 0.2, 0.3, -0.05, -2.0, -1.0, 0.4, 0.0},
                  std::vector<double>(8, 0.1));
  denseCovariance(ctx);
  const double t = 1.5, exposure = 2.0;
  const Point p = evaluate(ctx, t, exposure);
  const double lambda = std::exp(0.2 + 0.3 * t - 0.05 * t * t) * exposure;
  const double omega = 1.0 / (1.0 + std::exp(-(-1.0 + 0.4 * t)));
  EXPECT_NEAR(p.mean[1], (1.0 - omega) * lambda, 1e-12);
  const double omega1 = 1.0 / (1.0 + std::exp(2.0));
  EXPECT_NEAR(p.mean[0], (1.0 - omega1) * std::exp(0.1) * exposure, 1e-12);
  // The zero-inflation entries carry the factor lambda.
  expectGradientMatchesDifferences(ctx, t, exposure, 1e-7);
  EXPECT_NEAR(ctx.derivativeWork[5], lambda * (omega * omega - omega), 1e-12);
}

TEST(ExpectedTrajectory, PlotCovariatesMissingValuesAndEmptyGroups) {
  MemoryHost host;
  ModelContext ctx = testing::handBuiltModel(host, kLogit, {-1, 0});
  ctx.nPeriods[0] = 2;
  ctx.nTcov[0] = 4;
  ctx.tcovPerPeriod[0] = 2;
  // Covariate c at period j sits in column c * 2 + j.
  ctx.plotTcov = {1.0, 2.0, host.missingValue(), 5.0};
  // interc2 cov1 cov2 | theta2
  testing::setFit(ctx, {0.0, 0.5, 0.25, 0.0}, {0.1, 0.1, 0.1, 0.1});
  ctx.cursorPeriod = 1;  // period 2: covariate values 2.0 and 5.0
  Point p = evaluate(ctx, 1.0);
  EXPECT_NEAR(p.mean[1], 1.0 / (1.0 + std::exp(-(0.5 * 2.0 + 0.25 * 5.0))), 1e-15);
  EXPECT_EQ(p.mean[0], 0.0);  // a group of order -1
  EXPECT_EQ(p.variance[0], 0.0);
  ctx.cursorPeriod = 0;  // period 1: the second covariate is missing
  p = evaluate(ctx, 1.0);
  EXPECT_NEAR(p.mean[1], 1.0 / (1.0 + std::exp(-0.5)), 1e-15);
  EXPECT_EQ(ctx.derivativeWork[2], 0.0);

  // Without a covariance every variance is 0.
  std::fill(ctx.covariance.begin(), ctx.covariance.end(), 0.0);
  EXPECT_EQ(evaluate(ctx, 1.0).variance[1], 0.0);
}

}  // namespace
}  // namespace kurv
