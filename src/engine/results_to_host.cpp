#include "engine/results_to_host.h"

#include <algorithm>
#include <cmath>
#include <string>

#include "core/text_format.h"
#include "models/joint_likelihood.h"
#include "report/expected_trajectory.h"
#include "randomeffects/expected_trajectory.h"

namespace kurv {

namespace {

// Sums below 2^-52 (the double epsilon) are taken as empty.
constexpr double kEmptySum = 2.220446049250313e-16;
// Observed averages of a group rest on its posterior weight at a period; at
// 0.5 or less (less than half a subject) the cell is shown as missing.
constexpr double kMinPlotWeight = 0.5;
// Two-sided 95% normal quantile, as printed elsewhere.
constexpr double kZ95 = 1.96;

bool isExcluded(const ModelContext& ctx, int i) {
  if (i < 0 || i >= ctx.nObs) return true;
  return i < static_cast<int>(ctx.excluded.size()) && ctx.excluded[i] != 0;
}

bool present(Host& host, const Matrix& columns, int t, int i) {
  return t < static_cast<int>(columns.size()) && i < static_cast<int>(columns[t].size()) &&
         !host.isMissing(columns[t][i]);
}

// Per-period, per-group sums of one model's plot series ([t * G + g]).
struct PlotSums {
  int model = 0;
  int nPeriods = 0;
  int nGroups = 0;
  std::vector<double> weight, outcome, dropout, dropoutCount;
  std::vector<char> hasData;         // some subject is usable at t
  std::vector<double> exposureAt;    // exposure of the last such subject
  PlotSums(int t, int g, int m = 0)
      : model(m), nPeriods(t), nGroups(g), weight(t * g), outcome(t * g), dropout(t * g),
        dropoutCount(t * g), hasData(t), exposureAt(t, 1.0) {}
  std::size_t at(int t, int g) const { return static_cast<std::size_t>(t) * nGroups + g; }
};

// Adds one subject's posterior-weighted measurements to the sums, each also
// weighted by the subject's weight when `weighted` (every subject of a
// multi-trajectory run weighs 1).
void addToPlotSums(const ModelContext& ctx, const std::vector<double>& post, int i,
                   PlotSums& sums, bool weighted = true) {
  Host& host = *ctx.host;
  const int m = sums.model;
  const bool hasExposure = ctx.nExposure[m] > 0;
  for (int t = 0; t < sums.nPeriods; ++t) {
    if (!present(host, ctx.outcomeY[m], t, i) || !present(host, ctx.timeT[m], t, i)) continue;
    if (hasExposure && !present(host, ctx.exposure[m], t, i)) continue;
    const double w = !weighted || ctx.weight.empty() ? 1.0 : ctx.weight[i];
    const double y = ctx.outcomeY[m][t][i];
    for (int g = 0; g < sums.nGroups; ++g) {
      const double p = post[ctx.gi(g, i)];
      sums.weight[sums.at(t, g)] += w * p;
      sums.outcome[sums.at(t, g)] += y * w * p;
    }
    sums.hasData[t] = 1;
    sums.exposureAt[t] = hasExposure ? ctx.exposure[m][t][i] : 1.0;
  }
}

// Adds the model's dropout probabilities of the subject's most likely group.
// The stored factor of a period before the subject's last one is the
// probability of staying, 1 - p; the dropout probability is p.
void addToDropoutSums(const ModelContext& ctx, int i, int likelyGroup, PlotSums& sums) {
  Host& host = *ctx.host;
  const int g = likelyGroup;
  const std::size_t block = ctx.nDropoutOrder == 1 ? 0 : static_cast<std::size_t>(g);
  if (g < 0 || block >= ctx.dropoutOrder.size()) return;
  const int order = static_cast<int>(ctx.dropoutOrder[block]);
  const int first = i < static_cast<int>(ctx.firstPeriod.size()) ? ctx.firstPeriod[i] : -1;
  const int last = i < static_cast<int>(ctx.lastPeriod.size()) ? ctx.lastPeriod[i] : 0;
  if (first < 0 || order == -1) return;
  for (int t = std::max(0, first + order); t < last && t < sums.nPeriods; ++t) {
    const std::size_t k = ctx.gij(g, i, t);
    if (k >= ctx.dropoutFactorStore.size()) continue;
    const double stay = ctx.dropoutFactorStore[k];
    if (host.isMissing(stay)) continue;
    const double p = 1.0 - stay;
    if (p > kEmptySum) {
      sums.dropout[sums.at(t, g)] += p;
      sums.dropoutCount[sums.at(t, g)] += 1.0;
    }
  }
}

// A random-effects model predicts each group's censored outcome mean at the
// periods' mean times by simulation (the band keeps the fixed part's
// variance).
void randomEffectsPredictions(ModelContext& ctx, const PlotSums& sums, std::vector<double>& mean) {
  std::vector<double> times(static_cast<std::size_t>(sums.nPeriods), ctx.host->missingValue());
  for (int t = 0; t < sums.nPeriods; ++t)
    if (sums.hasData[t]) times[t] = ctx.meanTime[0][t];
  std::vector<std::vector<double>> expected;
  randomEffectsCnormExpectedTrajectory(times.data(), ctx.params.data(), expected, ctx);
  for (int t = 0; t < sums.nPeriods; ++t)
    for (int g = 0; g < sums.nGroups; ++g)
      if (sums.hasData[t]) mean[sums.at(t, g)] = expected[g][t];
}

void writePlotSeries(ModelContext& ctx, const PlotSums& sums) {
  Host& host = *ctx.host;
  const double missing = host.missingValue();
  const int nGroups = sums.nGroups;
  const int m = sums.model;
  const int kind = ctx.modelKind[m];
  const bool withDropout = m == 0 && ctx.nDropoutOrder > 0;
  const std::string name = formatText("outPlot%d", m + 1);

  // Predictions at each period's mean time, with the exposure of the last
  // subject measured there.
  std::vector<double> mean(static_cast<std::size_t>(sums.nPeriods) * nGroups);
  std::vector<double> variance(mean.size());
  const int savedModel = ctx.currentModel;
  const int savedPeriod = ctx.cursorPeriod;
  ctx.currentModel = m;
  for (int t = 0; t < sums.nPeriods; ++t) {
    if (!sums.hasData[t]) continue;
    ctx.cursorPeriod = t;
    expectedTrajectoryPoint(ctx.meanTime[m][t], sums.exposureAt[t],
                            std::span<double>(mean).subspan(sums.at(t, 0), nGroups),
                            std::span<double>(variance).subspan(sums.at(t, 0), nGroups), ctx);
  }
  ctx.currentModel = savedModel;
  ctx.cursorPeriod = savedPeriod;
  if (m == 0 && ctx.hasRandomEffects && ctx.modelKind[0] == kCnorm) randomEffectsPredictions(ctx, sums, mean);

  auto clampLimit = [&](double v) {
    if ((kind == kLogit || kind == kZip) && v < 0.0) v = 0.0;
    if (kind == kLogit && v > 1.0) v = 1.0;
    if (kind == kCnorm) {
      if (v < ctx.censorMin[m]) v = ctx.censorMin[m];
      if (v > ctx.censorMax[m]) v = ctx.censorMax[m];
    }
    return v;
  };

  for (int t = 0; t < sums.nPeriods; ++t) {
    const int row = t + 1;
    const double time = t < static_cast<int>(ctx.meanTime[m].size()) ? ctx.meanTime[m][t] : missing;
    host.storeMatrixElement(name.c_str(), row, 1, time);
    for (int g = 0; g < nGroups; ++g) {
      const std::size_t k = sums.at(t, g);
      double average = missing, predicted = missing, lower = missing, upper = missing;
      if (sums.weight[k] > kMinPlotWeight) {
        average = sums.outcome[k] / sums.weight[k];
        predicted = mean[k];
        const double v = ctx.covFailCode != 0 ? 0.0 : variance[k];
        const double halfWidth = kZ95 * std::sqrt(std::max(v, 0.0));
        lower = clampLimit(predicted - halfWidth);
        upper = clampLimit(predicted + halfWidth);
      }
      host.storeMatrixElement(name.c_str(), row, 2 + g, average);
      host.storeMatrixElement(name.c_str(), row, nGroups + 2 + g, predicted);
      host.storeMatrixElement(name.c_str(), row, 2 * nGroups + 2 + 2 * g, lower);
      host.storeMatrixElement(name.c_str(), row, 2 * nGroups + 3 + 2 * g, upper);
      // Dropout happens from the second period on: the first row has none.
      if (withDropout && t > 0) {
        const double rate =
            sums.dropoutCount[k] > kEmptySum ? sums.dropout[k] / sums.dropoutCount[k] : missing;
        host.storeMatrixElement(name.c_str(), row, 4 * nGroups + 2 + g, rate);
      }
    }
  }
}

}  // namespace

void writeUnweightedPlotSeries(ModelContext& ctx, int m, const std::vector<double>& post) {
  PlotSums sums(ctx.nPeriods[m], ctx.nGroups[0], m);
  for (int i = 0; i < ctx.nObs; ++i)
    if (!isExcluded(ctx, i) && !ctx.host->isMissing(post[ctx.gi(0, i)])) addToPlotSums(ctx, post, i, sums, false);
  writePlotSeries(ctx, sums);
}

void writeEstimates(ModelContext& ctx) {
  Host& host = *ctx.host;
  for (int j = 0; j < ctx.nParams; ++j) {
    const double v = j < static_cast<int>(ctx.estimates.size()) ? ctx.estimates[j] : host.missingValue();
    host.storeMatrixElement("parmData", 1, j + 1, v);
  }
}

// Zeros when the covariance was not computed; missing values when the
// Hessian could not be factorised (the matrix then holds no covariance).
void writeCovariance(ModelContext& ctx) {
  Host& host = *ctx.host;
  const int n = ctx.nParams;
  const bool complete = ctx.covariance.size() >= static_cast<std::size_t>(n) * n;
  for (int r = 0; r < n; ++r)
    for (int c = 0; c < n; ++c) {
      double v;
      if (ctx.noStdErrors)
        v = 0.0;
      else if (ctx.covFailCode != 0 || !complete)
        v = host.missingValue();
      else {
        v = ctx.covariance[static_cast<std::size_t>(r) * n + c];
        if (r == c) v = std::fabs(v);
      }
      host.storeMatrixElement("varData", r + 1, c + 1, v);
    }
}

std::vector<double> posteriorProbabilities(const ModelContext& ctx) {
  const int nGroups = ctx.nGroups[0];
  const double missing = ctx.host->missingValue();
  std::vector<double> post(static_cast<std::size_t>(nGroups) * ctx.nObs, missing);
  for (int i = 0; i < ctx.nObs; ++i) {
    if (isExcluded(ctx, i)) continue;
    double sum = 0.0;
    for (int g = 0; g < nGroups; ++g) sum += ctx.groupTerm[ctx.gi(g, i)];
    if (!(sum > 0.0) || !std::isfinite(sum)) continue;
    for (int g = 0; g < nGroups; ++g) post[ctx.gi(g, i)] = ctx.groupTerm[ctx.gi(g, i)] / sum;
  }
  return post;
}

double mostLikelyGroup(const ModelContext& ctx, const std::vector<double>& post, int i, int m) {
  Host& host = *ctx.host;
  if (i < 0 || i >= ctx.nObs || ctx.nGroups[m] < 1 || host.isMissing(post[ctx.gi(0, i)]))
    return host.missingValue();
  int best = -1;
  double bestValue = 0.0;
  for (int g = 0; g < ctx.nGroups[m]; ++g)
    if (post[ctx.gi(g, i)] > bestValue) {
      best = g;
      bestValue = post[ctx.gi(g, i)];
    }
  return best < 0 ? 1.0 : best + 1.0;
}

void writeResultsToHost(ModelContext& ctx) {
  Host& host = *ctx.host;
  const double missing = host.missingValue();
  const int nGroups = ctx.nGroups[0];
  if (nGroups < 1) return;

  writeEstimates(ctx);
  writeCovariance(ctx);

  // Posterior variables, observation by observation, while summing the
  // group shares and the plot series.
  // A joint run's posteriors of each model sum those of the pairs of groups.
  const bool joint = ctx.isJointModel();
  const std::vector<double> post = joint ? jointModelPosteriors(ctx, 0) : posteriorProbabilities(ctx);
  std::vector<double> groupSum(nGroups, 0.0);
  PlotSums sums(ctx.nPeriods[0], nGroups);
  const int nGroups2 = joint ? ctx.nGroups[1] : 0;
  const std::vector<double> post2 = joint ? jointModelPosteriors(ctx, 1) : std::vector<double>();
  std::vector<double> groupSum2(static_cast<std::size_t>(nGroups2), 0.0);
  PlotSums sums2(joint ? ctx.nPeriods[1] : 0, nGroups2, 1);
  for (int obs = 1; obs <= host.observationCount(); ++obs) {
    const int i = obs - 1;
    const bool known = i < ctx.nObs && !host.isMissing(post[ctx.gi(0, i)]);
    const double likely = known ? mostLikelyGroup(ctx, post, i) : missing;
    host.storeVariable(ctx.outVarBase, obs, likely);
    for (int g = 0; g < nGroups; ++g)
      host.storeVariable(ctx.outVarBase + 1 + g, obs, known ? post[ctx.gi(g, i)] : missing);
    if (joint) {
      const int base2 = ctx.outVarBase + nGroups + 1;
      host.storeVariable(base2, obs, known ? mostLikelyGroup(ctx, post2, i, 1) : missing);
      for (int k = 0; k < nGroups2; ++k) host.storeVariable(base2 + 1 + k, obs, known ? post2[ctx.gi(k, i)] : missing);
      if (known) {
        for (int k = 0; k < nGroups2; ++k) groupSum2[k] += post2[ctx.gi(k, i)];
        addToPlotSums(ctx, post2, i, sums2);
      }
    }
    if (!known) continue;
    for (int g = 0; g < nGroups; ++g) groupSum[g] += post[ctx.gi(g, i)];
    addToPlotSums(ctx, post, i, sums);
    if (ctx.nDropoutOrder > 0) addToDropoutSums(ctx, i, static_cast<int>(likely) - 1, sums);
  }

  // Shares of the groups among the observations that took part.
  const int taking = ctx.nObs - ctx.nExcluded;
  for (int g = 0; g < nGroups; ++g)
    host.storeMatrixElement("groupPct1", 1, g + 1,
                            taking > 0 ? 100.0 * groupSum[g] / taking : missing);
  for (int k = 0; k < nGroups2; ++k)
    host.storeMatrixElement("groupPct2", 1, k + 1, taking > 0 ? 100.0 * groupSum2[k] / taking : missing);

  writePlotSeries(ctx, sums);
  if (joint) writePlotSeries(ctx, sums2);
}

}  // namespace kurv
