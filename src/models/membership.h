#pragma once
// Group-membership probabilities: a multinomial logit over the groups of a
// model, with one reference group whose linear predictor is fixed at 0.

#include "core/model_context.h"

namespace kurv {

// Fills the membership probabilities of subject i from the parameters that
// start at index s of x (0-based):
//  - model 1 (ctx->currentModel 0, not multi-trajectory): membershipProb[0],
//    risk values from `risk` (the model's risk arrays, [variable][subject]);
//  - model 2 of a joint model (currentModel 1): membershipProb[1], conditional
//    on the model-1 group whose constants start at s; risk values and their
//    coefficients come from the run record (risk[1], after the constants);
//  - a multi-trajectory run (isMultModel): multMembershipProb with the
//    multNGroups / multRefGroup / multNRisk counts and `risk`.
// Without risk variables the subject index is not read. Returns 0.
int computeMembershipProbabilities(int i, int s, const Matrix& risk, const double* x,
                                   ModelContext* ctx);

// First model-2 risk coefficient of model-2 group g in a joint run, as the
// parameter layout placed it (-1 when the group has none).
int conditionalRiskStart(const ModelContext& ctx, int g);

// The 0-based reference group of model m (the first group unless another one
// was named).
int referenceGroup(const ModelContext& ctx, int m);

}  // namespace kurv
