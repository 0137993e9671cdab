// The covariance of the estimates (inverse Hessian, or the sandwich with
// weights) against the closed-form information of a normal sample.
#include <gtest/gtest.h>

#include <cmath>

#include "core/model_context.h"
#include "engine/covariance.h"
#include "optim/test_problems.h"
#include "support/memory_host.h"

namespace kurv::testing {
namespace {

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
// The covariance step of a run whose model is a test problem.
struct CovarianceRun : ModelContext {
  const TestProblem* problem;
  std::vector<Point> gradX;
};
int problemLikelihood(int n, const double* x, double* f, ModelContext* ctx) {
  *f = static_cast<CovarianceRun*>(ctx)->problem->fg(x, nullptr);
  return (void)n, 0;
}
int problemGradient(int n, const double* x, int*, double* g, ModelContext* ctx) {
  static_cast<CovarianceRun*>(ctx)->problem->fg(x, g);
  static_cast<CovarianceRun*>(ctx)->gradX.emplace_back(x, x + n);
  return 0;
}
int gradientWithScores(int n, const double* p, int* index, double* g, ModelContext* ctx) {
  ctx->scoreOuterSum = scoreOuterSum(p);
  return problemGradient(n, p, index, g, ctx);
}

TEST(Covariance, AgainstTheClosedFormInformation) {
  // The normal sample: H = diag(N/σ², 2N) at the estimates (σ² = 0.6489), the
  // covariance H⁻¹·N/(N − 1), or with weights H⁻¹BH⁻¹ = Bᵢⱼ/(HᵢᵢHⱼⱼ). Tolerances
  // relative to √(CᵢᵢCⱼⱼ); largest deviations over the six kernels: 1.9e-11 from
  // analytic gradients, 2.8e-6 from differences (the fit by differences ends
  // within 1e-7 of θ̂), 3.8e-11 for the sandwich.
  const TestProblem &normal = problemNamed("normal"), flat{{1, 0.3}, {}, [](const double* x, double* g) {
    if (g) g[0] = 2 * (x[0] - 1), g[1] = 0;  // H singular in column 2
    return (x[0] - 1) * (x[0] - 1) + 2;
  }};
  const double h[] = {10 / 0.6489, 20};
  const Point inverse = {1 / h[0] / 0.9, 0, 0, 1 / h[1] / 0.9}, b = scoreOuterSum(normal.minimizer.data());
  Point sandwich(4);
  for (int i = 0; i < 4; ++i) sandwich[i] = b[i] / (h[i / 2] * h[i % 2]);  // off the diagonal with its sign
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
    Fit minimized(c.problem);
    if (c.differences) { EXPECT_EQ(minimized.run(false).state.returnCode, kRelFuncConvergence); }
    CovarianceRun fit;
    fit.problem = &c.problem;
    fit.useDifferenceMode = c.differenceMode, fit.hasWeights = c.weights, fit.noStdErrors = c.noStdErrors;
    fit.host = &host, fit.nParams = 2, fit.nMeasurements = 10;
    const Point estimates = c.differences ? minimized.x : c.problem.minimizer.empty() ? c.problem.start : c.problem.minimizer;
    fit.params = estimates;
    EXPECT_EQ(computeCovariance(fit, problemLikelihood, c.gradient, minimized.state), c.code);
    EXPECT_EQ(fit.covFailCode, c.code);
    EXPECT_EQ(host.displayed, c.code == 2 ? "  iflt 2 tp 2" : "");
    EXPECT_EQ(fit.params, estimates);  // restored bit for bit
    EXPECT_EQ(fit.gradX.empty(), !c.gradient || c.differenceMode || c.noStdErrors);
    for (std::size_t i = 0; i < c.covariance.size(); ++i) {
      const double scale = std::sqrt(c.covariance[i / 2 * 3] * c.covariance[i % 2 * 3]);
      EXPECT_NEAR(fit.covariance[i], c.covariance[i], c.tolerance * scale) << i;
    }
    for (int i = 0; i < 2; ++i) EXPECT_EQ(fit.stdErrors[i], c.code ? kHostMissing : std::sqrt(fit.covariance[3 * i]));
  }
}

}  // namespace
}  // namespace kurv::testing
