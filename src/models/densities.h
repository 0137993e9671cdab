#pragma once
// Building blocks of the likelihoods beside the per-cell log densities of
// models/log_densities.h: the trajectory predictor of one measurement (the
// random-effects likelihood's means), the zero-only group, the dropout
// factor's eligibility rule and the outcome analysis's density. A
// measurement is addressed by its model m, group k, subject i and period j.

#include <cmath>

#include "core/model_context.h"

namespace kurv {

struct MeasurementSite {
  int model = 0;
  int group = 0;
  int subject = 0;
  int period = 0;
};

// Linear predictor mu = sum_{p=0..order} t^p b[p] + sum_c tcov_c b[order+1+c]
// of the measurement, unclamped; 0 for a group of order -1.
double trajectoryPredictor(const double* x, const ModelContext& ctx, const MeasurementSite& s,
                           int trajectoryStart);

// True for model 1's first group of order -1 in a single-model run: the group
// of subjects who never show a nonzero outcome.
bool isZeroOnlyGroup(const ModelContext& ctx, int m, int k);

// Dropout model (model 1). The structural rule of the dropout factor of
// period j for a group of dropout order d: the subject is included, has
// data, is not exempt, d is not -1, enough periods lie between the first
// observed period and j for every lag, j is at most the period after the
// last observed outcome, and j lies within the complete data length.
bool dropoutPeriodEligible(const ModelContext& ctx, int d, int i, int j);

// Density of subject i's outcome-analysis value under the clamped predictor
// eta: LOGIT (omodelKind 2), normal with the outcome's optional censoring
// bounds (1; sigmaO its standard deviation) or zero-inflated Poisson (3;
// omegaO its zero-inflation probability, 0 for plain Poisson).
double outcomeDensity(const ModelContext& ctx, int i, double eta, double sigmaO, double omegaO);

// Censoring bounds of the outcome analysis's normal model: none (infinite)
// unless set.
inline double outcomeLowerBound(const ModelContext& ctx) {
  return ctx.hasOutcomeCensorMin ? ctx.outcomeCensorMin : -HUGE_VAL;
}
inline double outcomeUpperBound(const ModelContext& ctx) {
  return ctx.hasOutcomeCensorMax ? ctx.outcomeCensorMax : HUGE_VAL;
}

}  // namespace kurv
