#include "optim/trust_step.h"

#include <cblas.h>

#include <cmath>

#include "optim/packed_triangular.h"

namespace kurv {

void computeNewtonStep(int n, std::span<const double> packedL, std::span<const double> g,
                       std::span<double> v, std::span<double> work, StepQuantities& q) {
  // H⁻¹g = L⁻ᵀ(L⁻¹g): one forward and one back substitution.
  solveLower(n, packedL.data(), g.data(), v.data());
  solveLowerTransposed(n, packedL.data(), v.data(), v.data());
  q.newtonNorm = cblas_dnrm2(n, v.data(), 1);
  // ρ = ‖Lᵀg‖, the curvature of the model along g: ρ² = gᵀHg.
  multiplyLowerTransposed(n, packedL.data(), g.data(), work.data());
  q.rho = cblas_dnrm2(n, work.data(), 1);
}

void doubleDoglegStep(std::span<const double> g, std::span<const double> v,
                      std::span<double> s, double doglegBias, StepQuantities& q) {
  const int n = static_cast<int>(s.size());
  const double gamma = q.gradNorm;
  const double nu = q.newtonNorm;
  const double rho = q.rho;
  const double radius = q.radius;
  // q·γ = gᵀH⁻¹g. At an exact stationary point (γ = 0) the quotient is
  // taken as 0, which is its limit, rather than 0/0.
  const double qq = gamma > 0.0 ? cblas_ddot(n, g.data(), 1, v.data(), 1) / gamma : 0.0;
  q.newtonReduction = 0.5 * qq * gamma;
  const double lambda = nu > 0.0 ? radius / nu : 1.0;

  if (lambda >= 1.0) {
    // The Newton step lies inside the trust region: take it whole.
    for (int i = 0; i < n; ++i) s[i] = -v[i];
    q.stepNorm = nu;
    q.stepParam = 0.0;
    q.dirDerivative = -qq * gamma;
    q.predictedReduction = q.newtonReduction;
    return;
  }

  q.stepNorm = radius;
  // Cauchy step −c·g minimises the model along −g; its length is κ = c·γ.
  const double c = (gamma / rho) * (gamma / rho);
  const double kappa = c * gamma;
  // Dennis–Mei relaxation: the dogleg aims at ω·(Newton step), biased
  // towards the Newton step by doglegBias (0.8).
  const double omega = 1.0 - doglegBias * (1.0 - kappa / qq);

  if (lambda >= omega) {
    // Between the relaxed and the full Newton step: a scaled Newton step.
    const double t = -lambda;
    for (int i = 0; i < n; ++i) s[i] = t * v[i];
    q.stepParam = 1.0 - (lambda - omega) / (1.0 - omega);
    q.dirDerivative = -lambda * qq * gamma;
    q.predictedReduction = lambda * (1.0 - lambda / 2.0) * qq * gamma;
    return;
  }

  if (kappa >= radius) {
    // The Cauchy point lies outside the region: steepest descent to the boundary.
    const double t = -(radius / gamma);
    for (int i = 0; i < n; ++i) s[i] = t * g[i];
    q.stepParam = 1.0 + kappa / radius;
    q.dirDerivative = -radius * gamma;
    q.predictedReduction = radius * (gamma - 0.5 * radius * (rho * rho) / (gamma * gamma));
    return;
  }

  // The dogleg: from the Cauchy point towards the relaxed Newton point, to
  // where the path meets the boundary. All inner products are scaled by 1/γ.
  const double a = omega * c * qq / gamma;                     // ⟨Cauchy, relaxed Newton⟩
  const double b = a - c * c;                                  // ⟨leg, Cauchy⟩
  const double e = (omega * nu / gamma) * (omega * nu / gamma) - a - b;  // ‖leg‖²
  const double h = (radius / gamma) * (radius / gamma) - c * c;
  const double t = h / (std::sqrt(e * h + b * b) + b);
  const double t1 = (t - 1.0) * c;
  const double t2 = -t * omega;
  q.stepParam = 2.0 - t;
  for (int i = 0; i < n; ++i) s[i] = t1 * g[i] + t2 * v[i];
  q.dirDerivative = (t1 * gamma + t2 * qq) * gamma;
  q.predictedReduction = -(t2 + 1.0) * gamma * (t1 * gamma) -
                         (0.5 * t2 + 1.0) * (t2 * gamma) * qq - 0.5 * ((rho * t1) * (rho * t1));
}

double relativeStepChange(std::span<const double> d, std::span<const double> theta,
                          std::span<const double> theta0) {
  double change = 0.0;
  double size = 0.0;
  for (std::size_t i = 0; i < theta.size(); ++i) {
    const double t = std::fabs(d[i] * (theta[i] - theta0[i]));
    if (change < t) change = t;
    const double u = d[i] * (std::fabs(theta[i]) + std::fabs(theta0[i]));
    if (size < u) size = u;
  }
  return size > 0.0 ? change / size : 0.0;
}

}  // namespace kurv
