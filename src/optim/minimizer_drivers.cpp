// The drivers of the minimizer core: gradient mode, which asks the objective
// for values and gradients; difference mode, which forms gradients by finite
// differences from the objective's values (as a loop, or one
// reverse-communication step at a time); and the meaning of the final codes.

#include <cblas.h>

#include <cfloat>

#include "optim/difference_gradient.h"
#include "optim/minimizer.h"
#include "optim/packed_triangular.h"
#include "core/text_format.h"

namespace kurv {

namespace {

// A value the objective could not compute is reported to the core as too
// big, with the largest double in the function-value cell (the value the
// state then shows).
void storeValue(MinimizerState& state, Objective& objective, std::span<const double> x, double& f) {
  const std::optional<double> value = objective.value(x);
  f = value ? *value : DBL_MAX;
  if (!value) state.tooBig = 1;
}

}  // namespace

void minimizeWithGradient(MinimizerState& state, std::span<const double> d, std::span<double> theta,
                          Objective& objective, int intWorkLength, int realWorkLength) {
  const int n = static_cast<int>(d.size());
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
    const auto x = theta.first(static_cast<std::size_t>(n));
    if (state.returnCode == kRequestFunction) {
      storeValue(state, objective, x, f);
    } else if (state.returnCode == kRequestGradient) {
      objective.atIterate(x, state.f);
      if (!objective.gradient(x, state.gradient)) state.gradEvalIndex = 0;
    } else {
      return;
    }
  }
}

void minimizeWithDifferences(MinimizerState& state, std::span<const double> d, std::span<double> theta,
                             Objective& objective, int intWorkLength, int realWorkLength) {
  const int n = static_cast<int>(d.size());
  const auto x = theta.first(static_cast<std::size_t>(n));
  double f = 0.0;
  for (;;) {
    const int previous = state.returnCode;
    differenceModeStep(state, d, f, intWorkLength, realWorkLength, n, theta);
    if (state.returnCode >= kFirstFinalCode) return;
    // A gradient begins with a request for f at its first perturbed point.
    // The iterate is theta with the perturbed component put back.
    if (state.returnCode == kRequestGradient && previous != kRequestGradient) {
      std::vector<double> point(x.begin(), x.end());
      const int i = (state.diff.component > 0 ? state.diff.component : -state.diff.component) - 1;
      if (i >= 0 && i < n) point[i] = state.diff.savedTheta;
      objective.atIterate(point, state.f);
    }
    storeValue(state, objective, x, f);
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

void differenceModeStep(MinimizerState& state, std::span<const double> d, double& f, int intWorkLength,
                        int realWorkLength, int n, std::span<double> theta) {
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

FinalCodeOutcome finalCodeOutcome(int code) {
  // One row per final code: its message on standard output and whether the
  // run goes on to the results (the convergence codes, singular and false
  // convergence; a false convergence has been restarted before it is final).
  struct Row {
    int code;
    const char* message;
    bool goOn;
  };
  static constexpr Row kRows[] = {
      {kXConvergence, "", true},
      {kRelFuncConvergence, "", true},
      {kBothConvergence, "", true},
      {kAbsFuncConvergence, "", true},
      {kSingularConvergence, " Singular convergence", true},
      {kFalseConvergence, " False convergence", true},
      {kEvalLimit, " Function evaluation limit", false},
      {kIterationLimit, " Function iteration limit", false},
      {kStartNotComputable, " Likelihood could not be computed", false},
      {kGradientNotComputable, " Gradient could not be computed", false},
  };
  for (const Row& row : kRows)
    if (row.code == code) return {row.message, row.goOn};
  return {formatText(" Return code from minimizer - %d", code), false};
}

}  // namespace kurv
