#include "models/measurement_tables.h"

#include <algorithm>

#include "core/log_gamma.h"
#include "models/group_blocks.h"

namespace kurv {

namespace {

// The highest power of time any group of model m needs: its trajectory order
// and, with zero inflation, its zero-inflation order.
int highestPower(const ModelContext& ctx, int m) {
  int top = 0;
  for (double order : ctx.polyOrder[m]) top = std::max(top, static_cast<int>(order));
  if (ctx.nInflOrder[m] > 0) {
    for (double order : ctx.inflOrder[m]) top = std::max(top, static_cast<int>(order));
  }
  return top;
}

// The data of a usable cell: its kind, outcome, covariates, exposure and,
// for ZIP, ln Gamma(y + 1) (logGamma, as zipProbability takes it).
void fillCell(const ModelContext& ctx, int m, int i, int j, std::size_t row, MeasurementTables& tables) {
  const double y = ctx.outcomeY[m][j][i];
  unsigned char kind = kCellMeasured;
  if (ctx.modelKind[m] == kCnorm) {
    if (y <= ctx.censorMin[m]) kind = kCellBelow;
    else if (y >= ctx.censorMax[m]) kind = kCellAbove;
  }
  if (kind != kCellMeasured) tables.subjectCensored[m][static_cast<std::size_t>(i)] = 1;
  tables.cellKind[m][row] = kind;
  tables.y[m][row] = y;
  const int nCov = ctx.tcovPerPeriod[m];
  for (int c = 0; c < nCov; ++c) {
    tables.covariate[m][row * nCov + c] = ctx.tcov[m][c * ctx.nPeriods[m] + j][i];
  }
  if (ctx.nExposure[m] > 0) tables.exposure[m][row] = ctx.exposure[m][j][i];
  if (ctx.modelKind[m] == kZip && y + 1.0 > 0.0) {
    int sign = 0;
    tables.logGammaY1[m][row] = logGamma(y + 1.0, &sign);
  }
}

// Model 1's per-subject tables: dropout inputs, risk values and the
// presence of the outcome-analysis value.
void fillSubjectTables(const ModelContext& ctx, MeasurementTables& tables) {
  Host& host = *ctx.host;
  const int T = ctx.nPeriods[0];
  const std::size_t nObs = static_cast<std::size_t>(ctx.nObs);
  const std::size_t cells = nObs * static_cast<std::size_t>(std::max(T, 0));
  const int nDcov = ctx.dcovPerPeriod;
  tables.outcomePresent.assign(ctx.nDropoutOrder > 0 ? cells : 0, 0);
  tables.dropoutCovariatesPresent.assign(ctx.nDropoutOrder > 0 ? cells : 0, 1);
  tables.dropoutCovariate.assign(ctx.nDropoutOrder > 0 ? cells * nDcov : 0, 0.0);
  const int nRisk = std::max(ctx.nRisk[0], 0);
  tables.riskValue.assign(nObs * nRisk, 0.0);
  tables.outcomeValuePresent.assign(nObs, 0);
  for (std::size_t i = 0; i < nObs; ++i) {
    for (int j = 0; j < T; ++j) {
      const std::size_t row = i * T + j;
      if (ctx.nDropoutOrder <= 0) continue;
      tables.outcomePresent[row] = host.isMissing(ctx.outcomeY[0][j][i]) ? 0 : 1;
      for (int q = 0; q < nDcov; ++q) {
        const double v = ctx.dcov[q * T + j][i];
        if (host.isMissing(v)) tables.dropoutCovariatesPresent[row] = 0;
        else tables.dropoutCovariate[row * nDcov + q] = v;
      }
    }
    for (int r = 0; r < nRisk; ++r) {
      const double v = ctx.risk[0][r][i];
      if (!host.isMissing(v)) tables.riskValue[i * nRisk + r] = v;
    }
    if (ctx.hasOutcome && i < ctx.outcomeValue.size()) {
      tables.outcomeValuePresent[i] = host.isMissing(ctx.outcomeValue[i]) ? 0 : 1;
    }
  }
}

}  // namespace

bool periodIsUsable(const ModelContext& ctx, int m, int i, int j) {
  Host& host = *ctx.host;
  if (ctx.excluded[i] != 0) return false;
  if (host.isMissing(ctx.outcomeY[m][j][i]) || host.isMissing(ctx.timeT[m][j][i])) return false;
  const int nPeriods = ctx.nPeriods[m];
  for (int c = 0; c < ctx.tcovPerPeriod[m]; ++c) {
    if (host.isMissing(ctx.tcov[m][c * nPeriods + j][i])) return false;
  }
  if (ctx.nExposure[m] > 0 && host.isMissing(ctx.exposure[m][j][i])) return false;
  return true;
}

void prepareMeasurementTables(ModelContext& ctx) {
  MeasurementTables& tables = ctx.measurementTables;
  tables.ready = false;
  const int nModels = std::min(std::max(ctx.nModels, 1), kMaxModels);
  for (int m = 0; m < kMaxModels; ++m) {
    const int nPeriods = ctx.nPeriods[m];
    if (m >= nModels || nPeriods <= 0) {
      tables.nPowers[m] = 0;
      tables.usable[m].clear();
      tables.timePower[m].clear();
      tables.groupStarts[m].clear();
      tables.cellKind[m].clear();
      tables.y[m].clear();
      tables.covariate[m].clear();
      tables.exposure[m].clear();
      tables.logGammaY1[m].clear();
      tables.subjectCensored[m].clear();
      continue;
    }
    tables.groupStarts[m].clear();
    for (int k = 0; k < ctx.nGroups[m]; ++k) {
      const GroupBlocks b = layoutGroupBlocks(ctx, m, k);
      tables.groupStarts[m].push_back({b.trajectory, b.zeroInflation, b.dropout});
    }
    const int nPowers = highestPower(ctx, m);
    const std::size_t cells = static_cast<std::size_t>(ctx.nObs) * nPeriods;
    tables.nPowers[m] = nPowers;
    tables.usable[m].assign(cells, 0);
    tables.timePower[m].assign(cells * nPowers, 0.0);
    const int nCov = ctx.tcovPerPeriod[m];
    tables.cellKind[m].assign(cells, kCellUnusable);
    tables.y[m].assign(cells, 0.0);
    tables.covariate[m].assign(cells * nCov, 0.0);
    tables.exposure[m].assign(ctx.nExposure[m] > 0 ? cells : 0, 1.0);
    tables.logGammaY1[m].assign(ctx.modelKind[m] == kZip ? cells : 0, 0.0);
    tables.subjectCensored[m].assign(static_cast<std::size_t>(ctx.nObs), 0);
    for (int i = 0; i < ctx.nObs; ++i) {
      for (int j = 0; j < nPeriods; ++j) {
        const std::size_t row = static_cast<std::size_t>(i) * nPeriods + j;
        const bool usable = periodIsUsable(ctx, m, i, j);
        tables.usable[m][row] = usable ? 1 : 0;
        const double t = ctx.timeT[m][j][i];
        for (int p = 1; p <= nPowers; ++p) {
          tables.timePower[m][row * nPowers + (p - 1)] = std::pow(t, static_cast<double>(p));
        }
        if (!usable) continue;
        fillCell(ctx, m, i, j, row, tables);
      }
    }
  }
  fillSubjectTables(ctx, tables);
  tables.ready = true;
}

void ensureMeasurementTables(ModelContext& ctx) {
  if (!ctx.measurementTables.ready) prepareMeasurementTables(ctx);
}

}  // namespace kurv
