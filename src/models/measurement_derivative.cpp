// Derivative pieces of the measurement densities.
//
// With mu the linear predictor and r_p its regressors (t^p for the
// polynomial coefficients, the covariate values for the covariate
// coefficients), d(density)/d(beta_p) = d(density)/d(mu) * r_p, where
//  - CNORM, between the bounds: d/dmu [phi(z)/sigma] = z q / sigma with
//    z = (y - mu)/sigma and q = phi(z)/sigma; d/dsigma = -(1 - z^2) q / sigma;
//    left-censored at `lower`: d/dmu Phi((lower-mu)/sigma) = -q, d/dsigma = -q z;
//    right-censored at `upper`: the same with positive signs;
//  - LOGIT: d/dmu p = p (1 - p), and -p (1 - p) for y = 0;
//  - ZIP with lambda = e^mu * exposure and omega = logistic(eta_z):
//    y = 0: d/dmu = -e^{-lambda} (1 - omega) lambda,
//           d/deta_z = (1 - e^{-lambda}) omega (1 - omega);
//    y != 0, P the Poisson probability: d/dmu = (y - lambda) P (1 - omega),
//           d/deta_z = -P omega (1 - omega);
//    omega (1 - omega) is written omega / (e + 1), e = exp(eta_z).

#include "models/measurement_derivative.h"

#include <cfloat>
#include <cmath>

#include "models/censored_normal.h"
#include "models/densities.h"
#include "models/group_blocks.h"
#include "core/logistic.h"
#include "models/measurement_tables.h"
#include "models/zip_probability.h"

