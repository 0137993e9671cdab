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
// usable); or DBL_MAX when some subject's L_i is not above DBL_MIN. Leaves
// for the gradient and the posterior output: periodDensity and groupTerm of
// model 1 (groupTerm already times pi_j), periodDensity2 and groupTerm2 of
// model 2 (bare products), jointPosterior (the posterior of every pair of
// groups, unless the evaluation failed), subjectLik, periodSigma (model 1's
// scale) and membershipProb. Returns 0.
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
// Index into periodDensity2 of model-2 group k, subject i, period t.
inline std::size_t model2Cell(const ModelContext& ctx, int k, int i, int t) {
  return (static_cast<std::size_t>(k) * ctx.nObs + i) * ctx.nPeriods[1] + t;
}

// Posterior group probabilities of one model of a joint run after the last
// successful evaluation, [g * nObs + i]: model 1 (model 0) sums
// jointPosterior over model 2's groups, model 2 over model 1's. Excluded
// subjects get the host's missing value.
std::vector<double> jointModelPosteriors(const ModelContext& ctx, int model);

}  // namespace kurv
