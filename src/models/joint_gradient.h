#pragma once
// Analytic gradient of the joint model's negative log-likelihood.

#include "core/model_context.h"

namespace kurv {

// Writes into g the gradient of jointModelLogLikelihood at x, which must be
// the last point that function evaluated without failing (its densities,
// group products and subject likelihoods are reused; no density is formed
// again). The third argument is not read. With weights (hasWeights) it also
// leaves each subject's score in subjectScore and the sum of their outer
// products in scoreOuterSum (n x n, row-major). The cost is linear in the
// number of periods: the products over every period but one come from prefix
// and suffix products, and model 2's conditional probabilities are formed
// once per subject and model-1 group. Returns 0.
int jointModelDerivative(int n, const double* x, int* unused, double* g, ModelContext* ctx);

}  // namespace kurv
