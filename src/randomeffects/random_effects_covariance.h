#pragma once
// The pieces of the random-effects censored normal model shared by its
// likelihood and its expected trajectory: where a group's random-effects
// scales sit, and the marginal covariance of a measurement vector.

#include "core/model_context.h"

namespace kurv {

// The random-effects scales of group g: the first parameter of its block
// (one block shared by every group when one order was given, else one block
// per group) and their number q (0 for an order of -1 or no random effects).
struct RandomEffectsBlock {
  int start = 0;
  int q = 0;
};
RandomEffectsBlock randomEffectsBlock(const ModelContext& ctx, int g);

// Sigma = Z D Z^T + sigma2 I for m measurements with design rows Z (m x q,
// column-major, row k = (1, t_k, ..., t_k^(q-1))) and D = diag(d): two BLAS
// products, Z D into zd (m x q), then (Z D) Z^T into cov (m x m,
// column-major); sigma2 I alone when q < 1 or m < 1.
void randomEffectsCovariance(int m, int q, const double* z, const double* d, double sigma2, double* zd,
                             double* cov);

}  // namespace kurv
