// The numerical pieces against mathematical truths: the Newton and
// double-dogleg steps against the quadratic model, the factored BFGS update
// against the update of H itself, the difference gradient against analytic
// derivatives, LU against closed forms, and the covariance of a normal
// sample's estimates against its closed-form information.

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

// A well-conditioned lower-triangular factor of H = L·Lᵀ, packed by rows, and a gradient.
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
  // Here the Cauchy step has length 0.82·‖v‖ and the relaxed Newton step
  // 0.89·‖v‖: radii of 0.05, 0.86 and 0.97·‖v‖ give a steepest-descent step,
  // a true dogleg and a scaled Newton step, each on the boundary; beyond ‖v‖
  // the Newton step is taken whole. Each predicts exactly the reduction of
  // the model m(s) = gᵀs + ½sᵀHs.
  for (double fraction : {0.05, 0.86, 0.97, 1.5}) {
    SCOPED_TRACE(fraction);
    q.radius = fraction * q.newtonNorm;
    doubleDoglegStep(kGradient, v, s, 0.8, q);
    EXPECT_NEAR(std::sqrt(dot(s, s)), std::min(q.radius, q.newtonNorm), 1e-14);
    EXPECT_NEAR(q.stepNorm, std::min(q.radius, q.newtonNorm), 1e-14);
    EXPECT_EQ(q.stepParam > 0.0, fraction < 1);
    EXPECT_NEAR(q.dirDerivative, dot(kGradient, s), 1e-14);
    EXPECT_NEAR(q.predictedReduction, -(dot(kGradient, s) + 0.5 * dot(s, hessianTimes(kFactor, s))), 1e-14);
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
    for (int i = 0; i < 3; ++i) {
      EXPECT_GT(std::fabs(l[packedRowStart(i) + i]), 1e-3);  // L⁺ nonsingular
      Point u(3, 0.0);
      u[i] = 1;
      const Point h1 = hessianTimes(l, u), h = hessianTimes(kFactor, u);
      for (int j = 0; j < 3; ++j) EXPECT_NEAR(h1[j], h[j] - hs[i] * hs[j] / shs + yHat[i] * yHat[j] / dot(yHat, s), 1e-13);
    }
    EXPECT_NEAR(dot(s, hessianTimes(l, s)), std::max(ys, 0.1 * shs), 1e-13);
  }
}

TEST(DifferenceGradient, MatchesAnalyticGradient) {
  const TestProblem& p = problemNamed("rosenbrock");
  Point theta = p.start, g = {0.0, 0.0}, exact(2);
  p.fg(theta.data(), exact.data());
  // Curvature estimates: the true Hessian diagonal of the Rosenbrock function.
  const Point alpha = {1200 * 1.44 - 400 * 1.0 + 2, 200};
  for (int pass = 0; pass < 2; ++pass) {  // from zeros, then from the last estimate
    DifferenceGradientState st;
    double f = p.f(theta);
    while (differenceGradient(alpha, Point{1, 1}, 1000 * 2.220446049250313e-16, f, g, st, theta)) f = p.f(theta);
    EXPECT_EQ(theta, p.start);
    EXPECT_EQ(f, p.f(theta));
    for (int i = 0; i < 2; ++i) EXPECT_NEAR(g[i], exact[i], 1e-6 * std::fabs(exact[i]));
  }
}

