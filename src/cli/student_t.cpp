#include "cli/student_t.h"

#include <cmath>

namespace kurv::cli {

// The classical finite series for integer degrees of freedom (Abramowitz
// and Stegun 26.7.3 and 26.7.4). With x = t / sqrt(n) and q = n / (t^2 + n)
// = cos^2(theta):
//   n even: P = 1/2 + 1/2 * x * sqrt(q) * S, S = 1 + q/2 + q^2 (1*3)/(2*4) + ...
//   n odd:  P = 1/2 + (theta + sin(theta) cos(theta) * S) / pi, with theta =
//           atan(x), S = 1 + q (2/3) + q^2 (2*4)/(3*5) + ... (S = 0 for n = 1).
// The series has (n - 1) / 2 terms; it stops early once a term no longer
// changes the sum in double precision.
double studentTDistribution(double t, int n) {
  const double x = t / std::sqrt(static_cast<double>(n));
  const double q = n / (t * t + n);
  double sum = 1.0;
  double term = 1.0;
  for (int k = (n % 2 == 0) ? 2 : 3; k <= n - 2; k += 2) {
    term = term * q * (k - 1) / k;
    const double next = sum + term;
    if (next == sum) break;
    sum = next;
  }
  double p;
  if (n % 2 == 0) {
    p = 0.5 + 0.5 * x * std::sqrt(q) * sum;
  } else {
    if (n == 1) sum = 0.0;
    constexpr double kOneOverPi = 0.3183098861837907;
    p = (std::atan(x) + q * x * sum) * kOneOverPi + 0.5;
  }
  return p > 1.0 ? 1.0 : p;
}

double twoSidedTProbability(double t, int n) {
  return 2.0 * (1.0 - studentTDistribution(std::fabs(t), n));
}

}  // namespace kurv::cli
