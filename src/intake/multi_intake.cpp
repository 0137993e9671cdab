#include "intake/multi_intake.h"

#include <algorithm>
#include <cmath>

#include "core/text_format.h"
#include "intake/observation_intake.h"

namespace kurv {

MultiDataLayout multiRunLayout(const ModelContext& ctx) {
  MultiDataLayout L{};
  int v = 1;
  auto take = [&v](int width) {
    const int first = v;
    v += std::max(width, 0);
    return first;
  };
  for (int m = 0; m < kMaxModels; ++m) {
    const bool present = m < ctx.nModels;
    const int T = present ? ctx.nPeriods[m] : 0;
    L.outcome[m] = take(T);
    L.time[m] = take(T);
    if (m == 2) {
      // The third component has outcome and time columns only.
      L.exposure[m] = L.tcov[m] = v;
      continue;
    }
    take(present ? ctx.nRisk[m] : 0);
    if (m == 0) L.weight = ctx.hasWeights ? take(1) : 0;
    L.exposure[m] = take(present ? ctx.nExposure[m] : 0);
    L.tcov[m] = take(present ? ctx.nTcov[m] : 0);
    if (m == 0) take((ctx.hasOutcome ? 1 : 0) + ctx.nDcov + (ctx.hasDropoutExempt ? 1 : 0));
  }
  L.next = v;
  return L;
}

namespace {

struct ComponentSums {
  double sum = 0.0;
  double sumSquares = 0.0;
  double count = 0.0;
  std::vector<double> timeSum;
};

}  // namespace

int readMultiObservations(ModelContext& ctx) {
  Host& host = *ctx.host;
  const double missingValue = host.missingValue();
  const MultiDataLayout L = multiRunLayout(ctx);
  auto read = [&host, missingValue](int variable, int observation) {
    double value = missingValue;
    if (host.readVariable(variable, observation, &value) != 0) return missingValue;
    return value;
  };
  auto missing = [&host](double value) { return host.isMissing(value); };

  const int nModels = std::clamp(ctx.nModels, 1, kMaxModels);
  ctx.nObs = std::min(host.observationCount(), ctx.nObs);
  ctx.nSubjects = 0;
  ctx.nExcluded = 0;
  ctx.nMeasurements = 0;
  int nWeightExcluded = 0;
  int nNotSelected = 0;
  double weightSum = 0.0;
  ComponentSums sums[kMaxModels];
  for (int m = 0; m < nModels; ++m) {
    sums[m].timeSum.assign(static_cast<std::size_t>(ctx.nPeriods[m]), 0.0);
    ctx.periodN[m].assign(static_cast<std::size_t>(ctx.nPeriods[m]), 0.0);
  }

  for (int i = 0; i < ctx.nObs; ++i) {
    const int obs = i + 1;
    for (int m = 0; m < nModels; ++m) {
      const int T = ctx.nPeriods[m];
      for (int j = 0; j < T; ++j) ctx.outcomeY[m][j][i] = read(L.outcome[m] + j, obs);
      for (int j = 0; j < T; ++j) ctx.timeT[m][j][i] = read(L.time[m] + j, obs);
      for (int e = 0; e < ctx.nExposure[m]; ++e) ctx.exposure[m][e][i] = read(L.exposure[m] + e, obs);
      for (int c = 0; c < ctx.nTcov[m]; ++c) ctx.tcov[m][c][i] = read(L.tcov[m] + c, obs);
    }
    bool invalidWeight = false;
    if (ctx.hasWeights) {
      const double w = read(L.weight, obs);
      invalidWeight = missing(w) || !(w > 0.0);
      ctx.weight[i] = invalidWeight ? 1.0 : w;
    }
    const bool selected = host.isSelected(obs);
    if (invalidWeight || !selected) {
      // Outside the selection first: a subject the user left out is not
      // reported as having a bad weight.
      if (!selected) ++nNotSelected;
      else ++nWeightExcluded;
      ctx.nExcluded += 1;
      ctx.excluded[i] = 1;
      ctx.included[i] = 0;
      continue;
    }
    ctx.excluded[i] = 0;
    ctx.included[i] = 1;
    if (ctx.hasWeights) weightSum += ctx.weight[i];

    // A period takes part when its outcome and time are present, every
    // covariate of the period is present and, with exposure columns, its
    // exposure: the rule the likelihood applies.
    int usable = 0;
    for (int m = 0; m < nModels; ++m) {
      const int T = ctx.nPeriods[m];
      for (int j = 0; j < T; ++j) {
        const double y = ctx.outcomeY[m][j][i];
        const double t = ctx.timeT[m][j][i];
        bool ok = !missing(y) && !missing(t);
        for (int c = 0; ok && c < ctx.tcovPerPeriod[m]; ++c) ok = !missing(ctx.tcov[m][c * T + j][i]);
        if (ok && ctx.nExposure[m] > 0) ok = !missing(ctx.exposure[m][j][i]);
        if (!ok) continue;
        ++usable;
        ctx.nMeasurements += 1;
        sums[m].sum += y;
        sums[m].sumSquares += y * y;
        sums[m].count += 1.0;
        sums[m].timeSum[j] += t;
        ctx.periodN[m][j] += 1.0;
      }
    }
    if (usable > 0) ctx.nSubjects += 1;
  }

  for (int m = 0; m < nModels; ++m) {
    for (int j = 0; j < ctx.nPeriods[m]; ++j)
      ctx.meanTime[m][j] = ctx.periodN[m][j] < 1.0 ? missingValue : sums[m].timeSum[j] / ctx.periodN[m][j];
    // Start-value range: two deviations around the mean; outcomes that do not
    // vary get the deviation 1.
    if (sums[m].count > 0.0) {
      const double mean = sums[m].sum / sums[m].count;
      const double variance = sums[m].sumSquares / sums[m].count - mean * mean;
      ctx.ySd[m] = variance > 0.0 ? std::sqrt(variance) : 1.0;
      ctx.yMin[m] = mean - 2.0 * ctx.ySd[m];
      ctx.yMax[m] = mean + 2.0 * ctx.ySd[m];
    } else {
      ctx.ySd[m] = 1.0;
      ctx.yMin[m] = -2.0;
      ctx.yMax[m] = 2.0;
    }
  }

  ctx.nNotExcluded = ctx.nObs - ctx.nExcluded;
  // Weights average 1 over the subjects that take part.
  if (ctx.hasWeights && weightSum > 0.0) {
    const double scale = weightSum / ctx.nNotExcluded;
    for (int i = 0; i < ctx.nObs; ++i)
      if (!ctx.excluded[i]) ctx.weight[i] /= scale;
  }
  ctx.outVarBase = L.next;

  host.display(" \n");
  host.display(formatText("%d observations read.\n", ctx.nObs).c_str());
  if (nNotSelected != 0) host.display(formatText("%d excluded by if condition.\n", nNotSelected).c_str());
  if (nWeightExcluded != 0)
    host.standardOutput(formatText(" %d had missing values in risk factors or weights=0.", nWeightExcluded).c_str());
  reportSubjectsUsed(ctx, ctx.nNotExcluded);
  return 0;
}

}  // namespace kurv
