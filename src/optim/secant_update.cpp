#include "optim/secant_update.h"

#include <cblas.h>

#include <cmath>

#include "optim/packed_triangular.h"

namespace kurv {

void bfgsUpdateVectors(int n, std::span<const double> packedL, std::span<const double> s,
                       std::span<const double> y, std::span<double> w, std::span<double> z) {
  // Powell's damping parameter ε_d: the update is damped when yᵀs < ε_d·sᵀHs.
  constexpr double kDamping = 0.1;
  multiplyLowerTransposed(n, packedL.data(), s.data(), w.data());  // w = Lᵀs
  const double shs = cblas_ddot(n, w.data(), 1, w.data(), 1);      // σ = sᵀHs
  const double ys = cblas_ddot(n, y.data(), 1, s.data(), 1);       // η = yᵀs
  double cy;
  double cs;
  if (ys >= kDamping * shs) {
    cy = 1.0 / (std::sqrt(ys) * std::sqrt(shs));
    cs = 1.0 / shs;
  } else {
    // y is replaced by θ_d·y + (1 − θ_d)·Hs with θ_d chosen so that the
    // curvature along s becomes exactly ε_d·sᵀHs.
    const double thetaD = 0.9 * shs / (shs - ys);
    const double rootDamping = std::sqrt(kDamping);
    cy = thetaD / (shs * rootDamping);
    cs = (1.0 + (thetaD - 1.0) / rootDamping) / shs;
  }
  solveLower(n, packedL.data(), y.data(), z.data());  // z' = L⁻¹y
  for (int i = 0; i < n; ++i) z[i] = cy * z[i] - cs * w[i];
}

void secantUpdateFactor(int n, std::span<double> packedL, std::span<double> w,
                        std::span<double> z, std::span<double> work) {
  double* lambda = work.data();
  double* beta = work.data() + n;
  double* gamma = work.data() + 2 * n;
  // Tail sums S_j = Σ_{k>j} w_k², held in λ until λ_j is computed.
  double tail = 0.0;
  for (int j = n - 2; j >= 0; --j) {
    tail += w[j + 1] * w[j + 1];
    lambda[j] = tail;
  }
  // Goldfarb's recurrence: factor I + zwᵀ as a product of elementary
  // lower-triangular matrices, column by column.
  double mu = 1.0;
  double eta = 0.0;
  for (int j = 0; j < n - 1; ++j) {
    const double wj = w[j];
    const double a = mu * z[j] - eta * wj;
    const double theta = 1.0 + a * wj;
    const double bPrime = a * lambda[j];
    double lj = std::sqrt(theta * theta + a * bPrime);
    if (theta > 0.0) lj = -lj;
    lambda[j] = lj;
    const double b = theta * wj + bPrime;
    gamma[j] = b * mu / lj;
    beta[j] = (a - b * eta) / lj;
    mu = -mu / lj;
    eta = -(eta + (a * a) / (theta - lj)) / lj;
  }
  lambda[n - 1] = 1.0 + (mu * z[n - 1] - eta * w[n - 1]) * w[n - 1];

  // L⁺ = L times those factors, from the last column back so that L can be
  // overwritten in place; w and z accumulate L·w and L·z as they go.
  for (int j = n - 1; j >= 0; --j) {
    const double lj = lambda[j];
    double* rowJ = packedL.data() + packedRowStart(j);
    const double ljj = rowJ[j];
    rowJ[j] = lj * ljj;
    const double wj = w[j];
    w[j] = ljj * wj;
    const double zj = z[j];
    z[j] = ljj * zj;
    if (j == n - 1) continue;
    const double bj = beta[j];
    const double gj = gamma[j];
    for (int i = j + 1; i < n; ++i) {
      double& lij = packedL[packedRowStart(i) + j];
      const double old = lij;
      lij = lj * old + bj * w[i] + gj * z[i];
      w[i] = w[i] + old * wj;
      z[i] = z[i] + old * zj;
    }
  }
}

}  // namespace kurv
