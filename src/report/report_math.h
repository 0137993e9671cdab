#pragma once
// Small numerical helpers shared by the report routines: the exponent clamp
// of every exponentiated linear predictor, the logistic function built on it,
// and the standard normal density and distribution function.

#include <cfloat>
#include <cmath>

#if __has_include("models/normal_cdf.h")
#include "models/normal_cdf.h"
#endif

namespace kurv::report_detail {

// An exponentiated linear predictor is limited to [-ln(DBL_MAX) - 10,
// ln(DBL_MAX) - 10] (about -719.78 and 699.78): exp() of the upper end stays
// ten e-folds below overflow, so sums of many such terms remain finite, and
// exp() of the lower end is a tiny positive (subnormal) number rather than an
// exact zero.
inline double clampExponent(double x) {
  static const double upper = std::log(DBL_MAX) - 10.0;
  static const double lower = -std::log(DBL_MAX) - 10.0;
  if (x < lower) return lower;
  if (x > upper) return upper;
  return x;
}

// Logistic function of a clamped predictor, exp(x) / (exp(x) + 1).
inline double logisticOf(double x) {
  const double e = std::exp(clampExponent(x));
  return e / (e + 1.0);
}

// Standard normal density; 0.3989422804014327 is 1/sqrt(2*pi).
inline double normalDensity(double z) { return std::exp(-0.5 * z * z) * 0.3989422804014327; }

// Standard normal distribution function Phi(x): the models' normalCdf, so
// that the reports use the same Phi as the likelihoods. Until that is part of
// the tree, Phi(x) = erfc(-x / sqrt(2)) / 2 from the C library.
#if __has_include("models/normal_cdf.h")
inline double standardNormalCdf(double x) { return normalCdf(&x); }
#else
// TODO: remove once models/normal_cdf.h is merged.
inline double standardNormalCdf(double x) { return 0.5 * std::erfc(-x / std::sqrt(2.0)); }
#endif

}  // namespace kurv::report_detail
