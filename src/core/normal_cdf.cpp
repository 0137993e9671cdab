// Phi(x) by Hart's algorithm 5666 in the form published by G. West, "Better
// approximations to cumulative normal functions" (Wilmott, 2005).
//
// Both branches compute the upper tail Q(a) = 1 - Phi(a) of a = |x| and use
// the symmetry Phi(-a) = Q(a):
//  - for a < 7.0710678... (= 5 * sqrt(2)) a ratio of a degree-6 and a degree-7
//    polynomial in a, multiplied by exp(-a^2/2): Hart's minimax fit of
//    Q(a) * exp(a^2/2);
//  - beyond it the Laplace continued fraction Q(a) = phi(a) / (a + 1/(a + 2/(a
//    + 3/(a + ...)))) cut after four levels with the tail constant 0.65, where
//    2.506628274631001 is sqrt(2 pi);
//  - beyond a = 37 the tail, about 5.7e-300, is returned as 0 (the next steps
//    would reach the subnormal range).
// The result for x > 0 is 1 - Q, so Phi(0) = Q(0) = 220.2068.../440.4137...
// which is exactly 0.5.

#include "core/normal_cdf.h"

#include <cmath>

namespace kurv {

namespace {

// Hart's numerator and denominator polynomials, Horner form, highest power
// first, constants as published.
double hartNumerator(double a) {
  return ((((((0.03526249659989109 * a + 0.7003830644436881) * a + 6.37396220353165) * a +
             33.912866078383) * a + 112.0792914978709) * a + 221.2135961699311) * a +
          220.2068679123761);
}

double hartDenominator(double a) {
  return (((((((0.08838834764831845 * a + 1.755667163182642) * a + 16.06417757920695) * a +
              86.78073220294608) * a + 296.5642487796737) * a + 637.3336333788311) * a +
           793.8265125199484) * a + 440.4137358247522);
}

}  // namespace

double normalCdf(const double* x) {
  const double a = std::fabs(*x);
  double tail = 0.0;
  if (a <= 37.0) {
    const double e = std::exp(-a * a / 2.0);
    if (a < 7.071067811865475) {
      tail = e * hartNumerator(a) / hartDenominator(a);
    } else {
      const double fraction = a + 1.0 / (a + 2.0 / (a + 3.0 / (a + 4.0 / (a + 0.65))));
      tail = e / fraction / 2.506628274631001;
    }
  }
  return *x > 0.0 ? 1.0 - tail : tail;
}

}  // namespace kurv
