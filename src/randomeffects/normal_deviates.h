#pragma once
// Random numbers of the random-effects expected trajectory: a multiplicative
// congruential uniform generator, exact standard normal deviates from it,
// multivariate normal draws, and the Cholesky factorisation they use.

#include <cstdint>

namespace kurv {

// Lehmer's generator with Park and Miller's constants: seed = 16807 seed mod
// (2^31 - 1), u = seed / (2^31 - 1), in double precision (16807 seed < 2^46
// is exact). The seed must not be 0, which would stay 0.
struct LehmerGenerator {
  double seed = 1.0;
  double uniform();
};

// One standard normal deviate (exact method, see normal_deviates.cpp).
double drawStandardNormal(LehmerGenerator& gen);

// x = mean + L z with z_1 ... z_m standard normal drawn in order; L lower
// triangular, packed by rows (row i holds L_i1 ... L_ii).
void drawMultivariateNormal(int m, const double* mean, const double* packedFactor, double* out, double* z,
                            LehmerGenerator& gen);

// In-place Cholesky factorisation A = L L^T of the m x m matrix a (row i,
// column j at a[i * m + j]): row by row, s = A_ij - sum_{k<i} A_ik A_jk; on
// the diagonal p_i = sqrt(s), below it A_ji = s / p_i. A pivot s <= 0 sets
// `failed` and stops, leaving the factor partial. Then the diagonal takes p
// (0 where not reached) and the upper triangle the mirror of the lower one.
void chol(double* a, int m, double* p, bool& failed);

}  // namespace kurv
