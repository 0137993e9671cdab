#pragma once
// Expected measurement of each group at a given time, with its delta-method
// sampling variance, for the plot series.

#include <span>

#include "core/model_context.h"

namespace kurv {

// For the model ctx.currentModel, at time t and exposure value `exposure`
// (used by ZIP models with exposure columns; pass 1.0 otherwise), fills
// mean[k] and variance[k] for every group k. Plot covariate values are taken
// from ctx.plotTcov (model 1 only) at the column of the period
// ctx.cursorPeriod. Uses ctx.derivativeWork (the gradient of the expected
// value with respect to the parameters) and ctx.derivativeWork2
// (covariance times that gradient); both are resized to nParams if smaller.
void expectedTrajectoryPoint(double t, double exposure, std::span<double> mean,
                             std::span<double> variance, ModelContext& ctx);

}  // namespace kurv
