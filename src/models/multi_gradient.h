#pragma once
// Analytic gradient of the multi-trajectory negative log-likelihood.

#include "core/model_context.h"

namespace kurv {

// Writes into g the gradient of multModelLogLikelihood at x, which must have
// been the last point that function evaluated (its posteriors and group
// slopes are reused; without a preceding evaluation of this run one is
// made). For a parameter of component m and group g,
//   d(-ln L_i)/dx = -P_ig d ln T_mig/dx,
// P_ig the posterior and T_mig the product of component m's densities under
// group g, whose slopes the likelihood added cell by cell. Membership
// constants: d(-ln L_i)/dtheta_g = -(P_ig - pi_g). Each subject's terms are
// weighted by its weight; with weights the sum of the scores' outer products
// is left in scoreOuterSum (n x n, row-major). Excluded subjects and subjects
// whose ln L_i is not finite are skipped. Subjects are taken in the
// likelihood's fixed chunks, so the result has the same bits for any number
// of threads. The third argument is not read. Returns 0.
int multModelDerivative(int n, const double* x, int* unused, double* g, ModelContext* ctx);

}  // namespace kurv
