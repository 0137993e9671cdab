#pragma once
// The exponent clamp shared by every exponentiated linear predictor.
//
// Before exp() is applied to a linear predictor it is limited to the closed
// interval [-ln(DBL_MAX) - 10, ln(DBL_MAX) - 10], about [-719.78, 699.78].
// The upper end keeps exp() and sums of a few such exponentials finite (a
// margin of e^10 below DBL_MAX); the lower end keeps exp() from underflowing
// to exactly 0, so a probability never becomes exactly 0 or 1 by overflow.
// The ends are computed at run time from the largest double, not written as
// literals, so they follow the platform's double format.

#include <cfloat>
#include <cmath>

namespace kurv {

struct ExpClamp {
  double low = 0.0;
  double high = 0.0;

  // The value limited to [low, high]; a NaN passes through unchanged.
  double operator()(double v) const { return v < low ? low : (v > high ? high : v); }
};

inline ExpClamp makeExpClamp() {
  const double lnMax = std::log(DBL_MAX);
  return ExpClamp{-lnMax - 10.0, lnMax - 10.0};
}

}  // namespace kurv
