// The numerical pieces against mathematical truths: the steps against the
// quadratic model, the factored BFGS update against the update of H, the
// difference gradient against analytic derivatives, LU against closed forms,
// and the covariance of a normal sample against its closed-form information.

#include <gtest/gtest.h>

#include "optim/covariance.h"
#include "optim/difference_gradient.h"
#include "optim/lu.h"
#include "optim/packed_triangular.h"
#include "optim/secant_update.h"
#include "optim/trust_step.h"
#include "support/memory_host.h"
#include "test_problems.h"

namespace kurv::testing {
namespace {

// A well-conditioned factor L of H = L·Lᵀ, packed by rows, and a gradient.
const Point kFactor = {2.0, 0.5, 1.5, -0.3, 0.4, 1.2}, kGradient = {0.7, -1.1, 0.4};

double dot(const Point& a, const Point& b) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }
Point hessianTimes(const Point& l, const Point& x) {  // L·Lᵀ·x
  Point y(3, 0.0);
  for (int i = 0; i < 27; ++i) {
    const int r = i / 9, c = i / 3 % 3, k = i % 3;
    if (k <= std::min(r, c)) y[r] += l[packedRowStart(r) + k] * l[packedRowStart(c) + k] * x[c];
  }
  return y;
}

TEST(TrustStep, NewtonAndDoglegStepsAgainstTheQuadraticModel) {
  Point v(3), s(3), work(3);
  StepQuantities q;
  computeNewtonStep(3, kFactor, kGradient, v, work, q);
  for (int i = 0; i < 3; ++i) EXPECT_NEAR(hessianTimes(kFactor, v)[i], kGradient[i], 1e-14);  // H·v = g
  EXPECT_NEAR(q.newtonNorm, std::sqrt(dot(v, v)), 1e-15);
  EXPECT_NEAR(q.rho * q.rho, dot(kGradient, hessianTimes(kFactor, kGradient)), 1e-13);
  q.gradNorm = std::sqrt(dot(kGradient, kGradient));
  // The Cauchy step has length 0.82·‖v‖, the relaxed Newton step 0.89·‖v‖:
  // radii of 0.05, 0.86 and 0.97·‖v‖ give a steepest-descent step, a true
  // dogleg and a scaled Newton step on the boundary; beyond ‖v‖ the Newton
  // step is taken whole. Each predicts the reduction of m(s) = gᵀs + ½sᵀHs.
  for (double fraction : {0.05, 0.86, 0.97, 1.5}) {
    q.radius = fraction * q.newtonNorm;
    doubleDoglegStep(kGradient, v, s, 0.8, q);
    EXPECT_NEAR(std::sqrt(dot(s, s)), std::min(q.radius, q.newtonNorm), 1e-14) << fraction;
    EXPECT_NEAR(q.stepNorm, std::min(q.radius, q.newtonNorm), 1e-14) << fraction;
    EXPECT_EQ(q.stepParam > 0.0, fraction < 1) << fraction;
    EXPECT_NEAR(q.dirDerivative, dot(kGradient, s), 1e-14) << fraction;
    EXPECT_NEAR(q.predictedReduction, -(dot(kGradient, s) + 0.5 * dot(s, hessianTimes(kFactor, s))), 1e-14) << fraction;
  }
  EXPECT_EQ(s, (Point{-v[0], -v[1], -v[2]}));
  EXPECT_EQ(q.predictedReduction, q.newtonReduction);
}

// The factored update of L against the update of H = L·Lᵀ by its definition:
// H⁺ = H − HssᵀH/sᵀHs + ŷŷᵀ/ŷᵀs, with ŷ = y when yᵀs ≥ 0.1·sᵀHs and otherwise
// Powell's ŷ = θy + (1−θ)Hs, θ = 0.9·sᵀHs/(sᵀHs − yᵀs), whose curvature ŷᵀs
// is 0.1·sᵀHs > 0, so that H⁺ stays positive definite and H⁺s = ŷ.
TEST(SecantUpdate, DampedBfgsUpdate) {
  const Point s = {0.3, -0.2, 0.5}, hs = hessianTimes(kFactor, s);
  for (const Point& y : {Point{1.4, -0.9, 1.1}, Point{-0.6, 0.1, -0.2}}) {
    const double shs = dot(s, hs), ys = dot(y, s), theta = ys >= 0.1 * shs ? 1.0 : 0.9 * shs / (shs - ys);
    Point yHat(3), l = kFactor, w(3), z(3), work(9);
    for (int i = 0; i < 3; ++i) yHat[i] = theta * y[i] + (1 - theta) * hs[i];
    bfgsUpdateVectors(3, l, s, y, w, z);
    secantUpdateFactor(3, l, w, z, work);
    for (int i = 0; i < 9; ++i) {  // column i / 3 of H⁺, row i % 3
      Point e(3, 0.0);
      e[i / 3] = 1;
      const double update = -hs[i / 3] * hs[i % 3] / shs + yHat[i / 3] * yHat[i % 3] / dot(yHat, s);
      EXPECT_NEAR(hessianTimes(l, e)[i % 3], hessianTimes(kFactor, e)[i % 3] + update, 1e-13) << i;
    }
    for (int i = 0; i < 3; ++i) EXPECT_GT(std::fabs(l[packedRowStart(i) + i]), 1e-3);  // L⁺ nonsingular
    EXPECT_NEAR(dot(s, hessianTimes(l, s)), std::max(ys, 0.1 * shs), 1e-13);
  }
}

TEST(DifferenceGradient, MatchesAnalyticGradient) {
  const TestProblem& p = problemNamed("rosenbrock");
  Point theta = p.start, g = {0.0, 0.0}, exact(2);
  p.fg(theta.data(), exact.data());
  const Point alpha = {1200 * 1.44 - 400 * 1.0 + 2, 200};  // the true Hessian diagonal as curvature estimates
  for (int pass = 0; pass < 2; ++pass) {                    // from zeros, then from the last estimate
    DifferenceGradientState st;
    double f = p.f(theta);
    while (differenceGradient(alpha, Point{1, 1}, 1000 * 2.220446049250313e-16, f, g, st, theta)) f = p.f(theta);
    EXPECT_EQ(theta, p.start);
    EXPECT_EQ(f, p.f(theta));
    for (int i = 0; i < 2; ++i) EXPECT_NEAR(g[i], exact[i], 1e-6 * std::fabs(exact[i]));
  }
}

TEST(LuFactorisation, InverseDeterminantAndSingularColumns) {
  // Determinants by cofactor expansion. info names the last singular column:
  // for n = 1 only an exact zero; in columns 1 … n−1 a pivot below 2⁻⁵² too.
  const struct {
    std::vector<Point> rows;
    double det;
    int info;
  } cases[] = {{{{0, 2, 1}, {3, -1, 2}, {4, 1, -2}}, -2 * (3 * -2 - 2 * 4) + 1 * (3 * 1 - -1 * 4), 0},
               {{{4, 7}, {2, 6}}, 4 * 6 - 7 * 2, 0}, {{{1, 0, 0}, {0, 1, 0}, {0, 0, 1}}, 1, 0},
               {{{0, 1}, {1, 0}}, -1, 0}, {{{20, 0}, {0, 5}}, 100, 0}, {{{1e-3, 0}, {0, 2e-4}}, 2e-7, 0},
               {{{1e-17}}, 1e-17, 0}, {{{0.0}}, 0, 1}, {{{1e-17, 0}, {0, 1}}, 1e-17, 1},
               {{{1, 2, 3}, {2, 4, 6}, {1, 1, 1}}, 0, 3}, {{{0, 1}, {0, 2}}, 0, 1}, {{{1, 1}, {1, 1}}, 0, 2}};
  for (const auto& c : cases) {
    const int n = static_cast<int>(c.rows.size()), lda = n + 2;  // column-major, two rows of padding
    Point a(lda * n, -7.0), work(n);
    for (int i = 0; i < n * n; ++i) a[i / n * lda + i % n] = c.rows[i % n][i / n];
    std::vector<int> pivots(n);
    int info = -1;
    double det[2];
    factorLU(a.data(), lda, n, pivots.data(), info);
    ASSERT_EQ(info, c.info) << c.det;
    if (info != 0) continue;
    invertLU(a.data(), lda, n, pivots.data(), det, work.data(), 11);
    EXPECT_NEAR(det[0] * std::pow(10.0, det[1]), c.det, 1e-12 * std::fabs(c.det));
    EXPECT_TRUE(std::fabs(det[0]) >= 1 && std::fabs(det[0]) < 10) << det[0];  // det[0]·10^det[1]
    for (int i = 0; i < n * n; ++i) {                                         // A·A⁻¹ = I
      double s = 0.0;
      for (int k = 0; k < n; ++k) s += c.rows[i % n][k] * a[i / n * lda + k];
      EXPECT_NEAR(s, i % n == i / n ? 1.0 : 0.0, 1e-14) << i;
    }
    for (int i = n * lda; i-- > 0;) EXPECT_TRUE(i % lda < n || a[i] == -7.0);  // padding untouched
  }
}

// B = Σ sᵢsᵢᵀ of the per-subject scores of f_i = log σ + (y_i − μ)²/(2σ²),
// which the model gradients accumulate for weighted data (all weights 1 here).
Point scoreOuterSum(const double* p) {
  Point b(4, 0.0);
  for (double y : kNormalY) {
    const double s[] = {-(y - p[0]) / std::exp(2 * p[1]), 1 - (y - p[0]) * (y - p[0]) / std::exp(2 * p[1])};
    for (int i = 0; i < 4; ++i) b[i] += s[i / 2] * s[i % 2];
  }
  return b;
}
int gradientWithScores(int n, const double* p, int* index, double* g, ModelContext* ctx) {
  ctx->scoreOuterSum = scoreOuterSum(p);
  return problemGradient(n, p, index, g, ctx);
}
// H singular in column 2.
double flatAlong2(const double* x, double* g) {
  if (g) g[0] = 2 * (x[0] - 1), g[1] = 0;
  return (x[0] - 1) * (x[0] - 1) + 2;
}

TEST(Covariance, AgainstTheClosedFormInformation) {
  // The normal sample: H = diag(N/σ², 2N) at the estimates (σ² = 0.6489), the
  // covariance H⁻¹·N/(N − 1); with weights the sandwich H⁻¹BH⁻¹, here
  // Bᵢⱼ/(HᵢᵢHⱼⱼ), with no small-sample factor. A singular H, or no standard
  // errors wanted, leaves them missing. Tolerances relative to √(CᵢᵢCⱼⱼ);
  // largest deviations over the six OpenBLAS kernels: 1.9e-11 from analytic
  // gradients, 2.8e-6 from difference gradients (the fit by differences ends
  // within 1e-7 of θ̂), 7.6e-11 for the sandwich.
  const TestProblem &normal = problemNamed("normal"), flat{{1, 0.3}, {}, flatAlong2};
  const double h[] = {10 / 0.6489, 20};
  const Point inverse = {1 / h[0] / 0.9, 0, 0, 1 / h[1] / 0.9}, b = scoreOuterSum(normal.minimizer.data());
  Point sandwich(4);
  for (int i = 0; i < 4; ++i) sandwich[i] = std::fabs(b[i] / (h[i / 2] * h[i % 2]));
  const struct {
    const TestProblem& problem;
    bool differences, differenceMode, weights;  // fit by differences; the run's mode; weighted data
    GradientCallback gradient;
    int noStdErrors, code;
    Point covariance;  // empty: missing
    double tolerance;
  } cases[] = {{normal, false, false, false, problemGradient, 0, 0, inverse, 2e-10},
               {normal, true, false, false, nullptr, 0, 0, inverse, 3e-5},
               {normal, true, true, false, problemGradient, 0, 0, inverse, 3e-5},  // the gradient is not used
               {normal, false, false, true, gradientWithScores, 0, 0, sandwich, 1e-9},
               {flat, false, false, false, problemGradient, 0, 2, {}, 0},
               {flat, false, false, false, problemGradient, 1, 1, {}, 0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(&c - cases);
    MemoryHost host;
    Fit fit(c.problem);
    if (c.differences) { EXPECT_EQ(fit.run(false).state.returnCode, kRelFuncConvergence); }
    fit.useDifferenceMode = c.differenceMode, fit.hasWeights = c.weights, fit.noStdErrors = c.noStdErrors;
    fit.host = &host, fit.nParams = 2, fit.nMeasurements = 10;
    fit.params = c.differences ? fit.x : c.problem.minimizer.empty() ? c.problem.start : c.problem.minimizer;
    const Point estimates = fit.params;
    fit.gradX.clear();
    EXPECT_EQ(computeCovariance(fit, problemLikelihood, c.gradient, fit.state), c.code);
    EXPECT_EQ(fit.covFailCode, c.code);
    EXPECT_EQ(host.displayed, c.code == 2 ? "  iflt 2 tp 2" : "");
    EXPECT_EQ(fit.params, estimates);  // restored bit for bit
    EXPECT_EQ(fit.gradX.empty(), !c.gradient || c.differenceMode || c.noStdErrors);
    for (std::size_t i = 0; i < c.covariance.size(); ++i) {
      const double scale = std::sqrt(c.covariance[i / 2 * 3] * c.covariance[i % 2 * 3]);
      EXPECT_NEAR(fit.covariance[i], c.covariance[i], c.tolerance * scale) << i;
    }
    for (int i = 0; i < 2; ++i) {
      EXPECT_EQ(fit.stdErrors[i], c.covariance.empty() ? kHostMissing : std::sqrt(fit.covariance[3 * i]));
    }
  }
}

}  // namespace
}  // namespace kurv::testing
