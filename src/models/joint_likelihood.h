#pragma once
// Negative log-likelihood of the joint (dual-trajectory) model: two outcomes
// measured on the same subjects, model 2's group conditional on model 1's.

#include <vector>

#include "core/model_context.h"

namespace kurv {

// Stores through f the weighted negative log-likelihood
//   -sum_i w_i ln L_i,
//   L_i = sum_j sum_k pi_j(i) pi_{k|j}(i) prod_t f1_jt(i) prod_t f2_kt(i),
// over the subjects that are not excluded, with pi the model-1 membership
// probabilities, pi_{k|j} model 2's conditional on model-1 group j, f1 and f2
// the measurement densities of the two models (1 for a period that is not
// usable), evaluated in the log domain (models/joint_kernel.h); or DBL_MAX
// when some subject's ln L_i is not a finite number. Leaves for the gradient
// and the posterior output: jointPosterior (the posterior of every pair of
// groups; 0 for a subject whose ln L_i is not finite), subjectLogLik (ln L_i)
// and subjectLik (L_i itself, 0 where it underflows), groupScore (the slopes
// of each group's log product, model 1's slots then model 2's), groupTerm of
// model 1 (pi_j times the product) and groupTerm2 of model 2 (the bare
// product; both 0 where they underflow), periodSigma (model 1's scale) and,
// without model-1 risk factors, membershipProb[0]. Returns 0.
int jointModelLogLikelihood(int n, const double* x, double* f, ModelContext* ctx);

// Sizes the evaluation arrays of a joint run (a no-op once they have the
// run's sizes).
void ensureJointModelArrays(ModelContext& ctx);

// Where the conditional constants of each model-1 group j start (the
// constant of model-2 group 2 given j, as the layout placed it).
std::vector<int> conditionalBlockStarts(const ModelContext& ctx);
// Model 2's membership probabilities for subject i given the model-1 group
// whose constants start at `blockStart`, into membershipProb[1].
void conditionalMembership(const double* x, ModelContext& ctx, int i, int blockStart);

// Index into jointPosterior of model-1 group j, model-2 group k, subject i.
inline std::size_t jointCell(const ModelContext& ctx, int j, int k, int i) {
  return (static_cast<std::size_t>(j) * ctx.nGroups[1] + k) * ctx.nObs + i;
}

// Posterior group probabilities of one model of a joint run after the last
// successful evaluation, [g * nObs + i]: model 1 (model 0) sums
// jointPosterior over model 2's groups, model 2 over model 1's. Excluded
// subjects get the host's missing value.
std::vector<double> jointModelPosteriors(const ModelContext& ctx, int model);

}  // namespace kurv
