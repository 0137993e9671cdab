#include "randomeffects/mvn_probability.h"

#include <cmath>

#include "randomeffects/bivariate_normal.h"
#include "randomeffects/lattice_integrate.h"

namespace kurv {

namespace {
// Error reported for a probability computed in closed form from Phi.
constexpr double kClosedFormError = 2e-16;
}  // namespace

MvnResult mvnProbability(int m, const double* lower, const double* upper, const int* codes,
                         const double* correlations, int maxEvaluations, double absTolerance,
                         double relTolerance, UniformStream& stream, MvnPrepared& p) {
  MvnResult result;
  if (m < 1 || m > kMvnMaxDimension) {
    result.status = 2;
    result.error = 1.0;
    return result;
  }
  mvnPrepare(m, lower, upper, codes, correlations, p);
  const int r = p.nBounded;
  if (p.impossible) return result;
  if (r == 0) {
    result.value = 1.0;
    return result;
  }
  if (r == 1) {
    double d, e;
    intervalProbabilities(p.lower[0], p.upper[0], p.codes[0], d, e);
    result.value = e - d;
    result.error = kClosedFormError;
    return result;
  }
  if (r == 2) {
    const double l21 = p.factor[static_cast<std::size_t>(m)];
    if (p.factor[static_cast<std::size_t>(m) + 1] > 0.0) {
      // X_2 = L21 Z_1 + Z_2 after the rows' scaling: variance 1 + L21^2.
      const double t = std::sqrt(1.0 + l21 * l21);
      double a[2] = {p.lower[0], p.lower[1] / t};
      double b[2] = {p.upper[0], p.upper[1] / t};
      result.value = bivariateNormal(a, b, p.codes.data(), l21 / t);
      return result;
    }
    // The second row is a constraint on Z_1 itself: the integrand, which
    // intersects the two intervals, draws nothing and is exact.
    const double unused = 0.5;
    result.value = mvnIntegrand(1, &unused, p);
    result.error = kClosedFormError;
    return result;
  }
  const LatticeResult lattice = latticeIntegrate(
      r - 1, 0, maxEvaluations, absTolerance, relTolerance,
      [&p, r](const double* w) { return mvnIntegrand(r - 1, w, p); }, stream);
  result.value = lattice.value;
  result.error = lattice.error;
  result.status = lattice.status;
  result.evaluations = lattice.evaluations;
  return result;
}

}  // namespace kurv
