#pragma once
// The joint run's parts of the estimates table: its model lines, model 2's
// rows, and the conditional, reverse-conditional, joint and marginal group
// percentages.

#include <string>

#include "core/model_context.h"

namespace kurv {

// The heading's model lines of a joint run: both models on one line, then
// model 1's.
std::string jointModelLines(const ModelContext& ctx);

// Model 2's rows, from the running parameter index `i` (the first parameter
// of model 2) on, appending each parameter's output name to `names`: its
// trajectories and covariates, scale or zero inflation, the conditional
// membership (percentages with delta-method standard errors, or the
// constants with risk factors), the percentage tables when neither model has
// risk factors, and model 2's risk coefficients. Expects ctx.groupPct to
// hold model 1's percentages (missing with risk factors); fills
// ctx.condPct, ctx.model2Pct and rescales model 2's scale in ctx.covariance.
void printJointModelSections(ModelContext& ctx, int& i, std::string& names);

}  // namespace kurv
