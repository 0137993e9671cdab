#include "engine/multi_results.h"

#include <string>

#include "core/text_format.h"
#include "engine/results_to_host.h"
#include "models/multi_likelihood.h"

namespace kurv {

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
  for (int m = 0; m < ctx.nModels; ++m) writeUnweightedPlotSeries(ctx, m, post);
}

}  // namespace kurv
