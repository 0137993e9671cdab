#pragma once
// Options a multi-trajectory run cannot take.

#include "core/model_context.h"

namespace kurv {

// The shared membership of a multi-trajectory run has no risk factors and the
// first group as its reference; its components have no dropout model, no
// outcome analysis and no random effects, and the third component has no
// column for exposures or time-varying covariates. Any of these ends the run
// with its message and 198; 0 otherwise (and for other runs).
int checkMultiTrajectoryOptions(ModelContext& ctx);

}  // namespace kurv
