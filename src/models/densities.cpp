// The outcome analysis's densities:
// LOGIT: P(y != 0) = p = logistic(eta).
// Normal: y ~ N(eta, sigmaO^2) censored at the outcome's bounds:
//   Phi((lower - eta)/sigmaO) at or below the lower bound, 1 - Phi((upper -
//   eta)/sigmaO) at or above the upper one, phi(z)/sigmaO between them
//   (models/censored_normal.h).
// ZIP: a Poisson(lambda) count, lambda = exp(eta), that is a structural zero
//   with probability omega:
//   P(0) = omega + (1 - omega) e^{-lambda},
//   P(y) = (1 - omega) exp(y ln lambda - lambda - ln Gamma(y + 1)).

#include "models/densities.h"

#include <cfloat>
#include <cmath>

#include "core/logistic.h"
#include "models/censored_normal.h"
#include "models/group_blocks.h"
#include "models/measurement_tables.h"
#include "models/zip_probability.h"

namespace kurv {

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

bool isZeroOnlyGroup(const ModelContext& ctx, int m, int k) {
  return m == 0 && k == 0 && !ctx.isMultModel && !ctx.isJointModel() &&
         trajectoryOrder(ctx, 0, 0) == -1;
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