namespace kurv {

namespace {


struct Cursor {
  MeasurementSite site;
  GroupBlocks blocks;
  int order = -1;  // trajectory order of the group
  int nCovariates = 0;
  double y = 0.0;
};

Cursor cursorOf(const ModelContext& c) {
  Cursor cur;
  cur.site = {c.currentModel, c.cursorGroup, c.cursorSubject, c.cursorPeriod};
  cur.blocks = groupBlocks(c, cur.site.model, cur.site.group);
  cur.order = trajectoryOrder(c, cur.site.model, cur.site.group);
  cur.nCovariates = cur.order >= 0 ? c.tcovPerPeriod[cur.site.model] : 0;
  cur.y = c.outcomeY[cur.site.model][cur.site.period][cur.site.subject];
  return cur;
}

double covariateAt(const ModelContext& c, const Cursor& cur, int q) {
  const int m = cur.site.model;
  return c.tcov[m][q * c.nPeriods[m] + cur.site.period][cur.site.subject];
}

double powerAt(const ModelContext& c, const Cursor& cur, int p) {
  return timePower(c, cur.site.model, cur.site.subject, cur.site.period, p);
}

// Clears the group's trajectory block.
void clearTrajectory(double* work, const Cursor& cur) {
  const int size = cur.order >= 0 ? cur.order + 1 + cur.nCovariates : 0;
  for (int p = 0; p < size; ++p) work[cur.blocks.trajectory + p] = 0.0;
}

}  // namespace

int cnormMeasurementDerivative(int, const double* x, double* work, const ModelContext* ctx) {
  const ModelContext& c = *ctx;
  const Cursor cur = cursorOf(c);
  const int m = cur.site.model;
  const int sigmaIndex = logSigmaIndex(c, m);
  clearTrajectory(work, cur);
  work[sigmaIndex] = 0.0;
  if (isZeroOnlyGroup(c, m, cur.site.group)) return 0;

  const double sigma = std::exp(x[sigmaIndex]);
  const double mu = trajectoryPredictor(x, c, cur.site, cur.blocks.trajectory);
  const CensoredNormalSlopes d = censoredNormalSlopes(cur.y, mu, sigma, c.censorMin[m], c.censorMax[m]);
  const int b = cur.blocks.trajectory;
  for (int p = 0; p <= cur.order; ++p) work[b + p] = powerAt(c, cur, p) * d.dMu;
  for (int v = 0; v < cur.nCovariates; ++v) work[b + cur.order + 1 + v] = covariateAt(c, cur, v) * d.dMu;
  // The parameter is ln sigma; the chain-rule factor sigma is applied by the
  // gradient, which sums these slopes over the group's periods.
  work[sigmaIndex] = d.dSigma;
  return 0;
}

int logitMeasurementDerivative(int, const double* x, double* work, const ModelContext* ctx) {
  const ModelContext& c = *ctx;
  const Cursor cur = cursorOf(c);
  clearTrajectory(work, cur);
  if (isZeroOnlyGroup(c, cur.site.model, cur.site.group)) return 0;

  const double p = logisticOfClamped(c, trajectoryPredictor(x, c, cur.site, cur.blocks.trajectory));
  const double sign = cur.y == 0.0 ? -1.0 : 1.0;
  const int b = cur.blocks.trajectory;
  for (int k = 0; k <= cur.order; ++k) work[b + k] = sign * powerAt(c, cur, k) * p * (1.0 - p);
  for (int v = 0; v < cur.nCovariates; ++v) work[b + cur.order + 1 + v] = sign * p * covariateAt(c, cur, v) * (1.0 - p);
  return 0;
}

int zipMeasurementDerivative(int, const double* x, double* work, const ModelContext* ctx) {
  const ModelContext& c = *ctx;
  const Cursor cur = cursorOf(c);
  const int m = cur.site.model;
  const int inflOrder = zeroInflationOrder(c, m, cur.site.group);
  const int zb = cur.blocks.zeroInflation;
  clearTrajectory(work, cur);
  for (int p = 0; p <= inflOrder; ++p) work[zb + p] = 0.0;
  if (isZeroOnlyGroup(c, m, cur.site.group)) return 0;

  double omega = 0.0;
  if (inflOrder >= 0) {
    double eta = x[zb];
    for (int p = 1; p <= inflOrder; ++p) eta += powerAt(c, cur, p) * x[zb + p];
    omega = logistic(c.expClamp, eta);
  }
  double lambda = std::exp(c.expClamp(trajectoryPredictor(x, c, cur.site, cur.blocks.trajectory)));
  if (c.nExposure[m] > 0) lambda *= c.exposure[m][cur.site.period][cur.site.subject];
  // A mean too small to represent: the density is 0 or 1 and flat.
  if (lambda < DBL_MIN) return 0;

  // Nonzero counts, negative ones included, take the density's Poisson
  // branch, and so do their slopes.
  const ZipSlopes d = zipSlopes(c.expClamp, cur.y, lambda, omega);
  const int b = cur.blocks.trajectory;
  for (int p = 0; p <= cur.order; ++p) work[b + p] = powerAt(c, cur, p) * d.dLogLambda;
  for (int v = 0; v < cur.nCovariates; ++v) work[b + cur.order + 1 + v] = covariateAt(c, cur, v) * d.dLogLambda;
  for (int p = 0; p <= inflOrder; ++p) work[zb + p] = powerAt(c, cur, p) * d.dOmegaLogit;
  return 0;
}

int measurementDerivative(int n, const double* x, double* work, const ModelContext* ctx) {
  switch (ctx->modelKind[ctx->currentModel]) {
    case kCnorm: return cnormMeasurementDerivative(n, x, work, ctx);
    case kLogit: return logitMeasurementDerivative(n, x, work, ctx);
    case kZip: return zipMeasurementDerivative(n, x, work, ctx);
    default: return 0;
  }
}

int dropoutDerivative(int, const double* x, double* work, const ModelContext* ctx) {
  const ModelContext& c = *ctx;
  const int k = c.cursorGroup;
  const int i = c.cursorSubject;
  const int j = c.cursorPeriod;
  const int d = dropoutOrderOf(c, k);
  if (d == -1) return 0;
  const int start = groupBlocks(c, 0, k).dropout;
  for (int q = 0; q < d + 1 + c.dcovPerPeriod; ++q) work[start + q] = 0.0;
  const auto eta = dropoutPredictor(x, c, d, i, j, start);
  if (!eta) return 0;
  const double p = logisticOfClamped(c, *eta);
  // Staying (j before the last observed period) has factor 1 - p, dropping
  // out at j factor p.
  const double s = j < c.lastPeriod[i] ? -1.0 : (j == c.lastPeriod[i] ? 1.0 : 0.0);
  const double slope = s * p * (1.0 - p);
  work[start] = slope;
  for (int lag = 1; lag <= d; ++lag) work[start + lag] = slope * c.outcomeY[0][j - lag][i];
  const int nPeriods = c.nPeriods[0];
  for (int q = 0; q < c.dcovPerPeriod; ++q) work[start + d + 1 + q] = slope * c.dcov[q * nPeriods + j][i];
  return 0;
}

}  // namespace kurv
