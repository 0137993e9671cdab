#include "engine/input_checks.h"

#include <unistd.h>

#include <cmath>
#include <cstdarg>

#include "core/text_format.h"

namespace kurv {

namespace {

struct ErrorText {
  InputError error;
  const char* format;
};

// Every input error of a run and its text. Arguments, in order, as the
// comments say.
constexpr ErrorText kErrorTexts[] = {
    {InputError::StartValueCount, "Incorrect number of start values, the correct number is %d.\n"},
    {InputError::NoTrajectoryData, "No observations with trajectory data.\n"},
    {InputError::OutcomeModelName, "OMODEL is not CNORM, ZIP, POISSON, LOGIT or NORMAL.\n"},
    // model number, name
    {InputError::TrajectoryModelName,
     "Model %d is \"%s\": the trajectory model must be cnorm, logit, zip or poisson.\n"},
    // what, argument position, value
    {InputError::NegativeCount, "The %s (argument %d) must not be negative; %d was given.\n"},
    // model number, value
    {InputError::NoPeriods, "Model %d needs at least one period; %d were given.\n"},
    {InputError::NoGroups, "Model %d needs at least one group; %d were given.\n"},
    // what, entry number, model number, value
    {InputError::OrderOutOfRange,
     "The %s %d of model %d is %g; orders must be whole numbers from -1 to 5.\n"},
    // matrix name, values needed
    {InputError::HostMatrixShort, "Host matrix %s is missing or holds fewer than %d values.\n"},
    // columns, what, periods, model number
    {InputError::ColumnsNotMultiple,
     "The %d %s columns are not a multiple of the %d periods of model %d.\n"},
    // model number, columns, periods
    {InputError::ExposureCount,
     "Model %d has %d exposure columns; give none or one per period (%d).\n"},
    // values, covariate columns
    {InputError::PlotCovariateCount,
     "%d plot covariate values were given but model 1 has only %d covariate columns.\n"},
    // count, what, groups, model number
    {InputError::OrderCount,
     "%d %s were given for the %d groups of model %d; give one shared order or one per group.\n"},
    // reference group, groups
    {InputError::ReferenceGroup, "The reference group %d does not exist: model 1 has %d groups.\n"},
    // groups of model 1, model number, its groups
    {InputError::MultGroupsDiffer,
     "The components of a multi-trajectory model must have the same number of groups: model 1 "
     "has %d, model %d has %d.\n"},
    {InputError::MultNeedsComponents, "A multi-trajectory model needs at least two components.\n"},
    {InputError::ThirdModelWithoutMult,
     "A third trajectory model is only possible in a multi-trajectory run.\n"},
    // model number
    {InputError::InflationNotPoisson,
     "Zero-inflation orders were given for model %d, which is not a zip or poisson model.\n"},
    // kind of model
    {InputError::NotAvailable, "%s models cannot be fitted by this version of kurv yet.\n"},
    // variables the arguments describe
    {InputError::MissingVariables, "The data hold fewer than the %d variables the arguments describe.\n"},
    {InputError::OutOfMemory, "Not enough memory for this model.\n"},
    {InputError::JointWithDropout,
     "A joint model cannot have a dropout model: its likelihood has no dropout part.\n"},
    {InputError::JointWithOutcome,
     "A joint model cannot have an outcome analysis: its likelihood does not model the outcome variable.\n"},
    // group number, model number
    {InputError::JointGroupWithoutTrajectory,
     "Group %d of model %d has order -1, which a joint model does not allow.\n"},
    // model name
    {InputError::RandomEffectsNotCnorm,
     "Random-effects orders were given for model 1 (\"%s\"); random effects need a cnorm model.\n"},
    // what the random effects were combined with
    {InputError::RandomEffectsCombined,
     "Random effects cannot be combined with %s: that likelihood has no random-effects part.\n"},
};

const char* errorFormat(InputError error) {
  for (const auto& entry : kErrorTexts)
    if (entry.error == error) return entry.format;
  return "Invalid input.\n";
}

bool modelPresent(const ModelContext& ctx, int m) {
  return m == 0 || ctx.modelPresent[static_cast<std::size_t>(m)];
}

// Orders are doubles from a host matrix; they are used truncated toward zero.
bool orderInRange(double order) {
  if (!std::isfinite(order)) return false;
  const double t = std::trunc(order);
  return t >= -1.0 && t <= kMaxPolyOrder;
}

int readList(ModelContext& ctx, const char* matrix, int count, std::vector<double>& list) {
  if (count <= 0) return 0;
  list.assign(static_cast<std::size_t>(count), 0.0);
  for (int j = 1; j <= count; ++j) {
    double value = 0.0;
    if (ctx.host->matrixElement(matrix, 1, j, &value) != 0)
      return reportInputError(ctx, InputError::HostMatrixShort, matrix, count);
    list[j - 1] = value;
  }
  return 0;
}

// A joint run (a second model with groups, not multi-trajectory) has no
// dropout part and never reads outcome-analysis parameters: they would stay
// at their start values with a singular Hessian.
bool isJointRun(const ModelContext& ctx) { return !ctx.isMultModel && modelPresent(ctx, 1) && ctx.nGroups[1] > 0; }

int checkJointOptions(ModelContext& ctx) {
  if (!isJointRun(ctx)) return 0;
  if (ctx.nDropoutOrder > 0) return reportInputError(ctx, InputError::JointWithDropout);
  if (ctx.hasOutcome) return reportInputError(ctx, InputError::JointWithOutcome);
  return 0;
}

}  // namespace

int reportInputError(ModelContext& ctx, InputError error, ...) {
  va_list args;
  va_start(args, error);
  const std::string text = formatTextV(errorFormat(error), args);
  va_end(args);
  ctx.host->error(text.c_str());
  return kHostErrorCode;
}

int decodeModelKind(const std::string& name) {
  if (name.compare(0, 3, "zip") == 0) return kZip;
  if (name.compare(0, 5, "cnorm") == 0) return kCnorm;
  if (name.compare(0, 5, "logit") == 0) return kLogit;
  if (name.compare(0, 7, "poisson") == 0) return kZip;
  return -1;
}

int validateRunArguments(ModelContext& ctx) {
  struct Count {
    const char* what;
    int position;
    int value;
  };
  const Count counts[] = {
      {"number of periods of model 1", 2, ctx.nPeriods[0]},
      {"number of risk factors of model 1", 3, ctx.nRisk[0]},
      {"number of exposure columns of model 1", 5, ctx.nExposure[0]},
      {"number of covariate columns of model 1", 6, ctx.nTcov[0]},
      {"number of plot covariate values", 7, ctx.nPlotTcov},
      {"number of groups of model 1", 8, ctx.nGroups[0]},
      {"number of zero-inflation orders of model 1", 11, ctx.nInflOrder[0]},
      {"number of random-effects orders", 12, ctx.nReOrder},
      {"number of dropout orders", 13, ctx.nDropoutOrder},
      {"number of dropout covariate columns", 14, ctx.nDcov},
      {"number of periods of model 2", 19, ctx.nPeriods[1]},
      {"number of risk factors of model 2", 20, ctx.nRisk[1]},
      {"number of exposure columns of model 2", 21, ctx.nExposure[1]},
      {"number of covariate columns of model 2", 22, ctx.nTcov[1]},
      {"number of groups of model 2", 23, ctx.nGroups[1]},
      {"number of zero-inflation orders of model 2", 26, ctx.nInflOrder[1]},
      {"number of periods of model 3", 29, ctx.nPeriods[2]},
      {"number of groups of model 3", 30, ctx.nGroups[2]},
      {"number of zero-inflation orders of model 3", 33, ctx.nInflOrder[2]},
      {"number of start values", 35, ctx.nStartValues},
  };
  for (const auto& c : counts)
    if (c.value < 0) return reportInputError(ctx, InputError::NegativeCount, c.what, c.position, c.value);

  // A model whose name is absent ("none") takes no part: its other arguments
  // must not leak into the data layout or the parameter count.
  for (int m = 1; m < kMaxModels; ++m) {
    if (modelPresent(ctx, m)) continue;
    ctx.nPeriods[m] = 0;
    ctx.nRisk[m] = 0;
    ctx.nExposure[m] = 0;
    ctx.nTcov[m] = 0;
    ctx.nGroups[m] = 0;
    ctx.polyOrder[m].clear();
    ctx.nInflOrder[m] = 0;
    ctx.inflOrder[m].clear();
  }
  if (modelPresent(ctx, 2) && !ctx.isMultModel) return reportInputError(ctx, InputError::ThirdModelWithoutMult);
  if (ctx.isMultModel && !modelPresent(ctx, 1)) return reportInputError(ctx, InputError::MultNeedsComponents);

  for (int m = 0; m < kMaxModels; ++m) {
    if (!modelPresent(ctx, m)) continue;
    if (decodeModelKind(ctx.modelName[m]) < 0)
      return reportInputError(ctx, InputError::TrajectoryModelName, m + 1, ctx.modelName[m].c_str());
    if (ctx.nPeriods[m] < 1) return reportInputError(ctx, InputError::NoPeriods, m + 1, ctx.nPeriods[m]);
    if (ctx.nGroups[m] < 1) return reportInputError(ctx, InputError::NoGroups, m + 1, ctx.nGroups[m]);
    if (ctx.nTcov[m] % ctx.nPeriods[m] != 0)
      return reportInputError(ctx, InputError::ColumnsNotMultiple, ctx.nTcov[m], "time-varying covariate",
                              ctx.nPeriods[m], m + 1);
    if (ctx.nExposure[m] != 0 && ctx.nExposure[m] != ctx.nPeriods[m] && m == 0)
      return reportInputError(ctx, InputError::ExposureCount, m + 1, ctx.nExposure[m], ctx.nPeriods[m]);
    if (ctx.nInflOrder[m] > 0 && decodeModelKind(ctx.modelName[m]) != kZip)
      return reportInputError(ctx, InputError::InflationNotPoisson, m + 1);
    if (ctx.nInflOrder[m] > 1 && ctx.nInflOrder[m] != ctx.nGroups[m])
      return reportInputError(ctx, InputError::OrderCount, ctx.nInflOrder[m], "zero-inflation orders",
                              ctx.nGroups[m], m + 1);
    if (ctx.isMultModel && ctx.nGroups[m] != ctx.nGroups[0])
      return reportInputError(ctx, InputError::MultGroupsDiffer, ctx.nGroups[0], m + 1, ctx.nGroups[m]);
  }
  if (ctx.nDcov % ctx.nPeriods[0] != 0)
    return reportInputError(ctx, InputError::ColumnsNotMultiple, ctx.nDcov, "dropout covariate",
                            ctx.nPeriods[0], 1);
  if (ctx.nPlotTcov > ctx.nTcov[0])
    return reportInputError(ctx, InputError::PlotCovariateCount, ctx.nPlotTcov, ctx.nTcov[0]);
  if (ctx.nDropoutOrder > 1 && ctx.nDropoutOrder != ctx.nGroups[0])
    return reportInputError(ctx, InputError::OrderCount, ctx.nDropoutOrder, "dropout orders", ctx.nGroups[0], 1);
  if (ctx.nReOrder > 1 && ctx.nReOrder != ctx.nGroups[0])
    return reportInputError(ctx, InputError::OrderCount, ctx.nReOrder, "random-effects orders", ctx.nGroups[0], 1);
  if (ctx.hasRefGroup[0] && ctx.refGroup[0] > ctx.nGroups[0])
    return reportInputError(ctx, InputError::ReferenceGroup, ctx.refGroup[0], ctx.nGroups[0]);
  if (int rc = checkJointOptions(ctx)) return rc;
  if (int rc = checkRandomEffectsCombination(ctx)) return rc;
  return 0;
}

int checkRandomEffectsCombination(ModelContext& ctx) {
  if (ctx.nReOrder <= 0) return 0;
  if (decodeModelKind(ctx.modelName[0]) != kCnorm)
    return reportInputError(ctx, InputError::RandomEffectsNotCnorm, ctx.modelName[0].c_str());
  // Only the censored normal model of one trajectory has a random-effects
  // likelihood; with any of these the option would be silently ignored.
  const char* other = ctx.nDropoutOrder > 0       ? "a dropout model"
                      : ctx.hasOutcome            ? "an outcome analysis"
                      : ctx.isMultModel           ? "a multi-trajectory model"
                      : modelPresent(ctx, 1)      ? "a joint model"
                                                  : nullptr;
  if (other != nullptr) return reportInputError(ctx, InputError::RandomEffectsCombined, other);
  return 0;
}

int readOrderMatrices(ModelContext& ctx) {
  const char* orderNames[] = {"kurv_mat_order1", "kurv_mat_order2", "kurv_mat_order3"};
  const char* inflNames[] = {"kurv_mat_iorder1", "kurv_mat_iorder2", "kurv_mat_iorder3"};
  for (int m = 0; m < kMaxModels; ++m) {
    if (int rc = readList(ctx, orderNames[m], ctx.nGroups[m], ctx.polyOrder[m])) return rc;
    if (int rc = readList(ctx, inflNames[m], ctx.nInflOrder[m], ctx.inflOrder[m])) return rc;
  }
  if (int rc = readList(ctx, "kurv_mat_dropoutorder1", ctx.nDropoutOrder, ctx.dropoutOrder)) return rc;
  if (int rc = readList(ctx, "kurv_mat_rorder1", ctx.nReOrder, ctx.reOrder)) return rc;
  return 0;
}

int checkDataVariables(ModelContext& ctx, int nDataVars) {
  if (ctx.host->observationCount() < 1 || nDataVars < 1) return 0;
  double value = 0.0;
  if (ctx.host->readVariable(nDataVars, 1, &value) != 0)
    return reportInputError(ctx, InputError::MissingVariables, nDataVars);
  return 0;
}

int checkMemoryNeed(ModelContext& ctx, double bytes) {
  const long pages = sysconf(_SC_PHYS_PAGES);
  const long pageSize = sysconf(_SC_PAGE_SIZE);
  if (pages <= 0 || pageSize <= 0) return 0;  // unknown: let the allocation decide
  const double physical = static_cast<double>(pages) * static_cast<double>(pageSize);
  if (bytes > physical) return reportInputError(ctx, InputError::OutOfMemory);
  return 0;
}

int validateOrders(ModelContext& ctx) {
  struct List {
    const char* what;
    int model;
    const std::vector<double>* values;
  };
  const List lists[] = {
      {"polynomial order of group", 1, &ctx.polyOrder[0]},
      {"polynomial order of group", 2, &ctx.polyOrder[1]},
      {"polynomial order of group", 3, &ctx.polyOrder[2]},
      {"zero-inflation order", 1, &ctx.inflOrder[0]},
      {"zero-inflation order", 2, &ctx.inflOrder[1]},
      {"zero-inflation order", 3, &ctx.inflOrder[2]},
      {"dropout order", 1, &ctx.dropoutOrder},
      {"random-effects order", 1, &ctx.reOrder},
  };
  for (const auto& list : lists) {
    for (std::size_t j = 0; j < list.values->size(); ++j) {
      const double order = (*list.values)[j];
      if (!orderInRange(order))
        return reportInputError(ctx, InputError::OrderOutOfRange, list.what, static_cast<int>(j) + 1,
                                list.model, order);
    }
  }
  // A group without a trajectory has no meaning in a joint model.
  for (int m = 0; m < 2 && isJointRun(ctx); ++m)
    for (std::size_t g = 0; g < ctx.polyOrder[m].size(); ++g)
      if (std::trunc(ctx.polyOrder[m][g]) == -1.0)
        return reportInputError(ctx, InputError::JointGroupWithoutTrajectory, static_cast<int>(g) + 1, m + 1);
  return 0;
}

}  // namespace kurv
