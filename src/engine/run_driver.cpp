#include "engine/run_driver.h"

#include <algorithm>

#include "intake/multi_intake.h"
#include "intake/observation_intake.h"
#include "engine/multi_checks.h"
#include "engine/fit_phases.h"
#include "core/model_context.h"
#include "engine/input_checks.h"
#include "engine/model_family.h"
#include "engine/prepare_run.h"

namespace kurv {

namespace {

// Reads `count` values from elements (1, j) of a host row vector.
bool readRowVector(ModelContext& ctx, const char* name, int count, std::vector<double>& out) {
  for (int j = 1; j <= count; ++j) {
    double value = 0.0;
    if (ctx.host->matrixElement(name, 1, j, &value) != 0) return false;
    out[j - 1] = value;
  }
  return true;
}

// ---- The phases of a run, in order. Each returns 0 to go on, or the code
// ---- with which the run ends.

// The description into the record's option fields. Every list whose
// length is given is sized here, zero-filled, and read from its host matrix
// by the later phases.
void takeDescription(const RunDescription& d, ModelContext& ctx) {
  for (int m = 0; m < kMaxModels; ++m) {
    const ModelDescription& model = d.models[static_cast<std::size_t>(m)];
    ctx.modelPresent[m] = model.present;
    ctx.modelName[m] = model.name;
    ctx.nPeriods[m] = model.periods;
    ctx.nRisk[m] = model.risk;
    ctx.nExposure[m] = model.exposure;
    ctx.nTcov[m] = model.tcov;
    ctx.nGroups[m] = model.groups;
    ctx.polyOrder[m].assign(static_cast<std::size_t>(std::max(model.groups, 0)), 0.0);
    ctx.censorMin[m] = model.censorMin;
    ctx.censorMax[m] = model.censorMax;
    ctx.nInflOrder[m] = model.inflOrders;
    ctx.inflOrder[m].assign(static_cast<std::size_t>(std::max(model.inflOrders, 0)), 0.0);
    ctx.refGroup[m] = model.refGroup;
    ctx.hasRefGroup[m] = model.refGroup > 0;
  }
  ctx.hasWeights = d.weights;
  ctx.nPlotTcov = d.plotTcov;
  ctx.nReOrder = d.reOrders;
  ctx.reOrder.assign(static_cast<std::size_t>(std::max(d.reOrders, 0)), 0.0);
  ctx.hasRandomEffects = d.reOrders > 0;
  ctx.nDropoutOrder = d.dropoutOrders;
  ctx.dropoutOrder.assign(static_cast<std::size_t>(std::max(d.dropoutOrders, 0)), 0.0);
  ctx.nDcov = d.dcov;
  ctx.hasDropoutExempt = d.dropoutExempt;
  ctx.hasOutcome = d.outcome;
  ctx.omodelName = d.outcomeModel;
  ctx.multNGroups = d.multGroups;
  ctx.isMultModel = d.multGroups > 0;
  ctx.nStartValues = d.startValues;
  ctx.hasStartValues = d.startValues > 0;
  ctx.showTrace = d.trace ? 1 : 0;
  ctx.debugTrace = d.debug ? 1 : 0;
  ctx.noStdErrors = d.noStdErrors ? 1 : 0;
  ctx.nThreads = d.threads;
  ctx.dataStartValues = d.dataStartValues;
}

int checkOptions(ModelContext& ctx) {
  if (int rc = validateRunArguments(ctx)) return rc;
  if (int rc = readOrderMatrices(ctx)) return rc;
  if (int rc = validateOrders(ctx)) return rc;
  if (int rc = checkMultiTrajectoryOptions(ctx)) return rc;
  // Exposure columns of models 2 and 3 are not part of the data layout.
  const auto exposures = ctx.nExposure;
  ctx.nExposure[1] = ctx.nExposure[2] = 0;
  const int nVars = dataVariableCount(ctx);
  ctx.nExposure = exposures;
  return checkDataVariables(ctx, nVars);
}

// Bytes of the per-subject data and the (group, subject, period) arrays.
double subjectArrayBytes(const ModelContext& ctx) {
  double perSubject = 8.0 + ctx.nDcov;
  for (int m = 0; m < kMaxModels; ++m)
    perSubject += 2.0 * ctx.nPeriods[m] + ctx.nRisk[m] + ctx.nExposure[m] + ctx.nTcov[m];
  perSubject += 2.0 * ctx.nGroups[0] * (ctx.nPeriods[0] + 1.0);
  return 8.0 * perSubject * std::max(ctx.host->observationCount(), 0);
}

// Bytes of the square matrices of the fit: the covariance, the score sums,
// the Hessian and its inverse, and the minimizer's factor and workspace.
double fitWorkBytes(const ModelContext& ctx) {
  const double n1 = ctx.nParams + 1.0;
  return 8.0 * 8.0 * n1 * n1;
}

int layoutAndCheckStartCount(ModelContext& ctx) {
  layoutParameters(ctx);
  if (int rc = checkMemoryNeed(ctx, fitWorkBytes(ctx))) return rc;
  const int expected = expectedStartValueCount(ctx);
  if (ctx.hasStartValues && ctx.nStartValues != expected)
    return reportInputError(ctx, InputError::StartValueCount, expected);
  ctx.nDataVars = dataVariableCount(ctx);
  return 0;
}

int readStartAndPlotValues(ModelContext& ctx) {
  const int nValues = ctx.hasStartValues ? ctx.nStartValues : ctx.nParams;
  ctx.params.assign(static_cast<std::size_t>(std::max(nValues, ctx.nParams)) + 1, 0.0);
  if (ctx.hasStartValues && !readRowVector(ctx, "kurv_start", ctx.nStartValues, ctx.params))
    return reportInputError(ctx, InputError::HostMatrixShort, "kurv_start", ctx.nStartValues);
  ctx.plotTcov.assign(static_cast<std::size_t>(std::max(ctx.nTcov[0], 1)), ctx.host->missingValue());
  if (ctx.nPlotTcov > 0 && !readRowVector(ctx, "kurv_plottcov1", ctx.nPlotTcov, ctx.plotTcov))
    return reportInputError(ctx, InputError::HostMatrixShort, "kurv_plottcov1", ctx.nPlotTcov);
  allocateFitWork(ctx);
  return 0;
}

int intake(ModelContext& ctx) {
  // Multi-trajectory data have a column layout of their own.
  if (ctx.isMultModel)
    readMultiObservations(ctx);
  else
    readObservations(ctx);
  if (ctx.nSubjects == 0) return reportInputError(ctx, InputError::NoTrajectoryData);
  return 0;
}

}  // namespace

int prepareDescribedRun(ModelContext& ctx, const RunDescription& description) {
  takeDescription(description, ctx);
  if (int rc = checkOptions(ctx)) return rc;
  if (int rc = checkMemoryNeed(ctx, subjectArrayBytes(ctx))) return rc;
  if (int rc = prepareRun(ctx)) return rc;
  if (int rc = layoutAndCheckStartCount(ctx)) return rc;
  if (int rc = readStartAndPlotValues(ctx)) return rc;
  return intake(ctx);
}

int runDescribed(Host& host, const RunDescription& description, RunSummary* summary) {
  ModelContext ctx;
  ctx.host = &host;
  if (int rc = prepareDescribedRun(ctx, description)) return rc;
  // The model family is chosen once; families this version cannot fit end
  // the run here.
  const FamilyKind kind = familyOf(ctx);
  const ModelFamily* family = modelFamily(kind);
  if (family == nullptr) return reportInputError(ctx, InputError::NotAvailable, familyName(kind));
  settleStartValues(ctx);
  MinimizerState state;
  // A minimizer failure is reported on standard output; the run ends without
  // results but is not an input error.
  if (!fitModel(ctx, *family, state)) return 0;
  reportResults(ctx, *family, state, summary);
  return 0;
}

}  // namespace kurv
