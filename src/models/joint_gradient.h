#pragma once
// Analytic gradient of the joint model's negative log-likelihood.

#include "core/model_context.h"

namespace kurv {

// Writes into g the gradient of jointModelLogLikelihood at x, which must be
// the last point that function evaluated (its posteriors and group slopes
// are reused; no density is formed again; without a preceding evaluation of
// this run one is made). The third argument is not read. With weights
// (hasWeights) it also leaves the sum of the subjects' score outer products
// in scoreOuterSum (n x n, row-major). Subjects are taken in the
// likelihood's fixed chunks, so the result has the same bits for any number
// of threads. Returns 0.
int jointModelDerivative(int n, const double* x, int* unused, double* g, ModelContext* ctx);

}  // namespace kurv
