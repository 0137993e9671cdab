// The integrand of Genz's method over the unit cube.
//
// Rows are taken in order. A row of the factor with diagonal 1 introduces a
// new standard normal Z_i; the rows after it with diagonal 0 (the singular
// constraints the preparation placed there) restrict the same Z_i, so their
// limits are intersected with its limits before its interval probability is
// taken. With s_i = sum_{k < i} L_ik y_k over the rows already drawn:
//   D = Phi(max lower - s), E = Phi(min upper - s),
//   P = P (E - D),   y_i = Phi^-1(D + w (E - D)) with the next coordinate w;
// the last row needs no draw, which is why d = r - 1 coordinates suffice.

#include <algorithm>

#include "randomeffects/mvn_prepare.h"
#include "randomeffects/normal_quantile.h"

namespace kurv {

double mvnIntegrand(int d, const double* w, MvnPrepared& p) {
  const int r = p.nBounded;
  const int m = p.m;
  double product = 1.0;
  int next = 0;       // next coordinate of w
  int runStart = 0;   // the row whose variable the current rows constrain
  bool hasLower = false, hasUpper = false;
  double lower = 0.0, upper = 0.0;
  for (int i = 0; i < r; ++i) {
    const double* row = p.factor.data() + static_cast<std::size_t>(i) * m;
    double s = 0.0;
    for (int k = 0; k < runStart; ++k) s += row[k] * p.y[k];
    const int code = p.codes[i];
    if (code != 0) {
      lower = hasLower ? std::max(lower, p.lower[i] - s) : p.lower[i] - s;
      hasLower = true;
    }
    if (code != 1) {
      upper = hasUpper ? std::min(upper, p.upper[i] - s) : p.upper[i] - s;
      hasUpper = true;
    }
    if (i != runStart) p.y[i] = 0.0;  // a constraint row adds no variable
    const bool last = i == r - 1;
    if (!last && !(p.factor[static_cast<std::size_t>(i + 1) * m + (i + 1)] > 0.0)) continue;
    double dv, ev;
    intervalProbabilities(lower, upper, hasLower && hasUpper ? 2 : (hasLower ? 1 : 0), dv, ev);
    if (dv >= ev) return 0.0;
    product *= ev - dv;
    if (!last) p.y[runStart] = normalQuantile(dv + (next < d ? w[next++] : 0.5) * (ev - dv));
    runStart = i + 1;
    hasLower = hasUpper = false;
  }
  return product;
}

}  // namespace kurv
