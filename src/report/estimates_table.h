#pragma once
// The estimates table of a single-trajectory run.

#include <vector>

#include "core/model_context.h"

namespace kurv {

// Prints the maximum likelihood estimates in the host's Results window,
// parameter by parameter in the order of the parameter vector: trajectories
// and time-varying covariates per group, dropout, the scale (exponentiated,
// with the matching rescaling of `covariance`) or zero inflation,
// group membership (percentages with delta-method standard errors, or the
// multinomial-logit coefficients with risk factors), and the outcome
// analysis. Builds ctx.outVarsText (one name per parameter, each followed by
// a blank) and stores it in the host macro "_outvars". Clamps the membership
// constants in ctx.params to the exponent interval and fills ctx.groupPct and
// ctx.groupPctSe. Expects ctx.outcomeGroupMean/Lower/Upper filled by
// outcomeGroupMeans() when an outcome analysis is present.
void printEstimatesTable(ModelContext& ctx);

// Indexes of the parameters held as logarithms of scales and reported
// exponentiated (the CNORM scale of model 1 and the normal outcome's scale).
std::vector<int> scaleParameterIndexes(const ModelContext& ctx);

}  // namespace kurv
