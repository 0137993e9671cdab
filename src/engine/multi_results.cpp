#include "engine/multi_results.h"

#include <algorithm>
#include <cmath>
#include <span>
#include <string>

#include "core/text_format.h"
#include "engine/results_to_host.h"
#include "models/multi_likelihood.h"
#include "report/expected_trajectory.h"

namespace kurv {

namespace {

// A group's observed average at a period rests on its posterior weight
// there; at 0.5 or less (less than half a subject) the cells are missing.
constexpr double kMinPlotWeight = 0.5;
// Two-sided 95% normal quantile.
constexpr double kZ95 = 1.96;

// Plot series of component m: sums of posterior-weighted outcomes per
// period and group (every subject weighs 1), predictions at each period's
// mean time.
void writeComponentPlot(ModelContext& ctx, int m, const std::vector<double>& post) {
  Host& host = *ctx.host;
  const double missing = host.missingValue();
  const int T = ctx.nPeriods[m];
  const int G = ctx.nGroups[0];
  const std::size_t cells = static_cast<std::size_t>(T) * G;
  std::vector<double> weight(cells, 0.0), outcome(cells, 0.0), mean(cells, 0.0), variance(cells, 0.0);
  std::vector<char> hasData(static_cast<std::size_t>(T), 0);
  std::vector<double> exposureAt(static_cast<std::size_t>(T), 1.0);
  const bool hasExposure = ctx.nExposure[m] > 0;
  for (int i = 0; i < ctx.nObs; ++i) {
    if (ctx.excluded[i] != 0 || host.isMissing(post[ctx.gi(0, i)])) continue;
    for (int t = 0; t < T; ++t) {
      const double y = ctx.outcomeY[m][t][i];
      if (host.isMissing(y) || host.isMissing(ctx.timeT[m][t][i])) continue;
      if (hasExposure && host.isMissing(ctx.exposure[m][t][i])) continue;
      for (int g = 0; g < G; ++g) {
        const double p = post[ctx.gi(g, i)];
        weight[static_cast<std::size_t>(t) * G + g] += p;
        outcome[static_cast<std::size_t>(t) * G + g] += y * p;
      }
      hasData[t] = 1;
      exposureAt[t] = hasExposure ? ctx.exposure[m][t][i] : 1.0;
    }
  }
  const int savedModel = ctx.currentModel;
  const int savedPeriod = ctx.cursorPeriod;
  ctx.currentModel = m;
  for (int t = 0; t < T; ++t) {
    if (!hasData[t]) continue;
    ctx.cursorPeriod = t;
    const std::size_t at = static_cast<std::size_t>(t) * G;
    expectedTrajectoryPoint(ctx.meanTime[m][t], exposureAt[t], std::span<double>(mean).subspan(at, G),
                            std::span<double>(variance).subspan(at, G), ctx);
  }
  ctx.currentModel = savedModel;
  ctx.cursorPeriod = savedPeriod;

  const int kind = ctx.modelKind[m];
  auto clampLimit = [&](double v) {
    if ((kind == kLogit || kind == kZip) && v < 0.0) v = 0.0;
    if (kind == kLogit && v > 1.0) v = 1.0;
    if (kind == kCnorm) v = std::clamp(v, ctx.censorMin[m], std::max(ctx.censorMin[m], ctx.censorMax[m]));
    return v;
  };
  const std::string name = formatText("outPlot%d", m + 1);
  for (int t = 0; t < T; ++t) {
    host.storeMatrixElement(name.c_str(), t + 1, 1, ctx.meanTime[m][t]);
    for (int g = 0; g < G; ++g) {
      const std::size_t k = static_cast<std::size_t>(t) * G + g;
      double average = missing, predicted = missing, lower = missing, upper = missing;
      if (weight[k] > kMinPlotWeight) {
        average = outcome[k] / weight[k];
        predicted = mean[k];
        const double v = ctx.covFailCode != 0 ? 0.0 : variance[k];
        const double halfWidth = kZ95 * std::sqrt(std::max(v, 0.0));
        lower = clampLimit(predicted - halfWidth);
        upper = clampLimit(predicted + halfWidth);
      }
      host.storeMatrixElement(name.c_str(), t + 1, 2 + g, average);
      host.storeMatrixElement(name.c_str(), t + 1, G + 2 + g, predicted);
      host.storeMatrixElement(name.c_str(), t + 1, 2 * G + 2 + 2 * g, lower);
      host.storeMatrixElement(name.c_str(), t + 1, 2 * G + 3 + 2 * g, upper);
    }
  }
}

}  // namespace

std::vector<double> multiPosteriorProbabilities(const ModelContext& ctx) { return multiModelPosteriors(ctx); }

void writeMultiResultsToHost(ModelContext& ctx) {
  Host& host = *ctx.host;
  const double missing = host.missingValue();
  const int G = ctx.nGroups[0];
  if (G < 1) return;
  writeEstimates(ctx);
  writeCovariance(ctx);

  const std::vector<double> post = multiPosteriorProbabilities(ctx);
  std::vector<double> groupSum(static_cast<std::size_t>(G), 0.0);
  for (int obs = 1; obs <= host.observationCount(); ++obs) {
    const int i = obs - 1;
    const bool known = i < ctx.nObs && !host.isMissing(post[ctx.gi(0, i)]);
    host.storeVariable(ctx.outVarBase, obs, known ? mostLikelyGroup(ctx, post, i) : missing);
    for (int g = 0; g < G; ++g) {
      host.storeVariable(ctx.outVarBase + 1 + g, obs, known ? post[ctx.gi(g, i)] : missing);
      if (known) groupSum[g] += post[ctx.gi(g, i)];
    }
  }
  // Every component's matrix holds the shared shares among the observations
  // that took part.
  const int taking = ctx.nObs - ctx.nExcluded;
  for (int m = 0; m < ctx.nModels; ++m) {
    const std::string name = formatText("groupPct%d", m + 1);
    for (int g = 0; g < G; ++g)
      host.storeMatrixElement(name.c_str(), 1, g + 1, taking > 0 ? 100.0 * groupSum[g] / taking : missing);
  }
  for (int m = 0; m < ctx.nModels; ++m) writeComponentPlot(ctx, m, post);
}

}  // namespace kurv
