#pragma once
// Preparation of a run: derived counts, arrays, and the layout of the
// parameter vector.

#include "core/model_context.h"
#include "models/parameter_layout.h"

namespace kurv {

// Banner, name lists, derived counts, arrays and the parameter count.
// Returns 0, or 198 after an unrecognised outcome-analysis name.
int prepareRun(ModelContext& ctx);

// Number of data variables the command passes, in the intake's layout.
int dataVariableCount(const ModelContext& ctx);
// Vectors and matrices of the fit and its results, sized for nParams.
void allocateFitWork(ModelContext& ctx);

}  // namespace kurv
