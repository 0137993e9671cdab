#pragma once
// Negative log-likelihood of the multi-trajectory model: two or three
// components (outcomes, each with its own kind, periods, orders and
// parameters) whose trajectories share one latent group membership.
//
//   L_i = sum_g pi_g prod_m prod_j f_mgij,
//
// pi the membership probabilities (multinomial logit without risk factors,
// the first group the reference), f the measurement densities of component m
// under its group-g trajectory (models/densities.h). A group of order -1 in a
// component has no coefficients there: its density is 1 in every period of
// that component (a group that never shows a nonzero outcome exists only in
// single-trajectory runs).

#include <vector>

#include "core/model_context.h"

namespace kurv {

// Stores through f the weighted negative log-likelihood -sum_i w_i ln L_i
// over the subjects that are not excluded, evaluated in the log domain
// (models/multi_kernel.h), or DBL_MAX when some subject's ln L_i (excluded
// ones included: theirs is 0) is not a finite number. Leaves
// multMembershipProb; groupTerm, the posterior probabilities (0 for a
// subject whose ln L_i is not finite); subjectLogLik, ln L_i; groupScore, the
// slopes of each component's log product per group. The products themselves
// are not kept: they underflow on long series, and each would cost an exp
// per subject, group and component. Returns 0.
int multModelLogLikelihood(int n, const double* x, double* f, ModelContext* ctx);

// Sizes the multi-trajectory evaluation arrays (a no-op once sized).
void ensureMultiModelArrays(ModelContext& ctx);

// Posterior group probabilities after the last evaluation, [g * nObs + i];
// the host's missing value for excluded subjects and where ln L_i was not
// finite.
std::vector<double> multiModelPosteriors(const ModelContext& ctx);

}  // namespace kurv
