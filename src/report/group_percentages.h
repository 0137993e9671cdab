#pragma once
// Group shares of a multinomial-logit membership model and their
// delta-method standard errors.

#include <span>

namespace kurv {

// Percentages of G = pct.size() groups whose membership model has one
// constant per non-reference group (in group order, the reference group
// skipped) and a linear predictor of 0 for the reference group
// `refGroup` (0-based).
//
// `constants` (G - 1 values) are clamped in place to the exponent interval.
// pct[g] = 100 * exp(c_g) / (1 + sum of exp(c)). When `covariance` is given
// (row-major, `nParams` columns, the constants at rows and columns
// firstIndex .. firstIndex + G - 2), pctSe[g] = 100 * sqrt(|V[g][g]|) with
// V = J C J^T, J the Jacobian of the shares with respect to the constants;
// otherwise every pctSe[g] is `missing`.
void groupPercentages(std::span<double> constants, int refGroup, const double* covariance,
                      int nParams, int firstIndex, double missing, std::span<double> pct,
                      std::span<double> pctSe);

}  // namespace kurv
