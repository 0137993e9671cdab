#pragma once
// Small numerical helpers shared by the report routines: the exponent clamp
// of every exponentiated linear predictor, the logistic function built on it,
// and the standard normal density and distribution function.

#include <cfloat>
#include <cmath>

#include "core/exp_clamp.h"
#include "core/logistic.h"
#include "core/normal_cdf.h"
#include "core/normal_density.h"

namespace kurv::report_detail {

// The exponent clamp of every exponentiated linear predictor.
inline double clampExponent(double x) {
  static const ExpClamp clamp = makeExpClamp();
  return clamp(x);
}

// Logistic function of a clamped predictor, exp(x) / (exp(x) + 1).
inline double logisticOf(double x) {
  static const ExpClamp clamp = makeExpClamp();
  return logistic(clamp, x);
}

using kurv::normalDensity;

// Standard normal distribution function Phi(x): the models' normalCdf, so
// that the reports use the same Phi as the likelihoods.
inline double standardNormalCdf(double x) { return normalCdf(&x); }

}  // namespace kurv::report_detail
