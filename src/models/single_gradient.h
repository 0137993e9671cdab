#pragma once
// Analytic gradient of the single-model negative log-likelihood.

#include "core/model_context.h"

namespace kurv {

// Writes into g the gradient of the weighted negative log-likelihood of
// singleModelLogLikelihood at x, which must have been the last point that
// function evaluated (its posteriors and group scores are reused, no density
// is recomputed; called first in a run it evaluates the likelihood itself). The
// third argument is not read. With weights (hasWeights) it also leaves each
// subject's score in subjectScore and their outer-product sum in
// scoreOuterSum (n x n, row-major). With an outcome analysis the gradient
// includes the outcome predictor's dependence on every group term, so it is
// the exact gradient in every run. Returns 0.
int singleModelDerivative(int n, const double* x, int* unused, double* g, ModelContext* ctx);

}  // namespace kurv
