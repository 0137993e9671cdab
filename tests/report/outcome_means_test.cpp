// Expected outcome of each group with its 95% limits.
#include <gtest/gtest.h>

#include <cmath>

#include "report/outcome_means.h"
#include "report_test_context.h"

namespace kurv {
namespace {

using testing::MemoryHost;

// Simpson's rule for f over [a, b] with n (even) panels.
template <class F>
double simpson(F f, double a, double b, int n) {
  const double h = (b - a) / n;
  double sum = f(a) + f(b);
  for (int k = 1; k < n; ++k) sum += f(a + k * h) * (k % 2 ? 4 : 2);
  return sum * h / 3;
}

// E[min(max(X, lo), hi)] for X ~ N(eta, sigma^2) by quadrature of the
// piecewise smooth integrand over eta -+ 12 sigma (beyond, the tails carry
// less than 1e-30 of the mass), split at the censoring points.
double censoredMeanByQuadrature(double eta, double sigma, double lo, double hi) {
  auto density = [&](double x) {
    const double z = (x - eta) / sigma;
    return std::exp(-0.5 * z * z) / (sigma * std::sqrt(2 * M_PI));
  };
  const double a = std::min(lo, eta - 12 * sigma), b = std::max(hi, eta + 12 * sigma);
  return simpson([&](double x) { return lo * density(x); }, a, lo, 4000) +
         simpson([&](double x) { return x * density(x); }, lo, hi, 4000) +
         simpson([&](double x) { return hi * density(x); }, hi, b, 4000);
}

ModelContext outcomeRun(MemoryHost& host, int kind, std::vector<double> params, std::vector<double> se) {
  ModelContext ctx;
  ctx.host = &host;
  ctx.nGroups[0] = 2;
  ctx.hasOutcome = true;
  ctx.omodelKind = kind;
  ctx.outcomeStart = 1;
  testing::setFit(ctx, std::move(params), std::move(se));
  return ctx;
}

TEST(OutcomeGroupMeans, CensoredNormalAgainstQuadrature) {
  MemoryHost host;
  // theta2 | group constants 0.5, 2.5 | log sigma_o = log 1.5
  ModelContext ctx = outcomeRun(host, kCnorm, {0.0, 0.5, 2.5, std::log(1.5)}, {0.1, 0.4, 0.3, 0.1});
  ctx.hasOutcomeCensorMin = ctx.hasOutcomeCensorMax = true;
  ctx.outcomeCensorMin = 0.0;
  ctx.outcomeCensorMax = 3.0;
  outcomeGroupMeans(ctx);
  for (int k = 0; k < 2; ++k) {
    const double eta = ctx.params[1 + k], se = ctx.stdErrors[1 + k];
    EXPECT_NEAR(ctx.outcomeGroupMean[k], censoredMeanByQuadrature(eta, 1.5, 0.0, 3.0), 1e-10);
    EXPECT_NEAR(ctx.outcomeGroupLower[k], censoredMeanByQuadrature(eta - 1.96 * se, 1.5, 0.0, 3.0), 1e-10);
    EXPECT_NEAR(ctx.outcomeGroupUpper[k], censoredMeanByQuadrature(eta + 1.96 * se, 1.5, 0.0, 3.0), 1e-10);
    EXPECT_LT(ctx.outcomeGroupLower[k], ctx.outcomeGroupMean[k]);
    EXPECT_GT(ctx.outcomeGroupUpper[k], ctx.outcomeGroupMean[k]);
  }
  // Only a lower bound: E[max(X, 0)] for X ~ N(0, 1) is 1/sqrt(2 pi).
  ctx.hasOutcomeCensorMax = false;
  ctx.params = {0.0, 0.0, 0.0, 0.0};
  outcomeGroupMeans(ctx);
  EXPECT_NEAR(ctx.outcomeGroupMean[0], 0.3989422804014327, 1e-15);
}

TEST(OutcomeGroupMeans, LogitInterval) {
  MemoryHost host;
  ModelContext ctx = outcomeRun(host, kLogit, {0.0, 0.0, 1.0}, {0.1, 1.0, 0.5});
  outcomeGroupMeans(ctx);
  EXPECT_DOUBLE_EQ(ctx.outcomeGroupMean[0], 0.5);
  EXPECT_NEAR(ctx.outcomeGroupLower[0], 0.1234670475652, 1e-12);  // R: plogis(-1.96)
  EXPECT_NEAR(ctx.outcomeGroupUpper[0], 0.8765329524348, 1e-12);
  EXPECT_NEAR(ctx.outcomeGroupMean[1], 1.0 / (1.0 + std::exp(-1.0)), 1e-15);
}

TEST(OutcomeGroupMeans, PoissonAndZeroInflatedIntervalsContainTheMean) {
  MemoryHost host;
  ModelContext ctx = outcomeRun(host, kZip, {0.0, 1.0, 2.0, 0.0}, {0.1, 0.2, 0.1, 0.3});
  outcomeGroupMeans(ctx);  // no zero inflation: the extra constant is unused
  EXPECT_DOUBLE_EQ(ctx.outcomeGroupMean[0], std::exp(1.0));
  EXPECT_DOUBLE_EQ(ctx.outcomeGroupLower[0], std::exp(1.0 - 1.96 * 0.2));
  EXPECT_DOUBLE_EQ(ctx.outcomeGroupUpper[0], std::exp(1.0 + 1.96 * 0.2));

  ctx.outcomeHasZeroInflation = true;  // omega = logistic(0) = 1/2
  outcomeGroupMeans(ctx);
  for (int k = 0; k < 2; ++k) {
    const double eta = ctx.params[1 + k], se = ctx.stdErrors[1 + k];
    EXPECT_NEAR(ctx.outcomeGroupMean[k], 0.5 * std::exp(eta), 1e-12);
    EXPECT_NEAR(ctx.outcomeGroupLower[k], 0.5 * std::exp(eta - 1.96 * se), 1e-12);
    EXPECT_NEAR(ctx.outcomeGroupUpper[k], 0.5 * std::exp(eta + 1.96 * se), 1e-12);
  }
}

}  // namespace
}  // namespace kurv
