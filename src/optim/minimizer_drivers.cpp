// The two drivers of the minimizer core: gradient mode, which evaluates the
// model itself, and difference mode, which forms gradients by finite
// differences and returns to its caller for every function value.

#include <cblas.h>

#include "optim/difference_gradient.h"
#include "optim/minimizer.h"
#include "optim/packed_triangular.h"
#include "core/model_context.h"

namespace kurv {

void minimizeWithGradient(MinimizerState& state, int n, std::span<const double> d,
                          std::span<double> theta, LikelihoodCallback likelihood,
                          GradientCallback gradient, int intWorkLength, int realWorkLength,
                          ModelContext* ctx) {
  if (state.returnCode == kFillDefaults) {
    if (setMinimizerDefaults(kGeneralMinimization, realWorkLength, state) != 0) return;
    setMinimizerIntegerSettings(state);
  }
  const int entry = state.returnCode;
  if (entry == kFreshStart || entry == kLayoutOnly) {
    state.realStorageNeed += n;  // the gradient vector
    // Let the core lay out its arrays first.
    state.returnCode = kLayoutOnly;
    minimizerIteration(state, n, d, 0.0, theta, intWorkLength, realWorkLength);
    if (state.returnCode != kLaidOut || entry == kLayoutOnly) return;
  }
  double f = 0.0;  // the function-value cell
  for (;;) {
    minimizerIteration(state, n, d, f, theta, intWorkLength, realWorkLength);
    if (state.returnCode == kRequestFunction) {
      likelihood(n, theta.data(), &f, ctx);
      if (f == kFailedLikelihood) state.tooBig = 1;
    } else if (state.returnCode == kRequestGradient) {
      gradient(n, theta.data(), &state.gradEvalIndex, state.gradient.data(), ctx);
    } else {
      return;
    }
  }
}

namespace {

// Starts a difference gradient at the current point. Returns true when a
// function value is wanted from the caller.
bool startDifferenceGradient(MinimizerState& state, double& f, std::span<double> theta) {
  const int n = state.n;
  if (state.iterationCount == 0) std::fill(state.gradient.begin(), state.gradient.end(), 0.0);
  // The diagonal of H = L·Lᵀ: the squared length of each row of L.
  for (int i = 0; i < n; ++i) {
    const double* row = state.factor.data() + packedRowStart(i);
    state.hessianDiagonal[i] = cblas_ddot(i + 1, row, 1, row, 1);
  }
  // The core counted this request as a gradient; the differences count
  // their own function values instead.
  state.gradEvalCount -= 1;
  f = state.f;
  state.diff.component = 0;
  if (!differenceGradient(state.hessianDiagonal, state.scale, state.settings.funcErrorBound, f,
                          state.gradient, state.diff, theta)) {
    return false;
  }
  state.differencing = true;
  state.gradEvalCount += 1;
  return true;
}

}  // namespace

void minimizeWithDifferences(MinimizerState& state, std::span<const double> d, double& f,
                             int intWorkLength, int realWorkLength, int n,
                             std::span<double> theta) {
  if (state.returnCode == kFillDefaults) {
    if (setMinimizerDefaults(kGeneralMinimization, realWorkLength, state) != 0) return;
    setMinimizerIntegerSettings(state);
  }
  const int entry = state.returnCode;
  if (entry == kFreshStart || entry == kLayoutOnly) {
    // Six scratch values, the Hessian-diagonal estimates and the gradient.
    state.realStorageNeed += 2 * n + 6;
    state.differencing = false;
  }
  if (state.differencing && (entry == kRequestFunction || entry == kRequestGradient) &&
      n == state.n) {
    // The caller has evaluated f at a perturbed point.
    auto point = theta.first(static_cast<std::size_t>(n));
    if (state.tooBig) {
      // f could not be computed there: the gradient cannot be formed.
      const int i = (state.diff.component > 0 ? state.diff.component : -state.diff.component) - 1;
      point[i] = state.diff.savedTheta;
      state.diff.component = 0;
      state.differencing = false;
      f = state.diff.f0;
      state.gradEvalIndex = 0;
      state.returnCode = kRequestGradient;
    } else if (differenceGradient(state.hessianDiagonal, state.scale,
                                  state.settings.funcErrorBound, f, state.gradient, state.diff,
                                  point)) {
      state.gradEvalCount += 1;
      return;
    } else {
      state.differencing = false;
      state.returnCode = kRequestGradient;
    }
  }
  for (;;) {
    minimizerIteration(state, n, d, f, theta, intWorkLength, realWorkLength);
    if (state.returnCode != kRequestGradient) return;
    if (startDifferenceGradient(state, f, theta.first(static_cast<std::size_t>(n)))) return;
  }
}

}  // namespace kurv
