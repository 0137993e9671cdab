#include "report/expected_trajectory.h"

#include <cmath>

#include "report/report_math.h"

namespace kurv {

namespace {

using report_detail::clampExponent;
using report_detail::logisticOf;
using report_detail::normalDensity;
using report_detail::standardNormalCdf;

// Plot value of time-varying covariate c at the period in hand, or nullptr
// when it is not given (or missing): such a covariate adds no term.
const double* plotCovariate(const ModelContext& ctx, int m, int c) {
  if (m != 0) return nullptr;  // plot values exist for model 1 only
  const std::size_t column =
      static_cast<std::size_t>(c) * ctx.nPeriods[m] + static_cast<std::size_t>(ctx.cursorPeriod);
  if (ctx.cursorPeriod < 0 || column >= ctx.plotTcov.size()) return nullptr;
  const double& value = ctx.plotTcov[column];
  if (ctx.host != nullptr && ctx.host->isMissing(value)) return nullptr;
  return &value;
}

// d' C d with C the row-major covariance of the estimates; `cd` receives C d.
double quadraticForm(const std::vector<double>& d, std::vector<double>& cd,
                     const std::vector<double>& covariance, int n) {
  if (covariance.size() < static_cast<std::size_t>(n) * n) return 0.0;
  for (int r = 0; r < n; ++r) {
    double acc = 0.0;
    const double* row = covariance.data() + static_cast<std::size_t>(r) * n;
    for (int c = 0; c < n; ++c) acc += row[c] * d[c];
    cd[r] = acc;
  }
  double v = 0.0;
  for (int r = 0; r < n; ++r) v += d[r] * cd[r];
  return v;
}

}  // namespace

void expectedTrajectoryPoint(double t, double exposure, std::span<double> mean,
                             std::span<double> variance, ModelContext& ctx) {
  const int m = ctx.currentModel;
  const int n = ctx.nParams;
  const int kind = ctx.modelKind[m];
  const std::vector<double>& x = ctx.params;
  if (ctx.derivativeWork.size() < static_cast<std::size_t>(n)) ctx.derivativeWork.resize(n);
  if (ctx.derivativeWork2.size() < static_cast<std::size_t>(n)) ctx.derivativeWork2.resize(n);
  std::vector<double>& d = ctx.derivativeWork;

  double sigma = 1.0;
  if (kind == kCnorm) {
    const int s = ctx.scaleIndex[m];
    if (s >= 0) sigma = std::exp(x[s]);
  }
  const bool hasInflation = ctx.nInflOrder[m] > 0;
  const bool sharedInflation = ctx.singleInflOrder[m] != 0;
  const int nCov = ctx.tcovPerPeriod[m];

  for (int k = 0; k < ctx.nGroups[m]; ++k) {
    // The group's trajectory and zero-inflation blocks, as laid out.
    const int b = ctx.layout.groupStarts[m][static_cast<std::size_t>(k)][0];
    const int z = ctx.layout.groupStarts[m][static_cast<std::size_t>(k)][1];
    const int order = static_cast<int>(ctx.polyOrder[m][k]);
    std::fill(d.begin(), d.begin() + n, 0.0);
    double mu = 0.0;
    double value = 0.0;
    double var = 0.0;
    const int inflOrder =
        hasInflation ? static_cast<int>(ctx.inflOrder[m][sharedInflation ? 0 : k]) : -1;

    if (order >= 0) {
      // Linear predictor at time t and the plot covariate values.
      for (int p = 0; p <= order; ++p) mu += std::pow(t, p) * x[b + p];
      for (int c = 0; c < nCov; ++c)
        if (const double* w = plotCovariate(ctx, m, c)) mu += *w * x[b + order + 1 + c];

      if (kind == kCnorm) {
        // Mean of N(mu, sigma^2) censored to [lo, hi]:
        //   lo Phi(z_lo) + hi (1 - Phi(z_hi)) + mu (Phi(z_hi) - Phi(z_lo))
        //   + sigma (phi(z_lo) - phi(z_hi)),
        // whose derivative with respect to mu is Phi(z_hi) - Phi(z_lo) (the
        // terms in phi cancel against the derivatives of the Phi terms).
        const double lo = ctx.censorMin[m];
        const double hi = ctx.censorMax[m];
        const double zHi = (hi - mu) / sigma;
        const double zLo = (lo - mu) / sigma;
        const double cdfHi = standardNormalCdf(zHi);
        const double cdfLo = standardNormalCdf(zLo);
        value = cdfLo * lo + (1.0 - cdfHi) * hi + (cdfHi - cdfLo) * mu +
                (normalDensity(zLo) - normalDensity(zHi)) * sigma;
        d[b] = cdfHi - cdfLo;
      } else if (kind == kLogit) {
        // Probability p = logistic(mu); dp/dmu = p (1 - p).
        const double p = logisticOf(mu);
        value = p;
        d[b] = p - p * p;
      } else if (kind == kZip) {
        // Mean (1 - omega) lambda with lambda = exp(mu) (times exposure) and
        // omega = logistic(eta_z), eta_z = sum t^p z_p. Derivatives:
        //   d/dmu = (1 - omega) lambda,
        //   d/dz_p = -lambda omega (1 - omega) t^p = lambda (omega^2 - omega) t^p.
        double lambda = std::exp(clampExponent(mu));
        if (ctx.nExposure[m] > 0) lambda *= exposure;
        double omega = 0.0;
        if (hasInflation && inflOrder != -1) {
          double etaZ = 0.0;
          for (int p = 0; p <= inflOrder; ++p) etaZ += std::pow(t, p) * x[z + p];
          omega = logisticOf(etaZ);
          const double dConstant = lambda * (omega * omega - omega);
          for (int p = 0; p <= inflOrder; ++p) d[z + p] = std::pow(t, p) * dConstant;
        }
        value = (1.0 - omega) * lambda;
        d[b] = value;
      }

      // Chain rule to the polynomial and covariate coefficients.
      for (int p = 1; p <= order; ++p) d[b + p] = std::pow(t, p) * d[b];
      for (int c = 0; c < nCov; ++c)
        if (const double* w = plotCovariate(ctx, m, c)) d[b + order + 1 + c] = *w * d[b];

      var = quadraticForm(d, ctx.derivativeWork2, ctx.covariance, n);
    }

    mean[k] = value;
    variance[k] = var;
  }
}

}  // namespace kurv
