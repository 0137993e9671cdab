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

#include "core/model_context.h"

namespace kurv {

// Stores through f the weighted negative log-likelihood -sum_i w_i ln L_i
// over the subjects that are not excluded, or DBL_MAX as soon as some
// subject's L_i (excluded ones included: theirs is 1) is at most DBL_MIN.
// Leaves multMembershipProb, every component's componentTerm,
// componentPeriodDensity and componentLik, and multGroupTerm (pi_g times the
// product of the component terms) and multSubjectLik for the gradient and
// the posterior probabilities. Returns 0.
int multModelLogLikelihood(int n, const double* x, double* f, ModelContext* ctx);

// Fills the arrays of component m = ctx->currentModel from its parameter
// block xc (nc = nModelParams[m] values, starting at paramStart[m] of the
// vector xc lies in).
void multComponentLogLikelihood(int nc, const double* xc, ModelContext* ctx);

// Sizes the multi-trajectory evaluation arrays (a no-op once sized).
void ensureMultiModelArrays(ModelContext& ctx);

}  // namespace kurv
