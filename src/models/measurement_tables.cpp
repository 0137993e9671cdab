#include "models/measurement_tables.h"

#include <algorithm>

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
    for (int i = 0; i < ctx.nObs; ++i) {
      for (int j = 0; j < nPeriods; ++j) {
        const std::size_t row = static_cast<std::size_t>(i) * nPeriods + j;
        tables.usable[m][row] = periodIsUsable(ctx, m, i, j) ? 1 : 0;
        const double t = ctx.timeT[m][j][i];
        for (int p = 1; p <= nPowers; ++p) {
          tables.timePower[m][row * nPowers + (p - 1)] = std::pow(t, static_cast<double>(p));
        }
      }
    }
  }
  tables.ready = true;
}

void ensureMeasurementTables(ModelContext& ctx) {
  if (!ctx.measurementTables.ready) prepareMeasurementTables(ctx);
}

}  // namespace kurv
