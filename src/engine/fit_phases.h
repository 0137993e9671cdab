#pragma once
// The phases of a run after the data are read: start values, the fit, the
// estimates and their covariance, the printed results, and the results handed
// back to the host.

#include <string>

#include "core/evaluation.h"
#include "engine/model_family.h"
#include "optim/minimizer.h"
#include "core/model_context.h"
#include "core/run_summary.h"

namespace kurv {

// Builds the default start values (or, when the run asks for it, guesses
// them from the data) or converts the given ones.
void settleStartValues(ModelContext& ctx);

// What a fit may be given instead of the run's own model and limits (tests
// drive the fit with functions of their own).
struct FitControl {
  LikelihoodCallback likelihood = nullptr;  // null: the run's model
  GradientCallback gradient = nullptr;      // with `likelihood`; null: differences
  int maxFuncEvals = 1000000;
  int maxIterations = 1000000;
  int minimizerRuns = 0;  // out: fresh starts made (1 + restarts)
};

// Runs the minimizer (gradient mode, or difference mode when an outcome
// analysis is present), restarting after false convergence at most three
// times, and prints the outcome of codes other than success. Returns true
// when the run goes on to the results.
bool fitModel(ModelContext& ctx, const ModelFamily& family, MinimizerState& state,
              FitControl* control = nullptr);

// Estimates with scales exponentiated, covariance and standard errors,
// outcome group means, the estimates table, the fit statistics, the final
// start-value display, and the results written to the host.
void reportResults(ModelContext& ctx, const ModelFamily& family, MinimizerState& state, RunSummary* summary);

}  // namespace kurv
