#pragma once
// Negative log-likelihood of the single-trajectory finite mixture.

#include "core/model_context.h"

namespace kurv {

// Stores through f the weighted negative log-likelihood
//   -sum_i w_i ln L_i,  L_i = O_i sum_k pi_k(i) prod_j f_kij prod_j D_kij,
// with pi the membership probabilities, f the measurement densities, D the
// dropout factors and O the outcome-analysis density; or DBL_MAX when some
// subject's L_i is at most DBL_MIN. Leaves periodSigma, periodDensity,
// dropoutFactorStore, dropoutTerm, groupTerm, outcomeTerm, subjectLik and
// membershipProb[0] for the gradient and the posterior probabilities.
// Returns 0.
int singleModelLogLikelihood(int n, const double* x, double* f, ModelContext* ctx);

// Sizes the evaluation arrays of a single-model run (a no-op once they have
// the run's sizes, as after preparation).
void ensureSingleModelArrays(ModelContext& ctx);

}  // namespace kurv
