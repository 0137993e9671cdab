#pragma once
// Logistic function p = e^eta / (e^eta + 1) of a linear predictor whose
// exponent is first limited by the exponent clamp, so that e^eta is finite
// and never exactly 0: p then lies in [about 1e-313, 1 - 2^-53].
//
// Formed as e / (e + 1), a few ulp from the true value for every eta, with
// derivative dp/deta = p (1 - p).

#include <cmath>

#include "core/exp_clamp.h"

namespace kurv {

inline double logistic(const ExpClamp& clamp, double eta) {
  const double e = std::exp(clamp(eta));
  return e / (e + 1.0);
}

}  // namespace kurv
