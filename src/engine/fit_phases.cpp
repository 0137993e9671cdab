#include "engine/fit_phases.h"

#include <cmath>

#include "engine/covariance.h"
#include "engine/data_start_values.h"
#include "engine/model_objective.h"
#include "engine/start_values.h"
#include "core/text_format.h"
#include "report/estimates_table.h"
#include "report/outcome_means.h"

namespace kurv {

namespace {

// A false convergence restarts the fit from the point reached, with a fresh
// minimizer state, at most this many times; the next one is accepted.
constexpr int kMaxRestarts = 3;

// The likelihood and gradient a fit runs on (gradient null: differences).
struct ModelFunctions {
  LikelihoodCallback likelihood;
  GradientCallback gradient;
};

// One minimizer run from a fresh start (returnCode 12) at ctx.params.
void runMinimizer(ModelContext& ctx, MinimizerState& state, const ModelFunctions& fn,
                  const std::vector<double>& scale) {
  const int n = ctx.nParams;
  std::span<double> theta(ctx.params.data(), static_cast<std::size_t>(n));
  ModelObjective objective(ctx, fn.likelihood, fn.gradient);
  if (fn.gradient != nullptr) {
    minimizeWithGradient(state, scale, theta, objective, kIntWorkLength, realWorkLength(n));
  } else {
    minimizeWithDifferences(state, scale, theta, objective, kIntWorkLength, realWorkLength(n));
  }
}

void fillSummary(const ModelContext& ctx, double L, double bicMeasurements, double bicSubjects, double aic,
                 RunSummary& s) {
  const int n = ctx.nParams;
  s.fitted = true;
  s.minimizerCode = ctx.minimizerCode;
  s.logLikelihood = L;
  s.aic = aic;
  s.bicMeasurements = bicMeasurements;
  s.bicSubjects = bicSubjects;
  s.nParams = n;
  s.nSubjects = ctx.nSubjects;
  s.nMeasurements = ctx.nMeasurements;
  s.nObs = ctx.nObs;
  s.nModels = ctx.nModels;
  s.names.clear();
  for (const ParameterInfo& p : ctx.layout.params) s.names.push_back(p.name);
  s.estimates.assign(ctx.estimates.begin(), ctx.estimates.begin() + n);
  s.covariance.assign(ctx.covariance.begin(), ctx.covariance.begin() + static_cast<std::size_t>(n) * n);
  s.missingValue = ctx.host->missingValue();
  // The estimates hold the scales exponentiated and the table has rescaled
  // their covariance rows to match (delta method), so each standard error is
  // the root of the covariance diagonal as it now stands: s·se(ln s) for a
  // scale, unchanged for every other parameter. Missing ones stay missing.
  s.stdErrors.assign(static_cast<std::size_t>(n), s.missingValue);
  for (int k = 0; k < n; ++k) {
    if (ctx.host->isMissing(ctx.stdErrors[k])) continue;
    s.stdErrors[k] = std::sqrt(std::fabs(s.covariance[static_cast<std::size_t>(k) * n + k]));
  }
  s.groupPct.clear();
  s.groupPct.emplace_back(ctx.groupPct.begin(), ctx.groupPct.begin() + ctx.nGroups[0]);
  if (ctx.isJointModel()) {
    s.groupPct.emplace_back(ctx.model2Pct);
    s.conditionalPct = ctx.condPct;
  }
  // The components of a multi-trajectory run share the estimated shares.
  for (int m = 1; ctx.isMultModel && m < ctx.nModels; ++m) s.groupPct.push_back(s.groupPct.front());
}

}  // namespace

void settleStartValues(ModelContext& ctx) {
  if (ctx.hasStartValues)
    convertGivenStartValues(ctx);
  else
    buildDefaultStartValues(ctx);
  if (!ctx.hasStartValues && ctx.dataStartValues && guessStartValuesFromData(ctx))
    ctx.host->display("Start values guessed from the data: subjects ranked by their mean outcome, groups of equal size.\n \n");
}

bool fitModel(ModelContext& ctx, const ModelFamily& family, MinimizerState& state, FitControl* control) {
  ctx.useDifferenceMode = family.gradient == nullptr || family.differencesOnly(ctx);
  ModelFunctions fn{family.likelihood, ctx.useDifferenceMode ? nullptr : family.gradient};
  if (control != nullptr && control->likelihood != nullptr) {
    fn = {control->likelihood, control->gradient};
    ctx.useDifferenceMode = control->gradient == nullptr;
  }
  const std::vector<double> scale(static_cast<std::size_t>(ctx.nParams), 1.0);
  state = MinimizerState{};
  state.host = ctx.host;
  setMinimizerDefaults(kGeneralMinimization, realWorkLength(ctx.nParams), state);
  setMinimizerIntegerSettings(state);
  if (control != nullptr) {
    state.maxFuncEvals = control->maxFuncEvals;
    state.maxIterations = control->maxIterations;
  }
  if (ctx.showTrace) {
    state.printLevel = -1;
    showStartingValues(ctx);
  }
  int runs = 1;
  state.returnCode = kFreshStart;
  runMinimizer(ctx, state, fn, scale);
  for (int restart = 0; restart < kMaxRestarts && state.returnCode == kFalseConvergence; ++restart) {
    state.returnCode = kFreshStart;
    ++runs;
    runMinimizer(ctx, state, fn, scale);
  }
  if (control != nullptr) control->minimizerRuns = runs;
  ctx.minimizerCode = state.returnCode;
  ctx.finalNegLogLik = state.f;

  const FinalCodeOutcome outcome = finalCodeOutcome(state.returnCode);
  if (!outcome.message.empty()) ctx.host->standardOutput(outcome.message.c_str());
  return outcome.goOn;
}

void reportResults(ModelContext& ctx, const ModelFamily& family, MinimizerState& state, RunSummary* summary) {
  Host& host = *ctx.host;
  const int n = ctx.nParams;

  // Estimates: scales are reported as standard deviations.
  ctx.estimates.assign(static_cast<std::size_t>(n) + 1, 0.0);
  std::copy(ctx.params.begin(), ctx.params.begin() + n, ctx.estimates.begin());
  for (int k : scaleParameterIndexes(ctx)) ctx.estimates[k] = std::exp(ctx.params[k]);

  computeCovariance(ctx, family.likelihood, ctx.useDifferenceMode ? nullptr : family.gradient, state,
                    family.gradient);

  // The covariance leaves the evaluation arrays at a perturbed point; the
  // posterior probabilities and plot series are those of the estimates.
  double f = 0.0;
  family.likelihood(n, ctx.params.data(), &f, &ctx);

  if (ctx.hasOutcome) outcomeGroupMeans(ctx);

  const double L = -ctx.finalNegLogLik;
  const double k = n;
  const double bicMeasurements = L - 0.5 * k * std::log(static_cast<double>(ctx.nMeasurements));
  const double bicSubjects = L - 0.5 * k * std::log(static_cast<double>(ctx.nSubjects));
  const double aic = L - k;

  family.printEstimates(ctx);
  host.display(formatText(" BIC=%9.2f (N=%d)  BIC=%9.2f (N=%d)  AIC=%9.2f  L=%9.2f\n", bicMeasurements,
                          ctx.nMeasurements, bicSubjects, ctx.nSubjects, aic, L)
                   .c_str());
  showEstimatesAsStartValues(ctx);
  family.writeResults(ctx);
  if (summary != nullptr) fillSummary(ctx, L, bicMeasurements, bicSubjects, aic, *summary);
}

}  // namespace kurv
