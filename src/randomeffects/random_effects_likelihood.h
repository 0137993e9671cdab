#pragma once
// Log-likelihood of the censored normal trajectory model with random
// polynomial coefficients per subject.

#include "core/model_context.h"

namespace kurv {

// Stores in *f the weighted negative log-likelihood at x, or the largest
// double when it cannot be computed (a singular or non-positive-definite
// covariance, or a subject whose mixture likelihood is at most DBL_MIN).
// Leaves groupTerm (pi_g times the group likelihood) and subjectLik (their
// sum) of every subject for the posterior probabilities. Returns 0.
int randomEffectsCnormLogLikelihood(int n, const double* x, double* f, ModelContext* ctx);

}  // namespace kurv
