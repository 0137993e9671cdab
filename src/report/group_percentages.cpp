#include "report/group_percentages.h"

#include <cmath>
#include <vector>

#include "report/report_math.h"

namespace kurv {

// With e_h = exp(c_h) for the non-reference groups h, e = 1 for the reference
// group and S = 1 + sum of e_h, the share of group g is p_g = e_g / S and
//   d p_g / d c_h = p_g * ([g == h] - p_h),
// which written over S^2 is -e_h / S^2 for the reference group,
// e_h (S - e_h) / S^2 for g == h and -e_g e_h / S^2 otherwise.
void groupPercentages(std::span<double> constants, int refGroup, const double* covariance,
                      int nParams, int firstIndex, double missing, std::span<double> pct,
                      std::span<double> pctSe) {
  const int nGroups = static_cast<int>(pct.size());
  const int nConst = nGroups - 1;
  if (nGroups < 1) return;
  const int ref = (refGroup >= 0 && refGroup < nGroups) ? refGroup : 0;

  // constantOf[g]: index of group g's constant, -1 for the reference group.
  std::vector<int> constantOf(nGroups, -1);
  for (int g = 0, c = 0; g < nGroups; ++g)
    if (g != ref) constantOf[g] = c++;

  std::vector<double> e(nConst);
  double sum = 1.0;
  for (int c = 0; c < nConst; ++c) {
    constants[c] = report_detail::clampExponent(constants[c]);
    e[c] = std::exp(constants[c]);
    sum += e[c];
  }
  const double s2 = sum * sum;

  for (int g = 0; g < nGroups; ++g) {
    const int own = constantOf[g];
    pct[g] = own < 0 ? 100.0 / sum : 100.0 * e[own] / sum;
  }

  if (covariance == nullptr) {
    for (int g = 0; g < nGroups; ++g) pctSe[g] = missing;
    return;
  }

  // Row g of the Jacobian, then its quadratic form with the covariance block:
  // V[g][g] = sum_b (sum_a J[g][a] C[a][b]) J[g][b].
  std::vector<double> jRow(nConst);
  std::vector<double> jc(nConst);
  for (int g = 0; g < nGroups; ++g) {
    const int own = constantOf[g];
    for (int c = 0; c < nConst; ++c) {
      if (own < 0)
        jRow[c] = -e[c] / s2;
      else if (c == own)
        jRow[c] = e[own] * (sum - e[own]) / s2;
      else
        jRow[c] = -e[own] * e[c] / s2;
    }
    for (int b = 0; b < nConst; ++b) {
      double acc = 0.0;
      for (int a = 0; a < nConst; ++a)
        acc += jRow[a] *
               covariance[static_cast<std::size_t>(firstIndex + a) * nParams + (firstIndex + b)];
      jc[b] = acc;
    }
    double v = 0.0;
    for (int b = 0; b < nConst; ++b) v += jc[b] * jRow[b];
    pctSe[g] = 100.0 * std::sqrt(std::fabs(v));
  }
}

}  // namespace kurv
