#pragma once
// Expected trajectory of the observed (censored) outcome of each group of a
// random-effects censored normal model, by simulation.

#include <vector>

#include "core/model_context.h"

namespace kurv {

// Draws per group.
inline constexpr int kTrajectoryDraws = 500000;
// The generator's start, fixed once per run (any value in 1 ... 2^31 - 2;
// 0 would stay 0).
inline constexpr double kTrajectorySeed = 1234567.0;

// out[g][j]: the mean over kTrajectoryDraws draws of the group's whole
// measurement vector (random effects integrated out) of
// min(max(Y_j, censorMin), censorMax) at times[j]; the host's missing value
// for an occasion whose time is missing. Plot covariate values (plotTcov,
// [c * T + j]) enter the mean where present. Returns 0.
int randomEffectsCnormExpectedTrajectory(const double* times, const double* theta,
                                         std::vector<std::vector<double>>& out, ModelContext& ctx);

}  // namespace kurv
