#pragma once
// Results of a multi-trajectory fit handed to the host.

#include <vector>

#include "core/model_context.h"

namespace kurv {

// Shared posterior group probabilities from the last likelihood evaluation:
// the log-domain posteriors of models/multi_likelihood.h; missing for
// excluded observations.
std::vector<double> multiPosteriorProbabilities(const ModelContext& ctx);

// Writes "parmData", "varData", the posterior variables (most likely shared
// group, then one probability per group) from ctx.outVarBase on, one
// "groupPct%d" per component (all the shared shares), and one "outPlot%d"
// per component: its periods' mean times, posterior-weighted observed
// averages, predicted trajectories and their 95% limits.
void writeMultiResultsToHost(ModelContext& ctx);

}  // namespace kurv
