// Bivariate normal probabilities by Genz's method: Genz, A. (2004),
// "Numerical computation of rectangular bivariate and trivariate normal and t
// probabilities", Statistics and Computing 14, 251-260 (after Drezner and
// Wesolowsky, 1990).
//
// For |r| < 0.925, Plackett's identity integrated over the correlation and
// written in the arcsine variable:
//   P(X > h, Y > k) = Phi(-h) Phi(-k)
//     + 1/(2 pi) int_0^asin(r) exp(-(h^2 + k^2 - 2 h k sin t) / (2 cos^2 t)) dt,
// by Gauss-Legendre quadrature with 6 points for |r| < 0.3, 12 for |r| < 0.75
// and 20 beyond (double precision accuracy for each range, Genz 2004).
// For |r| >= 0.925 the integrand has a near-singularity at |r| = 1, and the
// integral is taken in the variable x = sqrt(1 - r^2) after subtracting the
// first terms of its asymptotic expansion, which are integrated in closed
// form. Exponent arguments below -100 (terms below 4e-44) are taken as 0.

#include "randomeffects/bivariate_normal.h"

#include <algorithm>
#include <cmath>

#include "core/normal_cdf.h"

namespace kurv {

namespace {

constexpr double kTwoPi = 6.283185307179586;
// Exponent arguments at or below this are dropped (exp(-100) ~ 3.7e-44).
constexpr double kSmallestExponent = -100.0;
// Limit of -h k for the closed-form term of the asymptotic form.
constexpr double kLargestHk = 100.0;
// Correlation beyond which the asymptotic form is used.
constexpr double kAsymptoticCorrelation = 0.925;

// Gauss-Legendre nodes (negative half, the rule is symmetric) and weights
// for 6, 12 and 20 points on [-1, 1].
constexpr double kNodes6[3] = {-0.9324695142031522, -0.6612093864662647, -0.2386191860831970};
constexpr double kWeights6[3] = {0.1713244923791705, 0.3607615730481384, 0.4679139345726904};
constexpr double kNodes12[6] = {-0.9815606342467191, -0.9041172563704750, -0.7699026741943050,
                                -0.5873179542866171, -0.3678314989981802, -0.1252334085114692};
constexpr double kWeights12[6] = {0.04717533638651177, 0.1069393259953183, 0.1600783285433464,
                                  0.2031674267230659, 0.2334925365383547, 0.2491470458134029};
constexpr double kNodes20[10] = {-0.9931285991850949, -0.9639719272779138, -0.9122344282513259,
                                 -0.8391169718222188, -0.7463319064601508, -0.6360536807265150,
                                 -0.5108670019508271, -0.3737060887154196, -0.2277858511416451,
                                 -0.07652652113349733};
constexpr double kWeights20[10] = {0.01761400713915212, 0.04060142980038694, 0.06267204833410906,
                                   0.08327674157670475, 0.1019301198172404, 0.1181945319615184,
                                   0.1316886384491766, 0.1420961093183821, 0.1491729864726037,
                                   0.1527533871307259};

double phi(double x) { return normalCdf(&x); }

}  // namespace

double bivariateUpper(double h, double k, double r) {
  const double* nodes = kNodes20;
  const double* weights = kWeights20;
  int half = 10;
  if (std::fabs(r) < 0.3) {
    nodes = kNodes6;
    weights = kWeights6;
    half = 3;
  } else if (std::fabs(r) < 0.75) {
    nodes = kNodes12;
    weights = kWeights12;
    half = 6;
  }
  double hk = h * k;
  double bvn = 0.0;
  if (std::fabs(r) < kAsymptoticCorrelation) {
    const double hs = (h * h + k * k) / 2.0;
    const double asr = std::asin(r);
    for (int i = 0; i < half; ++i) {
      for (int side = -1; side <= 1; side += 2) {
        const double sn = std::sin(asr * (side * nodes[i] + 1.0) / 2.0);
        bvn += weights[i] * std::exp((sn * hk - hs) / (1.0 - sn * sn));
      }
    }
    return bvn * asr / (2.0 * kTwoPi) + phi(-h) * phi(-k);
  }
  if (r < 0.0) {
    k = -k;
    hk = -hk;
  }
  if (std::fabs(r) < 1.0) {
    const double as = (1.0 - r) * (1.0 + r);
    double a = std::sqrt(as);
    const double bs = (h - k) * (h - k);
    const double c = (4.0 - hk) / 8.0;
    const double d = (12.0 - hk) / 16.0;
    const double asr = -(bs / as + hk) / 2.0;
    if (asr > kSmallestExponent)
      bvn = a * std::exp(asr) * (1.0 - c * (bs - as) * (1.0 - d * bs / 5.0) / 3.0 + c * d * as * as / 5.0);
    // exp(-hk/2) stays below e^50; beyond, the term's normal tail factor
    // is far below the rounding of the sum.
    if (-hk < kLargestHk) {
      const double b = std::sqrt(bs);
      bvn -= std::exp(-hk / 2.0) * std::sqrt(kTwoPi) * phi(-b / a) * b * (1.0 - c * bs * (1.0 - d * bs / 5.0) / 3.0);
    }
    a /= 2.0;
    for (int i = 0; i < half; ++i) {
      for (int side = -1; side <= 1; side += 2) {
        const double xs = (a * (side * nodes[i] + 1.0)) * (a * (side * nodes[i] + 1.0));
        const double rs = std::sqrt(1.0 - xs);
        const double e = -(bs / xs + hk) / 2.0;
        if (e > kSmallestExponent) {
          const double sp = 1.0 + c * xs * (1.0 + d * xs);
          const double ep = std::exp(-hk * (1.0 - rs) / (2.0 * (1.0 + rs))) / rs;
          bvn += a * weights[i] * std::exp(e) * (ep - sp);
        }
      }
    }
    bvn = -bvn / kTwoPi;
  }
  if (r > 0.0) bvn += phi(-std::max(h, k));
  if (r < 0.0) bvn = -bvn + std::max(0.0, phi(-h) - phi(-k));
  return bvn;
}

double bivariateNormal(const double* lower, const double* upper, const int* codes, double r) {
  const int c1 = codes[0];
  const int c2 = codes[1];
  // A coordinate without limits is integrated out: the other one's marginal.
  if (c1 < 0 || c2 < 0) {
    const int i = c1 < 0 ? 1 : 0;
    if (codes[i] < 0) return 1.0;
    const double below = codes[i] == 0 ? 0.0 : phi(lower[i]);
    const double above = codes[i] == 1 ? 1.0 : phi(upper[i]);
    return std::max(above - below, 0.0);
  }
  const double a1 = lower[0], a2 = lower[1], b1 = upper[0], b2 = upper[1];
  if (c1 == 2 && c2 == 2)
    return bivariateUpper(a1, a2, r) - bivariateUpper(b1, a2, r) - bivariateUpper(a1, b2, r) +
           bivariateUpper(b1, b2, r);
  if (c1 == 2 && c2 == 1) return bivariateUpper(a1, a2, r) - bivariateUpper(b1, a2, r);
  if (c1 == 1 && c2 == 2) return bivariateUpper(a1, a2, r) - bivariateUpper(a1, b2, r);
  if (c1 == 2 && c2 == 0) return bivariateUpper(-b1, -b2, r) - bivariateUpper(-a1, -b2, r);
  if (c1 == 0 && c2 == 2) return bivariateUpper(-b1, -b2, r) - bivariateUpper(-b1, -a2, r);
  if (c1 == 1 && c2 == 0) return bivariateUpper(a1, -b2, -r);
  if (c1 == 0 && c2 == 1) return bivariateUpper(-b1, a2, -r);
  if (c1 == 1 && c2 == 1) return bivariateUpper(a1, a2, r);
  return bivariateUpper(-b1, -b2, r);
}

}  // namespace kurv
