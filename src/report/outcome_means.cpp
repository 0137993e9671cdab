#include "report/outcome_means.h"

#include <cmath>

#include "report/report_math.h"

namespace kurv {

using report_detail::logisticOf;
using report_detail::normalDensity;
using report_detail::standardNormalCdf;

// E[Y] for Y = min(max(X, lower), upper), X ~ N(eta, sigma^2), with
// a = (lower - eta) / sigma and b = (upper - eta) / sigma:
//   upper (1 - Phi(b)) + lower Phi(a) + eta (Phi(b) - Phi(a)) + sigma (phi(a) - phi(b)),
// an absent bound contributing Phi = 0 (lower) or 1 (upper) and phi = 0.
double censoredNormalMean(double eta, double sigma, bool hasLower, double lower, bool hasUpper,
                          double upper) {
  double cdfA = 0.0, pdfA = 0.0, cdfB = 1.0, pdfB = 0.0;
  if (hasLower) {
    const double a = (lower - eta) / sigma;
    cdfA = standardNormalCdf(a);
    pdfA = normalDensity(a);
  }
  if (hasUpper) {
    const double b = (upper - eta) / sigma;
    cdfB = standardNormalCdf(b);
    pdfB = normalDensity(b);
  }
  return (hasUpper ? upper * (1.0 - cdfB) : 0.0) + (hasLower ? lower * cdfA : 0.0) +
         (cdfB - cdfA) * eta + (pdfA - pdfB) * sigma;
}

void outcomeGroupMeans(ModelContext& ctx) {
  const std::vector<int> constant = ctx.layout.perGroup(0, BlockKind::Outcome, 0, ctx.nGroups[0]);
  const int own = ctx.layout.find(0, BlockKind::Outcome, -1, 0);
  const int nGroups = ctx.nGroups[0];
  const int n = ctx.nParams;
  const std::vector<double>& x = ctx.params;
  ctx.outcomeGroupMean.assign(nGroups, 0.0);
  ctx.outcomeGroupLower.assign(nGroups, 0.0);
  ctx.outcomeGroupUpper.assign(nGroups, 0.0);

  // The outcome model's extra parameter after the group constants: the
  // normal outcome's log-scale, or the zero-inflation constant of a ZIP
  // outcome (used only when the outcome has zero inflation).
  double sigma = 1.0;
  double omega = 0.0;
  if (ctx.omodelKind == kCnorm) sigma = std::exp(x[own]);
  if (ctx.omodelKind == kZip && ctx.outcomeHasZeroInflation) omega = logisticOf(x[own]);

  // 1.959963984540054 rounded to 1.96: the two-sided 95% normal quantile.
  const double z95 = 1.96;
  for (int k = 0; k < nGroups; ++k) {
    const int o = constant[k];
    const double eta = x[o];
    double mean = 0.0, lower = 0.0, upper = 0.0;
    if (ctx.omodelKind == kCnorm) {
      const std::size_t diag = static_cast<std::size_t>(o) * n + o;
      const double se = diag < ctx.covariance.size() ? std::sqrt(std::fabs(ctx.covariance[diag])) : 0.0;
      const bool hasLo = ctx.hasOutcomeCensorMin;
      const bool hasHi = ctx.hasOutcomeCensorMax;
      const double lo = ctx.outcomeCensorMin;
      const double hi = ctx.outcomeCensorMax;
      mean = censoredNormalMean(eta, sigma, hasLo, lo, hasHi, hi);
      lower = censoredNormalMean(eta - z95 * se, sigma, hasLo, lo, hasHi, hi);
      upper = censoredNormalMean(eta + z95 * se, sigma, hasLo, lo, hasHi, hi);
      if (hasLo && lower < lo) lower = lo;
      if (hasHi && upper > hi) upper = hi;
    } else if (ctx.omodelKind == kLogit) {
      const double se = ctx.stdErrors[o];
      mean = logisticOf(eta);
      lower = logisticOf(eta - z95 * se);
      upper = logisticOf(eta + z95 * se);
      if (lower < 0.0) lower = 0.0;
      if (upper > 1.0) upper = 1.0;
    } else if (ctx.omodelKind == kZip) {
      // Mean (1 - omega) exp(eta); its limits are those of exp(eta) on the
      // log scale, carried by the same factor (1 - omega).
      const double se = ctx.stdErrors[o];
      mean = std::exp(eta) * (1.0 - omega);
      lower = (1.0 - omega) * std::exp(eta - z95 * se);
      upper = (1.0 - omega) * std::exp(eta + z95 * se);
      if (lower < 0.0) lower = 0.0;
    }
    ctx.outcomeGroupMean[k] = mean;
    ctx.outcomeGroupLower[k] = lower;
    ctx.outcomeGroupUpper[k] = upper;
  }
}

}  // namespace kurv
