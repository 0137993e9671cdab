#pragma once
// The density of one measurement under one group, and its building blocks.
//
// Every likelihood of the engine (single, joint, multi-trajectory) evaluates
// a measurement through these functions, so that all models share one set of
// formulas, tests, clamps and constants. A measurement is addressed by its
// model m, group k, subject i and period j; the parameter positions of group
// k come from groupBlocks() (models/group_blocks.h).

#include <optional>

#include "models/group_blocks.h"
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

// Zero-inflation probability omega = logistic(z[0] + sum_{p>=1} t^p z[p]) of
// the measurement; 0 when the model or the group has no zero inflation.
double zeroInflationProb(const double* x, const ModelContext& ctx, const MeasurementSite& s,
                         int zeroInflationStart);

// True for model 1's first group of order -1 in a single-model run: the group
// of subjects who never show a nonzero outcome.
bool isZeroOnlyGroup(const ModelContext& ctx, int m, int k);

// Density (or probability) of a usable measurement. `sigma` is the model's
// CNORM standard deviation (not read by the other kinds). A ZIP measurement
// with a nonzero count whose Poisson mean is at most DBL_MIN has density 0:
// its group's term for the subject becomes 0. Kinds without a density (0)
// give 1.0.
double usableMeasurementDensity(const double* x, const ModelContext& ctx,
                                const MeasurementSite& s, const GroupBlocks& blocks,
                                double sigma);

// The same, or 1.0 when the period is not usable (models/measurement_tables.h).
double measurementDensity(const double* x, const ModelContext& ctx, const MeasurementSite& s,
                          const GroupBlocks& blocks, double sigma);

// Dropout model (model 1). The structural rule of the dropout factor of
// period j for a group of dropout order d: the subject is included, has
// data, is not exempt, d is not -1, enough periods lie between the first
// observed period and j for every lag, j is at most the period after the
// last observed outcome, and j lies within the complete data length.
bool dropoutPeriodEligible(const ModelContext& ctx, int d, int i, int j);

// The dropout predictor c[0] + sum_{p=1..d} y(j-p) c[p] + sum_q dcov_q
// c[d+1+q], unclamped; no value when a lagged outcome or a dropout covariate
// is missing.
std::optional<double> dropoutPredictor(const double* x, const ModelContext& ctx, int d, int i,
                                       int j, int dropoutStart);

// The dropout factor of period j for group k: 1 - p while the subject stays
// (j < lastPeriod), p when it drops out at j (j == lastPeriod), with
// p = logistic(clamped predictor). No value when no factor exists.
std::optional<double> dropoutProb(const double* x, const ModelContext& ctx, int k, int i, int j,
                                  int dropoutStart);

// Density of subject i's outcome-analysis value under the clamped predictor
// eta: LOGIT (omodelKind 2), normal with the outcome's optional censoring
// bounds (1; sigmaO its standard deviation) or zero-inflated Poisson (3;
// omegaO its zero-inflation probability, 0 for plain Poisson).
double outcomeDensity(const ModelContext& ctx, int i, double eta, double sigmaO, double omegaO);

// The logistic function of a clamped predictor, exp(eta) / (exp(eta) + 1).
double logisticOfClamped(const ModelContext& ctx, double eta);

// Censoring bounds of the outcome analysis's normal model: none (infinite)
// unless set.
inline double outcomeLowerBound(const ModelContext& ctx) {
  return ctx.hasOutcomeCensorMin ? ctx.outcomeCensorMin : -HUGE_VAL;
}
inline double outcomeUpperBound(const ModelContext& ctx) {
  return ctx.hasOutcomeCensorMax ? ctx.outcomeCensorMax : HUGE_VAL;
}

}  // namespace kurv
