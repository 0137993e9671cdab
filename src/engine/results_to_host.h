#pragma once
// Results of a finished fit handed to the host: the estimates and their
// covariance, each subject's posterior group probabilities and most likely
// group, the group percentages and the plot series.

#include <vector>

#include "core/model_context.h"

namespace kurv {

// Posterior group probabilities of model 1 for every observation, from the
// group terms of the last likelihood evaluation: post[g * nObs + i] =
// groupTerm(g, i) / sum over groups. Excluded observations (and any whose
// group terms do not sum to a positive number) get the host's missing value.
std::vector<double> posteriorProbabilities(const ModelContext& ctx);

// "parmData" (1 x nParams, ctx.estimates) and "varData" (nParams x nParams,
// the covariance with absolute diagonal; zeros when the covariance was
// skipped, missing values when the Hessian could not be factorised).
void writeEstimates(ModelContext& ctx);
void writeCovariance(ModelContext& ctx);

// 1-based most likely group of observation i among the groups of model m:
// the first group with the largest posterior; 1 when no posterior exceeds 0;
// missing when the posteriors are missing.
double mostLikelyGroup(const ModelContext& ctx, const std::vector<double>& post, int i, int m = 0);

// "outPlot%d" of model m of a run whose groups are model 1's (a
// multi-trajectory component): each period's mean time, the observed
// averages weighted by the posteriors `post` alone, the predicted
// trajectories at the mean times and their 95% limits.
void writeUnweightedPlotSeries(ModelContext& ctx, int m, const std::vector<double>& post);

// Writes, in this order, "parmData" (1 x nParams, ctx.estimates), "varData"
// (nParams x nParams, ctx.covariance with absolute diagonal; zeros when the
// covariance was skipped, missing values when the Hessian was singular), the
// posterior variables from ctx.outVarBase on (most likely group, then one
// probability per group), "groupPct1" and "outPlot1". A joint run's
// posteriors are the sums of those of the pairs of groups; it also writes
// model 2's most likely group and posteriors after model 1's, "groupPct2"
// and "outPlot2".
void writeResultsToHost(ModelContext& ctx);

}  // namespace kurv
