#pragma once
// Analytic gradient of the multi-trajectory negative log-likelihood.

#include "core/model_context.h"

namespace kurv {

// Writes into g the gradient of multModelLogLikelihood at x, which must have
// been the last point that function evaluated (its arrays are reused). For a
// parameter of component m and group g,
//   d(-ln L_i)/dx = -(pi_g / L_i) prod_{m' != m} T_m'gi
//                    sum_j prod_{j' != j} f_mgij' df_mgij/dx,
// the products over the other periods taken from prefix and suffix products,
// so that a subject costs a number of density derivatives linear in its
// periods. Membership constants: d(-ln L_i)/dtheta_g = -(M_gi / L_i - pi_g).
// Each subject's terms are weighted by its weight; with weights the scores
// are left in subjectScore and their outer-product sum in scoreOuterSum
// (n x n, row-major). Excluded subjects and subjects with L_i = 0 are
// skipped. The third argument is not read. Returns 0.
int multModelDerivative(int n, const double* x, int* unused, double* g, ModelContext* ctx);

}  // namespace kurv
