#pragma once
// Zero-inflated Poisson probability of a count and its slopes.
//
// A Poisson(lambda) count that is a structural zero with probability omega:
//   P(0) = omega + (1 - omega) e^{-lambda},
//   P(y) = (1 - omega) exp(y ln lambda - lambda - ln Gamma(y + 1)),  y != 0.
// Slopes in ln lambda (the linear predictor of the mean) and in the
// zero-inflation logit eta_w (d omega / d eta_w = omega (1 - omega)):
//   y = 0:  dP/d ln lambda = -(1 - omega) lambda e^{-lambda},
//           dP/d eta_w     =  omega (1 - omega) (1 - e^{-lambda});
//   y != 0: dP/d ln lambda = (y - lambda) P(y),
//           dP/d eta_w     = -omega P(y).
// Without zero inflation omega = 0: the plain Poisson model.
//
// A negative count has probability 0 and no slopes.
// lambda is the exponential of a clamped predictor times an exposure, so only
// the clamp's upper end can bite on it; a nonzero count whose mean is at most
// DBL_MIN has probability 0 (ln lambda is not finite there) and no slopes.
// ln Gamma is logGamma (absolute error up to 2e-11, see core/log_gamma.h);
// the exponent is clamped before exp.

#include <cfloat>
#include <cmath>

#include "core/exp_clamp.h"
#include "core/log_gamma.h"

namespace kurv {

inline double zipProbability(const ExpClamp& clamp, double y, double lambda, double omega) {
  if (y == 0.0) return std::exp(-clamp(lambda)) * (1.0 - omega) + omega;
  // A negative count is impossible: the formula's continuation through
  // ln Gamma(y + 1) has no bound there, and the likelihood would run off to
  // infinity instead of failing.
  if (y < 0.0) return 0.0;
  if (lambda > DBL_MIN) {
    int sign = 0;
    const double g = y + 1.0 > 0.0 ? logGamma(y + 1.0, &sign) : 0.0;
    const double l = clamp(std::log(lambda) * y - lambda - g);
    return std::exp(l) * (1.0 - omega);
  }
  return 0.0;
}

struct ZipSlopes {
  double dLogLambda = 0.0;  // dP / d ln lambda
  double dOmegaLogit = 0.0;  // dP / d eta_w
};

inline ZipSlopes zipSlopes(const ExpClamp& clamp, double y, double lambda, double omega) {
  if (y == 0.0) {
    const double e0 = std::exp(-clamp(lambda));
    return {-e0 * (1.0 - omega) * lambda, omega * (1.0 - omega) * (1.0 - e0)};
  }
  const double P = zipProbability(clamp, y, lambda, omega);
  return {(y - lambda) * P, -omega * P};
}

}  // namespace kurv
