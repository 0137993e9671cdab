#pragma once
// Preparation of a run: derived counts, arrays, and the layout of the
// parameter vector.

#include "plugin/model_context.h"

namespace kurv {

// Orders are held as doubles and used truncated toward zero.
inline int orderValue(double order) { return static_cast<int>(order); }

// Parameters of group g's trajectory block in model m: order + 1 polynomial
// coefficients, then one coefficient per time-varying covariate unless the
// group has no trajectory at all (order -1).
int trajectoryBlockSize(const ModelContext& ctx, int m, int g);
// Parameters of dropout block b (b = 0 when one order is shared).
int dropoutBlockSize(const ModelContext& ctx, int b);

// Banner, name lists, derived counts, arrays and the parameter count.
// Returns 0, or 198 after an unrecognised outcome-analysis name.
int prepareRun(ModelContext& ctx);

// Sets every parameter block start for single, joint and multi-trajectory
// runs; a multi-trajectory run also gets its shared membership block here.
// `paramEnd`[m] is one past the last parameter of model m.
void layoutParameters(ModelContext& ctx);

// Start values the user must give: membership blocks without risk factors
// are given as one percentage per group instead of the free log-odds.
int expectedStartValueCount(const ModelContext& ctx);
// Number of data variables the command passes, in the intake's layout.
int dataVariableCount(const ModelContext& ctx);
// Vectors and matrices of the fit and its results, sized for nParams.
void allocateFitWork(ModelContext& ctx);

}  // namespace kurv
