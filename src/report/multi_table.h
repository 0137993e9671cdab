#pragma once
// The estimates table of a multi-trajectory run.

#include "core/model_context.h"

namespace kurv {

// Prints, component by component, the heading and model line, the
// polynomial coefficients (and time-varying covariate coefficients) of each
// group, a CNORM component's sigma (exponentiated, with the matching
// rescaling of its row and column of `covariance`) or a ZIP component's
// zero-inflation blocks; then the shared group membership as percentages
// with delta-method standard errors. The membership constants in
// ctx.params are clamped in place; ctx.groupPct and ctx.groupPctSe are
// filled. Every parameter has a row; the output names (one per parameter,
// from the layout) are stored in ctx.outVarsText and the host macro
// "_outvars".
void printMultiEstimatesTable(ModelContext& ctx);

}  // namespace kurv
