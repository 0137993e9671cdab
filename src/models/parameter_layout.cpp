#include "models/parameter_layout.h"

namespace kurv {

int trajectoryBlockSize(const ModelContext& ctx, int m, int g) {
  const int order = orderValue(ctx.polyOrder[m][g]);
  return order + 1 + (order + 1 > 0 ? ctx.tcovPerPeriod[m] : 0);
}

int dropoutBlockSize(const ModelContext& ctx, int b) {
  const int order = orderValue(ctx.dropoutOrder[b]);
  return order + 1 + (ctx.nDcov > 0 && order != -1 ? ctx.dcovPerPeriod : 0);
}

int trajectoryParamCount(const ModelContext& ctx, int m) {
  int count = 0;
  for (int g = 0; g < ctx.nGroups[m]; ++g) count += trajectoryBlockSize(ctx, m, g);
  return count;
}

int dropoutParamCount(const ModelContext& ctx) {
  if (ctx.nDropoutOrder <= 0) return 0;
  const int blocks = ctx.nDropoutOrder > 1 ? ctx.nGroups[0] : 1;
  int count = 0;
  for (int b = 0; b < blocks; ++b) count += dropoutBlockSize(ctx, b);
  return count;
}

int zeroInflationParamCount(const ModelContext& ctx, int m) {
  if (ctx.nInflOrder[m] <= 0) return 0;
  if (ctx.singleInflOrder[m]) return orderValue(ctx.inflOrder[m][0]) + 1;
  int count = 0;
  for (int g = 0; g < ctx.nGroups[m]; ++g) count += orderValue(ctx.inflOrder[m][g]) + 1;
  return count;
}

int randomEffectsParamCount(const ModelContext& ctx) {
  if (!ctx.hasRandomEffects || ctx.modelKind[0] != kCnorm) return 0;
  int count = orderValue(ctx.reOrder[0]) + 1;
  if (ctx.nReOrder > 1)
    for (int g = 1; g < ctx.nGroups[0]; ++g) count += orderValue(ctx.reOrder[g]) + 1;
  return count;
}

void layoutParameters(ModelContext& ctx) {
  ctx.scaleIndex = {-1, -1, -1};
  if (ctx.isMultModel) {
    int p = 0;
    for (int m = 0; m < ctx.nModels; ++m) {
      ctx.paramStart[m] = p;
      p += trajectoryParamCount(ctx, m);
      if (ctx.modelKind[m] == kCnorm) ctx.scaleIndex[m] = p++;
      ctx.zipStart[m] = p;
      p += zeroInflationParamCount(ctx, m);
      ctx.paramEnd[m] = ctx.paramStart[m] + ctx.nModelParams[m];
      p = ctx.paramEnd[m];
    }
    ctx.multThetaStart = ctx.nParams;
    ctx.nParams += ctx.nGroups[0] - 1;
    return;
  }

  int p = 0;
  ctx.paramStart[0] = 0;
  p += trajectoryParamCount(ctx, 0);
  ctx.dropoutStart = p;
  p += dropoutParamCount(ctx);
  if (ctx.modelKind[0] == kCnorm) ctx.scaleIndex[0] = p++;
  ctx.reStart = p;
  p += randomEffectsParamCount(ctx);
  ctx.zipStart[0] = p;
  p += zeroInflationParamCount(ctx, 0);
  ctx.thetaStart = p;
  p += (ctx.nGroups[0] - 1) * (ctx.nRisk[0] + 1);
  ctx.outcomeStart = p;
  p += ctx.hasOutcome ? ctx.nOutcomeParams : 0;
  ctx.paramEnd[0] = p;

  if (ctx.nModels > 1 && ctx.nGroups[1] > 0) {
    ctx.paramStart[1] = p;
    p += trajectoryParamCount(ctx, 1);
    if (ctx.modelKind[1] == kCnorm) ctx.scaleIndex[1] = p++;
    ctx.zipStart[1] = p;
    p += zeroInflationParamCount(ctx, 1);
    ctx.jointThetaStart = p;
    p += (ctx.nGroups[0] + ctx.nRisk[1]) * (ctx.nGroups[1] - 1);
    ctx.paramEnd[1] = p;
  }
}

int expectedStartValueCount(const ModelContext& ctx) {
  int count = ctx.nParams;
  if (ctx.nGroups[0] > 1 && ctx.nRisk[0] == 0) count += 1;
  if (!ctx.isMultModel && ctx.nGroups[1] > 0 && ctx.nRisk[1] == 0) count += ctx.nGroups[0];
  return count;
}

}  // namespace kurv