TEST(LuFactorisation, InverseDeterminantAndSingularColumns) {
  // Determinants by cofactor expansion. For n = 1 only an exact zero is
  // singular; the 2⁻⁵² threshold applies to the eliminated columns 1 … n−1.
  // info names the last singular column.
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
    Point a(lda * n, -7.0), work(n), factors;
    for (int i = 0; i < n * n; ++i) a[i / n * lda + i % n] = c.rows[i % n][i / n];
    std::vector<int> pivots(n);
    int info = -1;
    double det[2];
    factorLU(a.data(), lda, n, pivots.data(), info);
    ASSERT_EQ(info, c.info) << c.det;
    if (info != 0) continue;
    factors = a;
    invertLU(factors.data(), lda, n, pivots.data(), det, work.data(), 10);  // the determinant only
    EXPECT_EQ(factors, a);
    invertLU(a.data(), lda, n, pivots.data(), det, work.data(), 11);
    // det = det[0]·10^det[1] with 1 ≤ |det[0]| < 10.
    EXPECT_NEAR(det[0] * std::pow(10.0, det[1]), c.det, 1e-12 * std::fabs(c.det));
    EXPECT_TRUE(std::fabs(det[0]) >= 1 && std::fabs(det[0]) < 10) << det[0];
    for (int i = 0; i < n * n; ++i) {  // A·A⁻¹ = I
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

// A fit as a run leaves it for the covariance: at the closed-form estimates
// (or the start), or at the end of a fit by differences, whose state holds
// the Hessian-diagonal estimates and gradient the differences start from.
struct CovarianceRun : Fit {
  MemoryHost host;
  explicit CovarianceRun(const TestProblem& problem, bool differences = false) : Fit(problem) {
    if (differences) { EXPECT_EQ(run(false).state.returnCode, kRelFuncConvergence); }
    pc.host = &host, pc.state = &state, pc.nParams = 2, pc.nMeasurements = 10;
    pc.params = differences ? x : problem.minimizer.empty() ? problem.start : problem.minimizer;
  }
  int covariance(GradientCallback gradient) { return computeCovariance(pc, problemLikelihood, gradient, state); }
};

TEST(Covariance, NormalSampleInverseInformationAndSandwich) {
  // H = diag(N/σ², 2N) at the estimates, σ² = 0.6489; the covariance is H⁻¹·N/(N − 1).
  const double h[] = {10 / 0.6489, 20}, se[] = {std::sqrt(1 / h[0] / 0.9), std::sqrt(1 / h[1] / 0.9)};
  // Mode 0: analytic gradients; 1: difference gradients, none given; 2: the
  // run in difference mode, the analytic gradient given but not used.
  // Largest relative deviations measured over the six OpenBLAS kernels:
  // 9.4e-12 (mode 0) and 1.4e-6 (modes 1, 2, at a point within 1e-7 of θ̂).
  for (int mode = 0; mode < 3; ++mode) {
    SCOPED_TRACE(mode);
    CovarianceRun fx(problemNamed("normal"), mode > 0);
    fx.pc.useDifferenceMode = mode == 2;
    const Point estimates = fx.pc.params;
    const double tolerance = mode == 0 ? 1e-10 : 1.5e-5;
    EXPECT_EQ(fx.covariance(mode == 1 ? nullptr : problemGradient), 0);
    EXPECT_EQ(fx.pc.params, estimates);  // restored bit for bit
    EXPECT_EQ(fx.pc.gradX.size(), mode == 0 ? 4u : 0u);
    for (int i = 0; i < 2; ++i) {
      EXPECT_NEAR(fx.pc.stdErrors[i], se[i], tolerance * se[i]);
      EXPECT_EQ(fx.pc.stdErrors[i], std::sqrt(fx.pc.covariance[3 * i]));
    }
    EXPECT_NEAR(fx.pc.covariance[1], 0.0, tolerance * se[0] * se[1]);
    EXPECT_EQ(fx.host.displayed, "");
  }
  // Weighted data: the sandwich H⁻¹BH⁻¹, with H diagonal (H⁻¹BH⁻¹)ᵢⱼ =
  // Bᵢⱼ/(HᵢᵢHⱼⱼ), and no small-sample factor (measured deviation 3.8e-11).
  CovarianceRun fx(problemNamed("normal"));
  fx.pc.hasWeights = true;
  const Point b = scoreOuterSum(fx.pc.params.data());
  ASSERT_EQ(fx.covariance(gradientWithScores), 0);
  for (int i = 0; i < 4; ++i) {
    const double expected = std::fabs(b[i] / (h[i / 2] * h[i % 2]));
    EXPECT_NEAR(fx.pc.covariance[i], expected, 1e-9 * expected) << i;
  }
}

TEST(Covariance, SingularHessianOrNoStandardErrorsLeaveThemMissing) {
  // Zero curvature along θ₂ (H singular in column 2), and curvature 1e-17
  // along θ₁ (below the 2⁻⁵² pivot threshold in column 1).
  const TestProblem flat{{1, 0.3}, {}, [](const double* x, double* g) {
    if (g) g[0] = 2 * (x[0] - 1), g[1] = 0;
    return (x[0] - 1) * (x[0] - 1) + 2;
  }};
  const TestProblem nearlyFlat{{0, 0}, {}, [](const double* x, double* g) {
    if (g) g[0] = 1e-17 * x[0], g[1] = x[1];
    return 0.5e-17 * x[0] * x[0] + 0.5 * x[1] * x[1] + 2;
  }};
  const struct {
    const TestProblem& problem;
    int noStdErrors, code;
    const char* message;
  } cases[] = {{flat, 0, 2, "  iflt 2 tp 2"}, {nearlyFlat, 0, 1, "  iflt 1 tp 2"}, {flat, 1, 1, ""}};
  for (const auto& c : cases) {
    CovarianceRun fx(c.problem);
    fx.pc.noStdErrors = c.noStdErrors;
    EXPECT_EQ(fx.covariance(problemGradient), c.code);
    EXPECT_EQ(fx.pc.covFailCode, c.code);
    EXPECT_EQ(fx.host.displayed, c.message);
    EXPECT_EQ(fx.pc.stdErrors, (Point{kHostMissing, kHostMissing}));
    EXPECT_EQ(fx.pc.params, c.problem.start);
    EXPECT_EQ(fx.pc.evalX.empty() && fx.pc.covariance.empty(), c.noStdErrors == 1);
  }
}

}  // namespace
}  // namespace kurv::testing
