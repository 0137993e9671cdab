#pragma once
// Negative log-likelihood of the single-trajectory finite mixture.

#include "core/model_context.h"

namespace kurv {

// Stores through f the weighted negative log-likelihood
//   -sum_i w_i ln L_i,  L_i = O_i sum_k pi_k(i) prod_j f_kij prod_j D_kij,
// with pi the membership probabilities, f the measurement densities, D the
// dropout factors and O the outcome-analysis density, evaluated in the log
// domain (models/single_kernel.h); or DBL_MAX when some subject's ln L_i is
// not a finite number. Leaves for the gradient and the results: groupTerm,
// the posterior probabilities G_ik / sum_k G_ik (the membership
// probabilities for an excluded subject); subjectLogLik, ln L_i, and
// subjectLik, L_i itself (0 where it underflows); groupScore, the slopes of
// each ln G_ik; outcomeTerm, periodSigma, membershipProb[0] (without risk
// factors) and, with a dropout model, dropoutFactorStore. Returns 0.
int singleModelLogLikelihood(int n, const double* x, double* f, ModelContext* ctx);

// Sizes the evaluation arrays of a single-model run (a no-op once they have
// the run's sizes, as after preparation).
void ensureSingleModelArrays(ModelContext& ctx);

}  // namespace kurv
