#include "engine/covariance.h"

#include <cblas.h>

#include <cfloat>
#include <cmath>
#include <vector>

#include "optim/difference_gradient.h"
#include "optim/lu.h"
#include "optim/packed_triangular.h"
#include "core/model_context.h"
#include "core/text_format.h"

namespace kurv {
namespace {

// Evaluates f and then its gradient at ctx.params, the order the model
// gradients rely on (they read what the likelihood left in the run record).
class GradientAtPoint {
 public:
  GradientAtPoint(ModelContext& ctx, LikelihoodCallback likelihood, GradientCallback gradient,
                  const MinimizerState& state)
      : ctx_(ctx), likelihood_(likelihood), gradient_(gradient), n_(ctx.nParams) {
    if (gradient_ != nullptr) return;
    // Difference mode: the minimizer's last Hessian-diagonal estimates, scale
    // and gradient seed Stewart's step choice.
    const auto un = static_cast<std::size_t>(n_);
    if (state.hessianDiagonal.size() == un) {
      alpha_ = state.hessianDiagonal;
    } else if (state.factor.size() == packedLength(n_)) {
      alpha_.resize(un);
      for (int i = 0; i < n_; ++i) {
        const double* row = state.factor.data() + packedRowStart(i);
        alpha_[i] = cblas_ddot(i + 1, row, 1, row, 1);  // (L·Lᵀ)ᵢᵢ
      }
    } else {
      alpha_.assign(un, 1.0);  // H = I
    }
    scale_ = state.scale.size() == un ? state.scale : std::vector<double>(un, 1.0);
    previous_ = state.gradient.size() == un ? state.gradient : std::vector<double>(un, 0.0);
    eta0_ = state.settings.funcErrorBound > 0.0 ? state.settings.funcErrorBound
                                                 : 1000.0 * DBL_EPSILON;
  }

  void operator()(std::vector<double>& g) {
    double* x = ctx_.params.data();
    double f = 0.0;
    likelihood_(n_, x, &f, &ctx_);
    if (gradient_ != nullptr) {
      int evalIndex = 1;
      gradient_(n_, x, &evalIndex, g.data(), &ctx_);
      return;
    }
    // Started afresh at each point, from the gradient of the previous point.
    DifferenceGradientState diff;
    std::span<double> theta(ctx_.params.data(), static_cast<std::size_t>(n_));
    while (differenceGradient(alpha_, scale_, eta0_, f, previous_, diff, theta)) {
      likelihood_(n_, x, &f, &ctx_);
    }
    g = previous_;
  }

