// Covariance of the estimates on a normal sample in (mean, log sd), whose
// information matrix is known in closed form, in both gradient modes; the
// singular Hessian, the skipped computation and the weighted sandwich form.

#include <gtest/gtest.h>

#include <cmath>
#include <numeric>

#include "engine/covariance.h"
#include "support/memory_host.h"
#include "test_problems.h"

namespace kurv::testing {
namespace {

constexpr int kN = 10;

// Per-subject score of f_i = log σ + (y_i − μ)²/(2σ²), θ = (μ, log σ).
void subjectScore(double y, const double* p, double* s) {
  const double s2 = std::exp(2 * p[1]);
  const double d = y - p[0];
  s[0] = -d / s2;
  s[1] = 1 - d * d / s2;
}

int normalLikelihood(int, const double* x, double* f, ModelContext*) {
  *f = normalF(x);
  return 0;
}
// The gradient also accumulates B = Σ sᵢsᵢᵀ, as the model gradients do for
// weighted data (all weights 1 here).
int normalGradient(int, const double* x, int*, double* g, ModelContext* ctx) {
  normalG(x, g);
  ctx->scoreOuterSum.assign(4, 0.0);
  for (double y : kNormalY) {
    double s[2];
    subjectScore(y, x, s);
    for (int i = 0; i < 2; ++i)
      for (int j = 0; j < 2; ++j) ctx->scoreOuterSum[i * 2 + j] += s[i] * s[j];
  }
  return 0;
}

struct Estimates {
  double mean, variance;  // maximum-likelihood values
};
Estimates closedForm() {
  const double mean = std::accumulate(std::begin(kNormalY), std::end(kNormalY), 0.0) / kN;
  double ss = 0.0;
  for (double y : kNormalY) ss += (y - mean) * (y - mean);
  return {mean, ss / kN};
}

struct Fixture {
  MemoryHost host;
  ModelContext ctx;
  MinimizerState state;
  Fixture() {
    ctx.host = &host;
    ctx.nParams = 2;
    ctx.nMeasurements = kN;
    const Estimates e = closedForm();
    ctx.params = {e.mean, 0.5 * std::log(e.variance)};
  }
  // Fits in difference mode so that the state carries the minimizer's final
  // Hessian-diagonal estimates and gradient, as after a real fit.
  void fitByDifferences() {
    std::vector<double> d(2, 1.0);
    ctx.params = {0.0, 0.0};
    setMinimizerDefaults(kGeneralMinimization, realWorkLength(2), state);
    setMinimizerIntegerSettings(state);
    double f = 0.0;
    for (;;) {
      minimizeWithDifferences(state, d, f, kIntWorkLength, realWorkLength(2), 2, ctx.params);
      if (state.returnCode >= kFirstFinalCode) break;
      normalLikelihood(2, ctx.params.data(), &f, &ctx);
    }
    ASSERT_EQ(state.returnCode, kRelFuncConvergence);
  }
};

TEST(Covariance, NormalSampleInverseInformationInBothModes) {
  const Estimates e = closedForm();
  // H = diag(N/σ², 2N) at the estimates; covariance H⁻¹·N/(N − 1).
  const double seMean = std::sqrt(e.variance / kN * kN / (kN - 1));
  const double seLogSd = std::sqrt(1.0 / (2 * kN) * kN / (kN - 1));
  for (bool gradientMode : {true, false}) {
    SCOPED_TRACE(gradientMode ? "gradient" : "difference");
    Fixture fx;
    if (!gradientMode) fx.fitByDifferences();
    const std::vector<double> estimates = fx.ctx.params;
    const double tolerance = gradientMode ? 1e-7 : 1e-4;
    const int code = computeCovariance(fx.ctx, normalLikelihood,
                                       gradientMode ? normalGradient : nullptr, fx.state);
    EXPECT_EQ(code, 0);
    EXPECT_EQ(fx.ctx.params, estimates);  // restored bit for bit
    ASSERT_EQ(fx.ctx.stdErrors.size(), 2u);
    EXPECT_NEAR(fx.ctx.stdErrors[0], seMean, tolerance * seMean);
    EXPECT_NEAR(fx.ctx.stdErrors[1], seLogSd, tolerance * seLogSd);
    ASSERT_EQ(fx.ctx.covariance.size(), 4u);
    EXPECT_NEAR(fx.ctx.covariance[1], 0.0, tolerance * seMean * seLogSd);
    EXPECT_EQ(fx.ctx.stdErrors[0], std::sqrt(fx.ctx.covariance[0]));
    EXPECT_EQ(fx.host.displayed, "");
  }
}

TEST(Covariance, WeightedDataGiveTheSandwich) {
  Fixture fx;
  fx.ctx.hasWeights = true;
  const Estimates e = closedForm();
  // B from the subjects' scores at the estimates; H diagonal, so
  // (H⁻¹BH⁻¹)ᵢⱼ = Bᵢⱼ/(HᵢᵢHⱼⱼ), with no small-sample factor.
  double b[4] = {0, 0, 0, 0};
  for (double y : kNormalY) {
    double s[2];
    subjectScore(y, fx.ctx.params.data(), s);
    for (int i = 0; i < 2; ++i)
      for (int j = 0; j < 2; ++j) b[i * 2 + j] += s[i] * s[j];
  }
  const double h[2] = {kN / e.variance, 2.0 * kN};
  ASSERT_EQ(computeCovariance(fx.ctx, normalLikelihood, normalGradient, fx.state), 0);
  for (int i = 0; i < 2; ++i)
    for (int j = 0; j < 2; ++j) {
      const double expected = b[i * 2 + j] / (h[i] * h[j]);
      EXPECT_NEAR(fx.ctx.covariance[i * 2 + j], std::fabs(expected), 1e-6 * std::fabs(expected) + 1e-15);
    }
  EXPECT_EQ(fx.ctx.stdErrors[1], std::sqrt(fx.ctx.covariance[3]));
}

// The likelihood ignores its second parameter: that column of H is zero.
int flatLikelihood(int, const double* x, double* f, ModelContext*) {
  *f = (x[0] - 1) * (x[0] - 1) + 2;
  return 0;
}
int flatGradient(int, const double* x, int*, double* g, ModelContext*) {
  g[0] = 2 * (x[0] - 1);
  g[1] = 0.0;
  return 0;
}

TEST(Covariance, SingularHessianLeavesStandardErrorsMissing) {
  Fixture fx;
  fx.ctx.params = {1.0, 0.3};
  EXPECT_EQ(computeCovariance(fx.ctx, flatLikelihood, flatGradient, fx.state), 2);
  EXPECT_EQ(fx.host.displayed, "  iflt 2 tp 2");
  EXPECT_EQ(fx.ctx.covFailCode, 2);
  EXPECT_EQ(fx.ctx.stdErrors, (std::vector<double>{kHostMissing, kHostMissing}));
  EXPECT_EQ(fx.ctx.params, (std::vector<double>{1.0, 0.3}));
}

// A curvature of 1e-17 along the first parameter: not exactly singular, but
// below the 2⁻⁵² pivot threshold.
int nearlyFlatLikelihood(int, const double* x, double* f, ModelContext*) {
  *f = 0.5e-17 * x[0] * x[0] + 0.5 * x[1] * x[1] + 2;
  return 0;
}
int nearlyFlatGradient(int, const double* x, int*, double* g, ModelContext*) {
  g[0] = 1e-17 * x[0];
  g[1] = x[1];
  return 0;
}

TEST(Covariance, TinyFirstPivotIsReportedAsSingular) {
  Fixture fx;
  fx.ctx.params = {0.0, 0.0};
  EXPECT_EQ(computeCovariance(fx.ctx, nearlyFlatLikelihood, nearlyFlatGradient, fx.state), 1);
  EXPECT_EQ(fx.host.displayed, "  iflt 1 tp 2");
}

TEST(Covariance, DifferenceModeOfTheRunOverridesTheAnalyticGradient) {
  // With the run in difference mode the analytic gradient only feeds the
  // sandwich; the Hessian comes from differences and so differs from the
  // analytic-gradient one in the last digits.
  Fixture analytic, differences;
  differences.fitByDifferences();
  analytic.ctx.params = differences.ctx.params;
  differences.ctx.useDifferenceMode = true;
  computeCovariance(analytic.ctx, normalLikelihood, normalGradient, analytic.state);
  computeCovariance(differences.ctx, normalLikelihood, normalGradient, differences.state);
  EXPECT_NE(analytic.ctx.covariance, differences.ctx.covariance);
  EXPECT_NEAR(analytic.ctx.stdErrors[0], differences.ctx.stdErrors[0], 1e-4 * analytic.ctx.stdErrors[0]);
}

int countingLikelihood(int, const double*, double* f, ModelContext* ctx) {
  ctx->cursorSubject += 1;
  *f = 0.0;
  return 0;
}

TEST(Covariance, NoStdErrorsSkipsEverything) {
  Fixture fx;
  fx.ctx.noStdErrors = 1;
  EXPECT_EQ(computeCovariance(fx.ctx, countingLikelihood, flatGradient, fx.state), 1);
  EXPECT_EQ(fx.ctx.cursorSubject, 0);
  EXPECT_EQ(fx.ctx.stdErrors, (std::vector<double>{kHostMissing, kHostMissing}));
  EXPECT_TRUE(fx.ctx.covariance.empty());
}

}  // namespace
}  // namespace kurv::testing
