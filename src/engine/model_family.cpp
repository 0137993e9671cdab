#include "engine/model_family.h"

#include "engine/multi_results.h"
#include "engine/results_to_host.h"
#include "models/joint_gradient.h"
#include "models/joint_likelihood.h"
#include "models/multi_gradient.h"
#include "models/multi_likelihood.h"
#include "models/single_gradient.h"
#include "models/single_likelihood.h"
#include "randomeffects/random_effects_likelihood.h"
#include "report/estimates_table.h"
#include "report/multi_table.h"

namespace kurv {

namespace {

bool singleNeedsDifferences(const ModelContext& ctx) { return ctx.hasOutcome; }

constexpr ModelFamily kSingleTrajectory{FamilyKind::SingleTrajectory, "Single-trajectory",
                                        singleModelLogLikelihood, singleModelDerivative,
                                        singleNeedsDifferences,   printEstimatesTable,
                                        writeResultsToHost};

// The joint and multi-trajectory models are always fitted with their
// analytic gradients: the runs that would need differences (an outcome
// analysis) are refused.
bool never(const ModelContext&) { return false; }

constexpr ModelFamily kJoint{FamilyKind::Joint,         "Joint",
                             jointModelLogLikelihood,   jointModelDerivative,
                             never,                     printEstimatesTable,
                             writeResultsToHost};

constexpr ModelFamily kMultiTrajectory{FamilyKind::MultiTrajectory, "Multi-trajectory",
                                       multModelLogLikelihood,      multModelDerivative,
                                       never,                       printMultiEstimatesTable,
                                       writeMultiResultsToHost};

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
  if (kind == FamilyKind::Joint) return &kJoint;
  if (kind == FamilyKind::MultiTrajectory) return &kMultiTrajectory;
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
