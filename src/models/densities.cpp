// Measurement densities.
//
// CNORM: a normal measurement y ~ N(mu, sigma^2) censored at the bounds:
//   P(Y* <= lower) = Phi((lower - mu)/sigma) for y at or below the lower bound,
//   P(Y* >= upper) = 1 - Phi((upper - mu)/sigma) for y at or above the upper
//   bound, and the normal density phi(z)/sigma, z = (y - mu)/sigma, between
//   them (models/censored_normal.h).
// LOGIT: P(y != 0) = p = logistic(mu).
// ZIP: a Poisson(lambda) count, lambda = exp(mu) * exposure, that is a
//   structural zero with probability omega:
//   P(0) = omega + (1 - omega) e^{-lambda},
//   P(y) = (1 - omega) exp(y ln lambda - lambda - ln Gamma(y + 1)).
//   Without zero-inflation orders omega = 0: the plain Poisson model.

#include "models/densities.h"

#include <cfloat>
#include <cmath>

#include "core/logistic.h"
#include "models/censored_normal.h"
#include "models/measurement_tables.h"
#include "models/zip_probability.h"

namespace kurv {


double logisticOfClamped(const ModelContext& ctx, double eta) { return logistic(ctx.expClamp, eta); }

double trajectoryPredictor(const double* x, const ModelContext& ctx, const MeasurementSite& s,
                           int trajectoryStart) {
  const int m = s.model;
  const int order = trajectoryOrder(ctx, m, s.group);
  const double* b = x + trajectoryStart;
  double mu = 0.0;
  for (int p = 0; p <= order; ++p) mu += timePower(ctx, m, s.subject, s.period, p) * b[p];
  // A group of order -1 owns no coefficients in the layout (its
  // trajectoryBlockSize is 0): no polynomial and no covariate terms, so its
  // predictor is the constant mu = 0 whether or not the model has
  // time-varying covariates, as the measurement derivatives assume. Reading
  // b[order + 1 + c] for it would take the next group's coefficients or run
  // past the end of the parameter vector.
  const int nCovariates = order >= 0 ? ctx.tcovPerPeriod[m] : 0;
  const int nPeriods = ctx.nPeriods[m];
  for (int c = 0; c < nCovariates; ++c) {
    mu += ctx.tcov[m][c * nPeriods + s.period][s.subject] * b[order + 1 + c];
  }
  return mu;
}

double zeroInflationProb(const double* x, const ModelContext& ctx, const MeasurementSite& s,
                         int zeroInflationStart) {
  const int order = zeroInflationOrder(ctx, s.model, s.group);
  if (order == -1) return 0.0;
  const double* z = x + zeroInflationStart;
  double eta = z[0];
  for (int p = 1; p <= order; ++p) eta += timePower(ctx, s.model, s.subject, s.period, p) * z[p];
  return logisticOfClamped(ctx, eta);
}

bool isZeroOnlyGroup(const ModelContext& ctx, int m, int k) {
  return m == 0 && k == 0 && !ctx.isMultModel && !ctx.isJointModel() &&
         trajectoryOrder(ctx, 0, 0) == -1;
}

double usableMeasurementDensity(const double* x, const ModelContext& ctx,
                                const MeasurementSite& s, const GroupBlocks& blocks,
                                double sigma) {
  const int m = s.model;
  const double y = ctx.outcomeY[m][s.period][s.subject];
  if (isZeroOnlyGroup(ctx, m, s.group)) return y == 0.0 ? 1.0 : 0.0;
  switch (ctx.modelKind[m]) {
    case kCnorm: {
      const double mu = trajectoryPredictor(x, ctx, s, blocks.trajectory);
      return censoredNormalDensity(y, mu, sigma, ctx.censorMin[m], ctx.censorMax[m]);
    }
    case kLogit: {
      const double p = logisticOfClamped(ctx, trajectoryPredictor(x, ctx, s, blocks.trajectory));
      return y == 0.0 ? 1.0 - p : p;
    }
    case kZip: {
      const double omega = zeroInflationProb(x, ctx, s, blocks.zeroInflation);
      const double mu = ctx.expClamp(trajectoryPredictor(x, ctx, s, blocks.trajectory));
      double lambda = std::exp(mu);
      if (ctx.nExposure[m] > 0) lambda *= ctx.exposure[m][s.period][s.subject];
      return zipProbability(ctx.expClamp, y, lambda, omega);
    }
    default:
      return 1.0;
  }
}

double measurementDensity(const double* x, const ModelContext& ctx, const MeasurementSite& s,
                          const GroupBlocks& blocks, double sigma) {
  const bool usable = ctx.measurementTables.ready ? usablePeriod(ctx, s.model, s.subject, s.period)
                                                  : periodIsUsable(ctx, s.model, s.subject, s.period);
  return usable ? usableMeasurementDensity(x, ctx, s, blocks, sigma) : 1.0;
}

bool dropoutPeriodEligible(const ModelContext& ctx, int d, int i, int j) {
  const int first = ctx.firstPeriod[i];
  // A subject without any usable period (first == -1) carries no dropout
  // information: it has no factor, so its mixture term is its membership
  // probability like that of any subject without data.
  return ctx.excluded[i] == 0 && first >= 0 && first < j && ctx.dropoutExempt[i] == 0 &&
         d != -1 && first - 1 + d < j && j <= ctx.lastPeriod[i] &&
         j < first + ctx.completeLength;
}

std::optional<double> dropoutPredictor(const double* x, const ModelContext& ctx, int d, int i,
                                       int j, int dropoutStart) {
  Host& host = *ctx.host;
  const double* c = x + dropoutStart;
  double eta = c[0];
  for (int p = 1; p <= d; ++p) {
    const double lagged = ctx.outcomeY[0][j - p][i];
    if (host.isMissing(lagged)) return std::nullopt;
    eta += lagged * c[p];
  }
  const int nPeriods = ctx.nPeriods[0];
  for (int q = 0; q < ctx.dcovPerPeriod; ++q) {
    const double covariate = ctx.dcov[q * nPeriods + j][i];
    if (host.isMissing(covariate)) return std::nullopt;
    eta += covariate * c[d + 1 + q];
  }
  return eta;
}

std::optional<double> dropoutProb(const double* x, const ModelContext& ctx, int k, int i, int j,
                                  int dropoutStart) {
  const int d = dropoutOrderOf(ctx, k);
  if (!dropoutPeriodEligible(ctx, d, i, j)) return std::nullopt;
  const std::optional<double> eta = dropoutPredictor(x, ctx, d, i, j, dropoutStart);
  if (!eta) return std::nullopt;
  const double p = logisticOfClamped(ctx, *eta);
  return j < ctx.lastPeriod[i] ? 1.0 - p : p;
}

double outcomeDensity(const ModelContext& ctx, int i, double eta, double sigmaO, double omegaO) {
  const double y = ctx.outcomeValue[i];
  switch (ctx.omodelKind) {
    case kLogit: {
      // eta is already clamped by the caller.
      const double p = logistic(ctx.expClamp, eta);
      return y == 0.0 ? 1.0 - p : p;
    }
    case kCnorm:
      return censoredNormalDensity(y, eta, sigmaO, outcomeLowerBound(ctx), outcomeUpperBound(ctx));
    case kZip:
      return zipProbability(ctx.expClamp, y, std::exp(eta), omegaO);
    default:
      return 1.0;
  }
}

}  // namespace kurv
