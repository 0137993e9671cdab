#pragma once
// Checks of the command's arguments and host matrices, made before anything
// of the run is allocated, and the one table of the run's input-error texts.

#include <string>

#include "core/model_context.h"

namespace kurv {

enum class InputError {
  StartValueCount,
  NoTrajectoryData,
  OutcomeModelName,
  TrajectoryModelName,
  NegativeCount,
  NoPeriods,
  NoGroups,
  OrderOutOfRange,
  HostMatrixShort,
  ColumnsNotMultiple,
  ExposureCount,
  PlotCovariateCount,
  OrderCount,
  ReferenceGroup,
  MultGroupsDiffer,
  MultNeedsComponents,
  ThirdModelWithoutMult,
  InflationNotPoisson,
  NotAvailable,
  MissingVariables,
  OutOfMemory,
  JointWithDropout,
  JointWithOutcome,
  JointGroupWithoutTrajectory,
  RandomEffectsNotCnorm,
  RandomEffectsCombined,
};

// Random-effects orders only with a cnorm model 1 that has no dropout model,
// no outcome analysis and no second model (joint or multi-trajectory).
int checkRandomEffectsCombination(ModelContext& ctx);

// Shows the error's text (formatted with the arguments) with Host::error and
// returns the host error code 198.
int reportInputError(ModelContext& ctx, InputError error, ...);

// Model-name decoding by prefix, case significant: "zip" -> ZIP, "cnorm" ->
// CNORM, "logit" -> LOGIT, "poisson" -> ZIP kind (plain Poisson without
// zero-inflation orders); -1 for any other name.
int decodeModelKind(const std::string& name);

// Counts, model names and combinations of options; 0 or 198.
int validateRunArguments(ModelContext& ctx);
// Reads the order lists from their host matrices (element (1, j)); 0 or 198
// when a matrix is missing or too short.
int readOrderMatrices(ModelContext& ctx);
// Range and count checks of the orders just read; 0 or 198.
int validateOrders(ModelContext& ctx);
// The data must hold every variable the arguments describe: the last one is
// probed, so that counts far beyond the data never size any array. 0 or 198.
int checkDataVariables(ModelContext& ctx, int nDataVars);
// Refuses a run whose arrays (`bytes` in all) would not fit in the machine's
// memory, before they are allocated. 0 or 198.
int checkMemoryNeed(ModelContext& ctx, double bytes);

}  // namespace kurv
