#include "engine/prepare_run.h"

#include <algorithm>
#include <cstring>

#include "engine/input_checks.h"
#include "models/parameter_layout.h"
#include "core/text_format.h"

#ifndef KURV_BUILD_DATE
#define KURV_BUILD_DATE "unknown date"
#endif
#ifndef KURV_VERSION
#define KURV_VERSION "0"
#endif

namespace kurv {

namespace {

constexpr int kMacroCapacity = 4096;
constexpr int kNameWidth = 12;

// Splits a host macro at blanks into names cut to 12 characters; only the
// first `count` words are kept.
std::vector<std::string> readNameList(ModelContext& ctx, const char* macro, int count) {
  std::vector<std::string> names;
  if (count <= 0) return names;
  std::vector<char> buffer(kMacroCapacity, '\0');
  ctx.host->macroUse(macro, buffer.data(), kMacroCapacity);
  buffer[kMacroCapacity - 1] = '\0';
  const char* p = buffer.data();
  while (static_cast<int>(names.size()) < count) {
    while (*p == ' ' || *p == '\t' || *p == '\n') ++p;
    if (*p == '\0') break;
    const char* q = p;
    while (*q != '\0' && *q != ' ' && *q != '\t' && *q != '\n') ++q;
    names.emplace_back(p, std::min<std::ptrdiff_t>(q - p, kNameWidth));
    p = q;
  }
  // Fewer words than variables: the missing names are blank.
  names.resize(static_cast<std::size_t>(count));
  return names;
}

Matrix zeroMatrix(int rows, int nObs) {
  return Matrix(static_cast<std::size_t>(std::max(rows, 0)), std::vector<double>(static_cast<std::size_t>(nObs), 0.0));
}

// Outcome-analysis kind and parameter count, by prefix in this order.
bool decodeOutcomeModel(ModelContext& ctx) {
  const std::string& name = ctx.omodelName;
  const int groups = ctx.nGroups[0];
  if (name.compare(0, 3, "zip") == 0) {
    ctx.omodelKind = 3;
    ctx.nOutcomeParams = groups + 1;
  } else if (name.compare(0, 7, "poisson") == 0) {
    ctx.omodelKind = 3;
    ctx.nOutcomeParams = groups;
  } else if (name.compare(0, 5, "cnorm") == 0 || name.compare(0, 6, "normal") == 0) {
    ctx.omodelKind = 1;
    ctx.nOutcomeParams = groups + 1;
  } else if (name.compare(0, 5, "logit") == 0) {
    ctx.omodelKind = 2;
    ctx.nOutcomeParams = groups;
  } else {
    return false;
  }
  ctx.nOutcomeParams += ctx.nOutcomeCovariates * groups;
  // A zip outcome model carries its zero-inflation constant after the group
  // constants.
  ctx.outcomeHasZeroInflation = name.compare(0, 3, "zip") == 0;
  return true;
}

void allocateSubjectArrays(ModelContext& ctx) {
  const int n = ctx.nObs;
  for (int m = 0; m < kMaxModels; ++m) {
    const int T = ctx.nPeriods[m];
    ctx.outcomeY[m] = zeroMatrix(T, n);
    ctx.timeT[m] = zeroMatrix(T, n);
    ctx.risk[m] = zeroMatrix(ctx.nRisk[m], n);
    ctx.exposure[m] = zeroMatrix(ctx.nExposure[m], n);
    ctx.tcov[m] = zeroMatrix(ctx.nTcov[m], n);
    ctx.meanTime[m].assign(static_cast<std::size_t>(T), 0.0);
    ctx.periodN[m].assign(static_cast<std::size_t>(T), 0.0);
    ctx.membershipProb[m].assign(static_cast<std::size_t>(ctx.nGroups[m]), 0.0);
  }
  ctx.dcov = zeroMatrix(ctx.nDcov, n);
  ctx.weight.assign(static_cast<std::size_t>(n), 1.0);
  ctx.outcomeValue.assign(static_cast<std::size_t>(n), 0.0);
  ctx.dropoutExempt.assign(static_cast<std::size_t>(n), 0);
  ctx.excluded.assign(static_cast<std::size_t>(n), 0);
  ctx.included.assign(static_cast<std::size_t>(n), 0);
  ctx.firstPeriod.assign(static_cast<std::size_t>(n), 0);
  ctx.lastPeriod.assign(static_cast<std::size_t>(n), 0);

  const std::size_t G = static_cast<std::size_t>(ctx.nGroups[0]);
  const std::size_t T = static_cast<std::size_t>(ctx.nPeriods[0]);
  ctx.periodSigma.assign(T, 0.0);
  // The single-trajectory model keeps log-domain sums instead of per-cell
  // densities (models/single_likelihood.cpp): of the (group, subject,
  // period) arrays it needs only the dropout factors, and only with a
  // dropout model.
  const bool perCellDensities = ctx.isMultModel || ctx.isJointModel() || ctx.hasRandomEffects;
  if (perCellDensities) ctx.periodDensity.assign(G * n * T, 0.0);
  if (perCellDensities || ctx.nDropoutOrder > 0) ctx.dropoutFactorStore.assign(G * n * T, 0.0);
  ctx.dropoutTerm.assign(G * n, 0.0);
  ctx.groupTerm.assign(G * n, 0.0);
  ctx.outcomeTerm.assign(static_cast<std::size_t>(n), 0.0);
  ctx.subjectLik.assign(static_cast<std::size_t>(n), 0.0);
  if (ctx.isMultModel) ctx.multMembershipProb.assign(G, 0.0);
}

}  // namespace

int prepareRun(ModelContext& ctx) {
  Host& host = *ctx.host;
  host.display(" \n");
  host.display(formatText("kurv trajectory models, version %s, built %s\n", KURV_VERSION, KURV_BUILD_DATE).c_str());

  ctx.currentModel = 0;
  ctx.nSubjects = 0;
  ctx.nObs = std::max(host.observationCount(), 0);
  ctx.nModels = 1 + (ctx.modelPresent[1] ? 1 : 0) + (ctx.modelPresent[2] ? 1 : 0);

  // Options that only model 1 supports.
  for (int m = 1; m < kMaxModels; ++m) {
    ctx.nExposure[m] = 0;
    ctx.refGroup[m] = 0;
    ctx.hasRefGroup[m] = false;
  }

  if (ctx.hasRefGroup[0]) {
    ctx.refGroup[0] -= 1;
    if (ctx.refGroup[0] < 1) ctx.hasRefGroup[0] = false;
  }
  if (!ctx.hasRefGroup[0]) ctx.refGroup[0] = 0;

  ctx.riskNames[0] = readNameList(ctx, "_risk1", ctx.nRisk[0]);
  ctx.riskNames[1] = readNameList(ctx, "_risk2", ctx.nRisk[1]);
  ctx.tcovNames = readNameList(ctx, "_tcov1", ctx.nTcov[0]);
  ctx.dcovNames = readNameList(ctx, "_dcov1", ctx.nDcov);

  for (int m = 0; m < kMaxModels; ++m) ctx.singleInflOrder[m] = ctx.nInflOrder[m] == 1 ? 1 : 0;
  if (ctx.isMultModel) {
    ctx.multNGroups = ctx.nGroups[0];
    ctx.multRefGroup = 0;
    ctx.multNRisk = 0;
  }

  for (int m = 0; m < kMaxModels; ++m)
    ctx.tcovPerPeriod[m] = ctx.nTcov[m] > 0 ? ctx.nTcov[m] / ctx.nPeriods[m] : 0;
  ctx.dcovPerPeriod = ctx.nDcov > 0 ? ctx.nDcov / ctx.nPeriods[0] : 0;
  allocateSubjectArrays(ctx);

  for (int m = 0; m < ctx.nModels; ++m) {
    ctx.modelKind[m] = std::max(decodeModelKind(ctx.modelName[m]), 0);
    ctx.nModelParams[m] = 0;
    if (m == 0 && ctx.hasOutcome) {
      if (!decodeOutcomeModel(ctx)) return reportInputError(ctx, InputError::OutcomeModelName);
      ctx.nModelParams[0] += ctx.nOutcomeParams;
    }
    ctx.nModelParams[m] += trajectoryParamCount(ctx, m);
    if (m == 0) ctx.nModelParams[m] += dropoutParamCount(ctx);
    if (ctx.modelKind[m] == kCnorm) ctx.nModelParams[m] += 1;
    ctx.nModelParams[m] += zeroInflationParamCount(ctx, m);
  }
  ctx.nModelParams[0] += randomEffectsParamCount(ctx);

  if (!ctx.isMultModel) {
    ctx.nModelParams[0] += (ctx.nGroups[0] - 1) * (ctx.nRisk[0] + 1);
    if (ctx.nGroups[1] > 0) ctx.nModelParams[1] += (ctx.nGroups[0] + ctx.nRisk[1]) * (ctx.nGroups[1] - 1);
    ctx.nParams = ctx.nModelParams[0] + ctx.nModelParams[1];
  } else {
    ctx.nParams = 0;
    for (int m = 0; m < ctx.nModels; ++m) ctx.nParams += ctx.nModelParams[m];
  }
  return 0;
}

int dataVariableCount(const ModelContext& ctx) {
  if (ctx.isMultModel) {
    int count = ctx.hasWeights ? 1 : 0;
    for (int m = 0; m < ctx.nModels; ++m) count += 2 * ctx.nPeriods[m] + ctx.nExposure[m] + ctx.nTcov[m];
    return count;
  }
  return 2 * (ctx.nPeriods[0] + ctx.nPeriods[1]) + ctx.nExposure[0] + ctx.nExposure[1] + ctx.nTcov[0] +
         ctx.nTcov[1] + ctx.nRisk[0] + ctx.nRisk[1] + ctx.nDcov + (ctx.hasOutcome ? 1 : 0) +
         (ctx.hasDropoutExempt ? 1 : 0) + (ctx.hasWeights ? 1 : 0);
}

void allocateFitWork(ModelContext& ctx) {
  const std::size_t n = static_cast<std::size_t>(ctx.nParams);
  ctx.derivativeWork.assign(n, 0.0);
  ctx.derivativeWork2.assign(n, 0.0);
  ctx.subjectScore.assign(n, 0.0);
  ctx.scoreOuterSum.assign(n * n, 0.0);
  ctx.covariance.assign(n * n, 0.0);
  ctx.stdErrors.assign(n, 0.0);
  ctx.estimates.assign(n + 1, 0.0);
  ctx.startDisplay.assign(n + 1 + static_cast<std::size_t>(ctx.nGroups[0]), 0.0);
  ctx.outVarsText.clear();
  ctx.outVarsText.reserve(33 * n);
  const std::size_t G = static_cast<std::size_t>(std::max({ctx.nGroups[0], ctx.nGroups[1], 1}));
  ctx.groupPct.assign(G, 0.0);
  ctx.groupPctSe.assign(G, 0.0);
  ctx.outcomeGroupMean.assign(G, 0.0);
  ctx.outcomeGroupLower.assign(G, 0.0);
  ctx.outcomeGroupUpper.assign(G, 0.0);
}

}  // namespace kurv
