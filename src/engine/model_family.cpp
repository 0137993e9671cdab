#include "engine/model_family.h"

#include "engine/results_to_host.h"
#include "models/single_gradient.h"
#include "models/single_likelihood.h"
#include "randomeffects/random_effects_likelihood.h"
#include "report/estimates_table.h"

namespace kurv {

namespace {

bool singleNeedsDifferences(const ModelContext& ctx) { return ctx.hasOutcome; }

constexpr ModelFamily kSingleTrajectory{FamilyKind::SingleTrajectory, "Single-trajectory",
                                        singleModelLogLikelihood, singleModelDerivative,
                                        singleNeedsDifferences,   printEstimatesTable,
                                        writeResultsToHost};

// The random-effects model has no analytic gradient: always differences.
bool alwaysDifferences(const ModelContext&) { return true; }

constexpr ModelFamily kRandomEffects{FamilyKind::RandomEffects, "Random-effects",
                                     randomEffectsCnormLogLikelihood, nullptr,
                                     alwaysDifferences,            printEstimatesTable,
                                     writeResultsToHost};

}  // namespace

FamilyKind familyOf(const ModelContext& ctx) {
  if (ctx.hasRandomEffects && ctx.modelKind[0] == kCnorm) return FamilyKind::RandomEffects;
  if (ctx.isMultModel) return FamilyKind::MultiTrajectory;
  if (ctx.nModels > 1 && ctx.nGroups[1] > 0) return FamilyKind::Joint;
  return FamilyKind::SingleTrajectory;
}

const ModelFamily* modelFamily(FamilyKind kind) {
  if (kind == FamilyKind::RandomEffects) return &kRandomEffects;
  return kind == FamilyKind::SingleTrajectory ? &kSingleTrajectory : nullptr;
}

const char* familyName(FamilyKind kind) {
  switch (kind) {
    case FamilyKind::RandomEffects: return "Random-effects";
    case FamilyKind::MultiTrajectory: return "Multi-trajectory";
    case FamilyKind::Joint: return "Joint";
    case FamilyKind::SingleTrajectory: return "Single-trajectory";
  }
  return "";
}

}  // namespace kurv
