#pragma once
// Expected value of the outcome-analysis variable in each group, with 95%
// limits.

#include "core/model_context.h"

namespace kurv {

// Fills ctx.outcomeGroupMean, outcomeGroupLower and outcomeGroupUpper (one
// entry per group of model 1) from the outcome constants at
// ctx.outcomeStart, their variances and, for the normal outcome, its scale.
void outcomeGroupMeans(ModelContext& ctx);

// Mean of a normal variable with location `eta` and scale `sigma`, censored
// below at `lower` (when hasLower) and above at `upper` (when hasUpper).
double censoredNormalMean(double eta, double sigma, bool hasLower, double lower, bool hasUpper,
                          double upper);

}  // namespace kurv
