#pragma once
// Which periods take part in a model, and the powers of time of each period.
//
// Both depend on the data alone, so they are derived once per run and read
// by every likelihood and gradient evaluation instead of asking the host's
// missing-value test and the power function again for every group.

#include <cmath>

#include "core/model_context.h"

namespace kurv {

// Fills ctx.measurementTables for every model present from the intake's
// arrays (outcomeY, timeT, tcov, exposure, excluded), the orders of the
// trajectory and zero-inflation polynomials and the parameter layout. Call
// it after the intake and again whenever those change; the likelihoods call
// it on first use (ensureMeasurementTables) when the driver has not.
void prepareMeasurementTables(ModelContext& ctx);
void ensureMeasurementTables(ModelContext& ctx);

// Usable period: the subject is not excluded, its outcome and time of period
// j are present, no time-varying covariate of period j is missing, and the
// exposure of period j is present when the model has exposure columns.
// Evaluated from the data (the tables cache this value).
bool periodIsUsable(const ModelContext& ctx, int m, int i, int j);

// The cached form, valid once the tables are ready.
inline bool usablePeriod(const ModelContext& ctx, int m, int i, int j) {
  return ctx.measurementTables.usable[m][static_cast<std::size_t>(i) * ctx.nPeriods[m] + j] != 0;
}

// t^p of period j of subject i in model m, exactly std::pow(t, p) (t^0 = 1).
inline double timePower(const ModelContext& ctx, int m, int i, int j, int p) {
  const MeasurementTables& tables = ctx.measurementTables;
  if (p == 0) return 1.0;
  if (tables.ready && p <= tables.nPowers[m]) {
    const std::size_t row = static_cast<std::size_t>(i) * ctx.nPeriods[m] + j;
    return tables.timePower[m][row * tables.nPowers[m] + (p - 1)];
  }
  return std::pow(ctx.timeT[m][j][i], static_cast<double>(p));
}

}  // namespace kurv
