#pragma once
// Where the parameters of one group of one model sit in the parameter vector.
//
// A model's trajectory blocks follow each other from the model's first
// parameter: group g takes order + 1 polynomial coefficients (intercept
// first) and, when order + 1 > 0, one coefficient per time-varying covariate;
// a group of order -1 takes nothing. Zero-inflation blocks start at
// zipStart[m]: one shared block when a single order was given, else one block
// of inflOrder + 1 per group in group order. Dropout blocks (model 1) start at
// dropoutStart: one shared block when a single dropout order was given, else
// one block per group of dropoutOrder + 1 coefficients (constant and lagged
// outcomes) followed by one per dropout covariate when the order is not -1.

#include "core/model_context.h"
#include "models/parameter_layout.h"

namespace kurv {

struct GroupBlocks {
  int trajectory = 0;     // first trajectory coefficient
  int zeroInflation = 0;  // first zero-inflation coefficient
  int dropout = 0;        // first dropout coefficient (model 1)
};

// Polynomial order of group k of model m (-1: no trajectory parameters).
inline int trajectoryOrder(const ModelContext& ctx, int m, int k) {
  return static_cast<int>(ctx.polyOrder[m][k]);
}
// (The sizes of the trajectory and dropout blocks are those of the parameter
// layout: trajectoryBlockSize and dropoutBlockSize of models/parameter_layout.h.)
// Zero-inflation order of group k (-1: none); -1 when the model has no zero
// inflation at all.
int zeroInflationOrder(const ModelContext& ctx, int m, int k);
// Dropout order of group k of model 1 (-1: no dropout factor).
int dropoutOrderOf(const ModelContext& ctx, int k);

// The blocks of group k of model m: from the measurement tables once they
// are ready, else from the parameter layout.
GroupBlocks groupBlocks(const ModelContext& ctx, int m, int k);
GroupBlocks layoutGroupBlocks(const ModelContext& ctx, int m, int k);

// Index of model m's CNORM log-sigma parameter as the layout placed it (-1
// when the model has none).
int logSigmaIndex(const ModelContext& ctx, int m);

}  // namespace kurv
