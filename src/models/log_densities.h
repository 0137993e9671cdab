#pragma once
// Log-domain densities of one measurement and their slopes.
//
// A subject's group term is a product of many densities; over hundreds of
// periods it falls below the smallest double although its logarithm is an
// ordinary number. The likelihoods therefore add logarithms of densities,
// and the gradients need the slopes of those logarithms, which stay finite
// where the densities themselves underflow. Each function returns
//   logf   ln f (f the density or probability of models/densities.h),
//   dMu    d ln f / d mu, mu the linear predictor of the measurement,
//   dExtra d ln f / d(the model's own extra parameter): ln sigma (CNORM),
//          the zero-inflation logit (ZIP), nothing for LOGIT.
// A measurement of probability 0 has logf = -inf and zero slopes: its group
// term is 0, its posterior weight 0, and a slope of 0 keeps 0 * slope from
// becoming a NaN.
//
// The values are those of censoredNormalDensity, the logistic and
// zipProbability to rounding; where those forms lose accuracy the log forms
// are better: the upper tail 1 - Phi(z) is taken as Phi(-z), which has no
// cancellation, and ln(1 - p) of a logistic p is -softplus(mu).

#include <cfloat>
#include <cmath>

#include "core/exp_clamp.h"
#include "core/normal_cdf.h"
#include "core/normal_density.h"

namespace kurv {

struct CellLog {
  double logf = 0.0;
  double dMu = 0.0;
  double dExtra = 0.0;
};

// ln(1 / sqrt(2 pi)), the constant of the normal log-density.
inline const double kLogInvSqrt2Pi = std::log(kInvSqrt2Pi);

// softplus(v) = ln(1 + e^v) without overflow: v + ln(1 + e^-v) for v > 0.
inline double softplus(double v) {
  return v > 0.0 ? v + std::log1p(std::exp(-v)) : std::log1p(std::exp(v));
}

// A normal measurement between the bounds, z = (y - mu) / sigma:
// ln f = -z^2/2 + ln(1/sqrt(2 pi)) - ln sigma, d/dmu = z / sigma,
// d/d ln sigma = z^2 - 1. No exp at all: this is the common cell.
inline CellLog logNormalInterior(double y, double mu, double invSigma, double logSigma) {
  const double z = (y - mu) * invSigma;
  return {-0.5 * z * z + kLogInvSqrt2Pi - logSigma, z * invSigma, z * z - 1.0};
}

// A censored normal measurement: at or below `lower` P = Phi(z),
// z = (lower - mu)/sigma; at or above `upper` P = Phi(-z), z = (upper -
// mu)/sigma. d ln P/dmu = -+phi(z)/(sigma P), d ln P/d ln sigma = -+z phi(z)/P
// (minus for the lower, plus for the upper bound).
inline CellLog logNormalCensored(bool atLower, double bound, double mu, double sigma) {
  const double z = (bound - mu) / sigma;
  const double a = atLower ? z : -z;
  const double P = normalCdf(&a);
  if (!(P > 0.0)) return {-HUGE_VAL, 0.0, 0.0};
  const double ratio = normalDensity(z) / P;
  const double sign = atLower ? -1.0 : 1.0;
  return {std::log(P), sign * ratio / sigma, sign * ratio * z};
}

// LOGIT: p = logistic(clamped mu); ln p = -softplus(-mu), ln(1 - p) =
// -softplus(mu); d ln f/dmu = 1 - p for y != 0 and -p for y = 0.
inline CellLog logLogit(const ExpClamp& clamp, double y, double mu) {
  const double m = clamp(mu);
  const double e = std::exp(-std::fabs(m));  // in (0, 1]
  const double lp = std::log1p(e);
  const double softPos = m > 0.0 ? m + lp : lp;    // softplus(m)
  const double softNeg = m > 0.0 ? lp : lp - m;    // softplus(-m)
  const double p = m > 0.0 ? 1.0 / (1.0 + e) : e / (1.0 + e);
  const double q = m > 0.0 ? e / (1.0 + e) : 1.0 / (1.0 + e);  // 1 - p without cancellation
  if (y == 0.0) return {-softPos, -p, 0.0};
  return {-softNeg, q, 0.0};
}

// ZIP with lambda = e^{clamped mu} * exposure, omega the zero-inflation
// probability and ln Gamma(y + 1) given (per cell it depends on the data
// alone). dMu is d ln P / d ln lambda, dExtra d ln P / d(zero-inflation logit):
//   y = 0:  P0 = omega + (1 - omega) e^{-lambda},
//           d/d ln lambda = -(1 - omega) lambda e^{-lambda} / P0,
//           d/d eta_w = omega (1 - omega) (1 - e^{-lambda}) / P0;
//   y > 0:  ln P = clamp(y ln lambda - lambda - ln Gamma(y + 1)) + ln(1 - omega),
//           d/d ln lambda = y - lambda, d/d eta_w = -omega.
// A mean below DBL_MIN has flat slopes (zero counts have P = 1 there,
// nonzero counts P = 0), and a negative count has probability 0.
inline CellLog logZip(const ExpClamp& clamp, double y, double lambda, double omega,
                      double logGammaY1) {
  if (y == 0.0) {
    const double e0 = std::exp(-clamp(lambda));
    const double P0 = e0 * (1.0 - omega) + omega;
    // Without inflation ln P0 is -lambda itself, exact where e0 underflows.
    const double logP0 = omega == 0.0 ? -clamp(lambda) : std::log(P0);
    if (lambda < DBL_MIN) return {logP0, 0.0, 0.0};
    return {logP0, -(1.0 - omega) * lambda * e0 / P0, omega * (1.0 - omega) * (1.0 - e0) / P0};
  }
  if (y < 0.0 || !(lambda > DBL_MIN)) return {-HUGE_VAL, 0.0, 0.0};
  const double l = clamp(std::log(lambda) * y - lambda - logGammaY1);
  return {l + std::log1p(-omega), y - lambda, -omega};
}

}  // namespace kurv
