// ln Gamma(x) by Stirling's asymptotic series after upward recurrence.
//
// For z >= 7:
//   ln Gamma(z) = (z - 1/2) ln z - z + ln sqrt(2 pi)
//                 + 1/(12 z) - 1/(360 z^3) + 1/(1260 z^5) - 1/(1680 z^7) + ...
// with 0.918938533204673 = ln sqrt(2 pi) and the coefficients 1/12, 1/360,
// 1/1260, 1/1680 in decimal form. The first omitted term, 1/(1188 z^9), is at
// most 2.1e-11 at z = 7, which bounds the absolute error of the series.
// Below 7 the recurrence Gamma(x) = Gamma(x + n) / (x (x + 1) ... (x + n - 1))
// moves the argument to z = x + n >= 7 and subtracts ln of the product.

#include "core/log_gamma.h"

#include <cmath>

namespace kurv {

double logGamma(double x, int* sign) {
  *sign = 0;
  double z = x;
  double shift = 0.0;
  if (x < 7.0) {
    double product = 1.0;
    while (z < 7.0) {
      product *= z;
      z += 1.0;
    }
    shift = -std::log(product);
  }
  const double r = 1.0 / (z * z);
  return (z - 0.5) * std::log(z) + shift - z + 0.918938533204673 +
         (((0.000793650793651 - r * 0.000595238095238) * r - 0.002777777777778) * r +
          0.083333333333333) / z;
}

}  // namespace kurv
