// The pieces of an iteration checked against their mathematical definitions:
// the Newton and double-dogleg steps against the quadratic model, the
// factored BFGS update against the unfactored formula, the difference
// gradient against analytic derivatives, and one rule of the assessment.

#include <gtest/gtest.h>

#include <cmath>

#include "optim/difference_gradient.h"
#include "optim/packed_triangular.h"
#include "optim/secant_update.h"
#include "optim/trust_step.h"
#include "test_problems.h"

namespace kurv {
namespace {

using Dense = std::vector<std::vector<double>>;

// A well-conditioned lower-triangular factor, packed by rows.
const std::vector<double> kFactor = {2.0, 0.5, 1.5, -0.3, 0.4, 1.2};
const std::vector<double> kGradient = {0.7, -1.1, 0.4};

Dense hessianOf(const std::vector<double>& packed, int n) {
  Dense h(n, std::vector<double>(n, 0.0));
  for (int i = 0; i < n; ++i)
    for (int j = 0; j < n; ++j)
      for (int k = 0; k <= std::min(i, j); ++k)
        h[i][j] += packed[packedRowStart(i) + k] * packed[packedRowStart(j) + k];
  return h;
}
std::vector<double> times(const Dense& a, const std::vector<double>& x) {
  std::vector<double> y(x.size(), 0.0);
  for (std::size_t i = 0; i < x.size(); ++i)
    for (std::size_t j = 0; j < x.size(); ++j) y[i] += a[i][j] * x[j];
  return y;
}
double dot(const std::vector<double>& a, const std::vector<double>& b) {
  double s = 0.0;
  for (std::size_t i = 0; i < a.size(); ++i) s += a[i] * b[i];
  return s;
}

struct StepFixture {
  std::vector<double> v = std::vector<double>(3), s = std::vector<double>(3),
                      work = std::vector<double>(3);
  StepQuantities q;
  StepFixture() {
    computeNewtonStep(3, kFactor, kGradient, v, work, q);
    q.gradNorm = std::sqrt(dot(kGradient, kGradient));
  }
  void step(double radius) {
    q.radius = radius;
    doubleDoglegStep(kGradient, v, s, 0.8, q);
  }
};

TEST(TrustStep, NewtonStepSolvesTheModel) {
  StepFixture fx;
  const Dense h = hessianOf(kFactor, 3);
  const std::vector<double> hv = times(h, fx.v);
  for (int i = 0; i < 3; ++i) EXPECT_NEAR(hv[i], kGradient[i], 1e-14);
  EXPECT_NEAR(fx.q.newtonNorm, std::sqrt(dot(fx.v, fx.v)), 1e-15);
  EXPECT_NEAR(fx.q.rho * fx.q.rho, dot(kGradient, times(h, kGradient)), 1e-13);
}

TEST(TrustStep, NewtonStepInsideTheRegionIsTakenExactly) {
  StepFixture fx;
  fx.step(fx.q.newtonNorm * 1.5);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(fx.s[i], -fx.v[i]);
  EXPECT_EQ(fx.q.stepParam, 0.0);
  EXPECT_EQ(fx.q.stepNorm, fx.q.newtonNorm);
  EXPECT_NEAR(fx.q.predictedReduction, 0.5 * dot(kGradient, fx.v), 1e-15);
  EXPECT_EQ(fx.q.predictedReduction, fx.q.newtonReduction);
}

TEST(TrustStep, DoglegStepsLieOnTheBoundaryAndPredictTheModelReduction) {
  StepFixture fx;
  const Dense h = hessianOf(kFactor, 3);
  // Cauchy step outside the region, dogleg, scaled Newton step.
  for (double fraction : {0.05, 0.5, 0.97}) {
    SCOPED_TRACE(fraction);
    fx.step(fraction * fx.q.newtonNorm);
    EXPECT_NEAR(std::sqrt(dot(fx.s, fx.s)), fx.q.radius, 1e-14);
    EXPECT_GT(fx.q.stepParam, 0.0);
    EXPECT_NEAR(fx.q.dirDerivative, dot(kGradient, fx.s), 1e-14);
    const double model = -(dot(kGradient, fx.s) + 0.5 * dot(fx.s, times(h, fx.s)));
    EXPECT_NEAR(fx.q.predictedReduction, model, 1e-14);
    EXPECT_GT(fx.q.predictedReduction, 0.0);
  }
}

TEST(SecantUpdate, PlainBfgsWhenCurvatureIsPositive) {
  std::vector<double> l = kFactor, w(3), z(3), work(9);
  const std::vector<double> s = {0.3, -0.2, 0.5}, y = {1.4, -0.9, 1.1};
  const Dense h = hessianOf(kFactor, 3);
  const std::vector<double> hs = times(h, s);
  ASSERT_GE(dot(y, s), 0.1 * dot(s, hs));
  bfgsUpdateVectors(3, l, s, y, w, z);
  secantUpdateFactor(3, l, w, z, work);
  const Dense updated = hessianOf(l, 3);
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) {
      const double bfgs = h[i][j] - hs[i] * hs[j] / dot(s, hs) + y[i] * y[j] / dot(y, s);
      EXPECT_NEAR(updated[i][j], bfgs, 1e-13) << i << "," << j;
    }
}

TEST(SecantUpdate, DampedUpdateKeepsHPositiveDefinite) {
  std::vector<double> l = kFactor, w(3), z(3), work(9);
  const std::vector<double> s = {0.3, -0.2, 0.5}, y = {-0.6, 0.1, -0.2};  // yᵀs < 0
  const Dense h = hessianOf(kFactor, 3);
  const std::vector<double> hs = times(h, s);
  const double shs = dot(s, hs), ys = dot(y, s);
  ASSERT_LT(ys, 0.0);
  bfgsUpdateVectors(3, l, s, y, w, z);
  secantUpdateFactor(3, l, w, z, work);
  // Powell: the update satisfies the secant equation for ŷ = θy + (1−θ)Hs
  // with θ = 0.9·sᵀHs/(sᵀHs − yᵀs), whose curvature ŷᵀs is 0.1·sᵀHs > 0.
  const double theta = 0.9 * shs / (shs - ys);
  const std::vector<double> updatedHs = times(hessianOf(l, 3), s);
  for (int i = 0; i < 3; ++i) EXPECT_NEAR(updatedHs[i], theta * y[i] + (1 - theta) * hs[i], 1e-13);
  EXPECT_NEAR(dot(s, updatedHs), 0.1 * shs, 1e-13);
  // Positive definite: L⁺ is nonsingular.
  for (int i = 0; i < 3; ++i) EXPECT_GT(std::fabs(l[packedRowStart(i) + i]), 1e-3);
}

TEST(DifferenceGradient, MatchesAnalyticGradient) {
  const auto& p = testing::problemNamed("rosenbrock");
  std::vector<double> theta = {-1.2, 1.0}, g = {0.0, 0.0}, d = {1.0, 1.0}, exact(2);
  p.g(theta.data(), exact.data());
  // Curvature estimates: the true Hessian diagonal of the Rosenbrock function.
  const std::vector<double> alpha = {1200 * 1.44 - 400 * 1.0 + 2, 200};
  for (int pass = 0; pass < 2; ++pass) {  // from zeros, then from the last estimate
    DifferenceGradientState st;
    double f = p.f(theta.data());
    const std::vector<double> start = theta;
    while (differenceGradient(alpha, d, 1000 * 2.220446049250313e-16, f, g, st, theta)) {
      f = p.f(theta.data());
    }
    EXPECT_EQ(theta, start);
    EXPECT_EQ(f, p.f(start.data()));
    for (int i = 0; i < 2; ++i) EXPECT_NEAR(g[i], exact[i], 1e-6 * std::fabs(exact[i]));
  }
}

TEST(DifferenceGradient, NoCurvatureMeansAFullSizeForwardStep) {
  std::vector<double> theta = {3.0, 0.25}, g = {1.0, 1.0}, d = {1.0, 1.0};
  const std::vector<double> alpha = {0.0, 0.0};
  DifferenceGradientState st;
  double f = 1.0;
  ASSERT_TRUE(differenceGradient(alpha, d, 1e-13, f, g, st, theta));
  EXPECT_EQ(theta[0], 6.0);  // h = max(|θ|, 1) = 3
  f = 4.0;
  ASSERT_TRUE(differenceGradient(alpha, d, 1e-13, f, g, st, theta));
  EXPECT_EQ(g[0], 1.0);  // (4 − 1)/3
  EXPECT_EQ(theta[0], 3.0);
  EXPECT_EQ(theta[1], 1.25);  // h = max(0.25, 1) = 1
}

TEST(AssessStep, DecreaseBeyondTwicePredictionSkipsConvergenceTests) {
  const auto assessWith = [](double predicted) {
    MinimizerState st;
    setMinimizerDefaults(kGeneralMinimization, realWorkLength(1), st);
    st.theta0 = {1.0};
    st.step = {-0.5};
    st.savedStep = {0.0};
    std::vector<double> theta = {0.5}, d = {1.0};
    st.f0 = 10.0;
    st.f = 9.0;  // Δf = 1
    st.q.predictedReduction = predicted;
    st.q.dirDerivative = -2.0;
    st.q.stepNorm = 0.5;
    st.q.newtonNorm = 2.0;
    st.q.newtonReduction = 1e-12;  // below relFuncTol·|f₀|
    st.q.stepParam = 0.5;
    st.assess.code = 4;
    return assessStep(st, theta, d);
  };
  EXPECT_EQ(assessWith(0.6), 8);                  // relative function convergence
  EXPECT_EQ(assessWith(0.4), kAssessAcceptKeep);  // ½Δf > π: no tests
}

}  // namespace
}  // namespace kurv
