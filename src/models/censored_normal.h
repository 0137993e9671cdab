#pragma once
// Density of a measurement y of a normal N(mu, sigma^2) censored at the
// bounds, and its partial derivatives in mu and sigma.
//
//   y <= lower:  P = Phi(z),      z = (lower - mu)/sigma,
//                dP/dmu = -phi(z)/sigma,     dP/dsigma = -z phi(z)/sigma;
//   y >= upper:  P = 1 - Phi(z),  z = (upper - mu)/sigma,
//                dP/dmu =  phi(z)/sigma,     dP/dsigma =  z phi(z)/sigma;
//   otherwise:   f = phi(z)/sigma, z = (y - mu)/sigma,
//                df/dmu = z f/sigma,          df/dsigma = -(1 - z^2) f/sigma.
//
// Phi is normalCdf (absolute error at most 2.2e-16; relative error up to
// about 1e-8 near z = -7 and 0 below -37, see core/normal_cdf.h), phi is
// normalDensity. A bound at +-infinity (or +-1e300) is never reached.

#include "core/normal_cdf.h"
#include "core/normal_density.h"

namespace kurv {

struct CensoredNormalSlopes {
  double dMu = 0.0;     // d density / d mu
  double dSigma = 0.0;  // d density / d sigma
};

// The value alone (the likelihoods need no derivatives).
inline double censoredNormalDensity(double y, double mu, double sigma, double lower, double upper) {
  if (y <= lower) {
    const double z = (lower - mu) / sigma;
    return normalCdf(&z);
  }
  if (y >= upper) {
    const double z = (upper - mu) / sigma;
    return 1.0 - normalCdf(&z);
  }
  return normalDensity((y - mu) / sigma) / sigma;
}

// The two partial derivatives (the gradients reuse the densities the
// likelihood stored, so the value is not formed again).
inline CensoredNormalSlopes censoredNormalSlopes(double y, double mu, double sigma, double lower,
                                                 double upper) {
  CensoredNormalSlopes r;
  if (y <= lower || y >= upper) {
    const double sign = y <= lower ? -1.0 : 1.0;
    const double z = ((y <= lower ? lower : upper) - mu) / sigma;
    const double q = normalDensity(z) / sigma;
    r.dMu = sign * q;
    r.dSigma = sign * q * z;
    return r;
  }
  const double z = (y - mu) / sigma;
  const double f = normalDensity(z) / sigma;
  r.dMu = z * f / sigma;
  r.dSigma = -(1.0 - z * z) * f / sigma;
  return r;
}

}  // namespace kurv