 private:
  ModelContext& ctx_;
  LikelihoodCallback likelihood_;
  GradientCallback gradient_;
  int n_;
  std::vector<double> alpha_;
  std::vector<double> scale_;
  std::vector<double> previous_;
  double eta0_ = 0.0;
};

// Row j of H: (g(θ̂ + h_j e_j) − g(θ̂ − h_j e_j)) / (2h_j), with
// h_j = (|θ̂_j| + c)·c and c = ε^(1/3), the step that balances the O(h²)
// truncation error of a central difference against rounding in g.
void differenceHessian(ModelContext& ctx, const std::vector<double>& thetaHat,
                       GradientAtPoint& gradientAt, std::vector<double>& hessian) {
  const int n = ctx.nParams;
  const auto un = static_cast<std::size_t>(n);
  const double c = std::pow(DBL_EPSILON, 1.0 / 3.0);
  std::vector<double> gMinus(un);
  std::vector<double> gPlus(un);
  for (int j = 0; j < n; ++j) {
    const double h = (std::fabs(thetaHat[j]) + c) * c;
    ctx.params[j] = thetaHat[j] - h;
    gradientAt(gMinus);
    ctx.params[j] = thetaHat[j] + h;
    gradientAt(gPlus);
    ctx.params[j] = thetaHat[j];
    for (int i = 0; i < n; ++i) hessian[j * un + i] = (gPlus[i] - gMinus[i]) / (2.0 * h);
  }
  // Symmetric: each entry below the diagonal takes its mirror above it.
  for (int r = 1; r < n; ++r) {
    for (int col = 0; col < r; ++col) hessian[r * un + col] = hessian[col * un + r];
  }
}

// out = a·b for n×n matrices stored row by row; sums in index order.
void multiply(int n, const std::vector<double>& a, const std::vector<double>& b,
              std::vector<double>& out) {
  const auto un = static_cast<std::size_t>(n);
  for (std::size_t i = 0; i < un; ++i) {
    for (std::size_t j = 0; j < un; ++j) {
      double s = 0.0;
      for (std::size_t k = 0; k < un; ++k) s += a[i * un + k] * b[k * un + j];
      out[i * un + j] = s;
    }
  }
}

}  // namespace

int computeCovariance(ModelContext& ctx, LikelihoodCallback likelihood,
                      GradientCallback gradient, MinimizerState& state,
                      GradientCallback scoreGradient) {
  const int n = ctx.nParams;
  const auto un = static_cast<std::size_t>(n);
  const double missing = ctx.host != nullptr ? ctx.host->missingValue() : NAN;
  if (ctx.stdErrors.size() < un) ctx.stdErrors.resize(un);
  for (std::size_t i = 0; i < un; ++i) ctx.stdErrors[i] = missing;
  ctx.covFailCode = 0;
  const std::vector<double> thetaHat(ctx.params.begin(), ctx.params.begin() + n);
  if (ctx.noStdErrors) {
    ctx.covFailCode = 1;
    return ctx.covFailCode;
  }
  if (ctx.covariance.size() < un * un) ctx.covariance.resize(un * un);
  std::vector<double>& cov = ctx.covariance;

  // Difference mode (the run's choice, or no analytic gradient at all): the
  // Hessian comes from difference gradients; an analytic gradient given
  // alongside still supplies the scores of the sandwich.
  const bool differenceMode = ctx.useDifferenceMode || gradient == nullptr;
  GradientAtPoint gradientAt(ctx, likelihood, differenceMode ? nullptr : gradient, state);
  differenceHessian(ctx, thetaHat, gradientAt, cov);

  std::vector<int> pivots(un);
  int info = 0;
  factorLU(cov.data(), n, n, pivots.data(), info);
  ctx.covFailCode = info;
  if (info != 0) {
    if (ctx.host != nullptr) ctx.host->display(formatText("  iflt %d tp %d", info, n).c_str());
    std::copy(thetaHat.begin(), thetaHat.end(), ctx.params.begin());
    return ctx.covFailCode;
  }
  std::vector<double> work(un);
  double det[2] = {0.0, 0.0};
  invertLU(cov.data(), n, n, pivots.data(), det, work.data(), 1);

  if (scoreGradient == nullptr) scoreGradient = gradient;
  if (ctx.hasWeights && scoreGradient != nullptr) {
    // Sandwich estimate H⁻¹·B·H⁻¹, B the sum of the outer products of the
    // subjects' weighted scores, which the gradient accumulates at θ̂.
    double f = 0.0;
    likelihood(n, ctx.params.data(), &f, &ctx);
    std::vector<double> g(un);
    int evalIndex = 1;
    scoreGradient(n, ctx.params.data(), &evalIndex, g.data(), &ctx);
    if (ctx.scoreOuterSum.size() < un * un) ctx.scoreOuterSum.resize(un * un);
    std::vector<double> inverse(cov.begin(), cov.begin() + un * un);
    std::vector<double> product(un * un);
    multiply(n, inverse, ctx.scoreOuterSum, product);
    multiply(n, product, inverse, cov);
  } else {
    // Small-sample scaling of the inverse information by N/(N − n + 1).
    const double nMeasurements = ctx.nMeasurements;
    const double denominator = nMeasurements - n + 1.0;
    for (std::size_t i = 0; i < un * un; ++i) cov[i] = cov[i] * nMeasurements / denominator;
  }

  for (std::size_t i = 0; i < un; ++i) {
    double& diagonal = cov[i * un + i];
    diagonal = std::fabs(diagonal);
    ctx.stdErrors[i] = std::sqrt(diagonal);
  }
  std::copy(thetaHat.begin(), thetaHat.end(), ctx.params.begin());
  return ctx.covFailCode;
}

}  // namespace kurv
