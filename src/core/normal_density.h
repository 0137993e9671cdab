#pragma once
// Standard normal density phi(z) = exp(-z^2/2) / sqrt(2 pi).
//
// 0.3989422804014327 is 1/sqrt(2 pi) rounded to the nearest double. The
// result has the accuracy of exp (within an ulp or two of the true value);
// z^2/2 is exact up to one rounding, so for |z| up to about 6 the relative
// error stays below 4e-16 and grows like z^2 ulp beyond (the rounding of z^2
// is amplified by exp). It underflows to 0 for |z| above about 38.6.

#include <cmath>

namespace kurv {

inline constexpr double kInvSqrt2Pi = 0.3989422804014327;

inline double normalDensity(double z) { return std::exp(-0.5 * z * z) * kInvSqrt2Pi; }

}  // namespace kurv
