#pragma once
// The layout of the parameter vector: how many parameters each block of a
// model takes and where each block starts.
//
// Single-trajectory and joint runs (model 1, then model 2 of a joint run):
//   trajectories (group by group: order + 1 polynomial coefficients, then one
//   coefficient per time-varying covariate unless the order is -1), dropout,
//   the CNORM log scale, random effects, zero inflation, membership
//   (groups - 1 blocks of 1 + risk factors), outcome analysis; then model 2's
//   trajectories, log scale, zero inflation and its conditional membership
//   constants ((model-1 groups + model-2 risk factors) per model-2 group but
//   the first).
// Multi-trajectory runs: per component its trajectories, log scale and zero
// inflation; then the shared membership constants.

#include "core/model_context.h"

namespace kurv {

// Orders are held as doubles and used truncated toward zero.
inline int orderValue(double order) { return static_cast<int>(order); }

// Parameters of group g's trajectory block in model m: order + 1 polynomial
// coefficients, then one coefficient per time-varying covariate unless the
// group has no trajectory at all (order -1).
int trajectoryBlockSize(const ModelContext& ctx, int m, int g);
// Parameters of dropout block b (b = 0 when one order is shared).
int dropoutBlockSize(const ModelContext& ctx, int b);

// Parameters of each kind of block, summed over the groups.
int trajectoryParamCount(const ModelContext& ctx, int m);
int dropoutParamCount(const ModelContext& ctx);
int zeroInflationParamCount(const ModelContext& ctx, int m);
int randomEffectsParamCount(const ModelContext& ctx);

// Sets every parameter block start for single, joint and multi-trajectory
// runs; a multi-trajectory run also gets its shared membership block here.
// `paramEnd`[m] is one past the last parameter of model m.
void layoutParameters(ModelContext& ctx);

// Start values the user must give: membership blocks without risk factors
// are given as one percentage per group instead of the free log-odds.
int expectedStartValueCount(const ModelContext& ctx);

}  // namespace kurv
