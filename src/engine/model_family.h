#pragma once
// Model families: how each kind of model is evaluated and reported. The run
// driver chooses the family of a run once, in this order of precedence: a
// censored normal model with random-effects orders, a multi-trajectory run,
// a joint run (a second model with groups), else the single-trajectory
// model. Every later phase asks the chosen family instead of testing the
// kind of run again.

#include "core/evaluation.h"
#include "core/model_context.h"

namespace kurv {

enum class FamilyKind { RandomEffects, MultiTrajectory, Joint, SingleTrajectory };

struct ModelFamily {
  FamilyKind kind;
  const char* name;                // as the run's messages name it
  LikelihoodCallback likelihood;
  GradientCallback gradient;       // analytic gradient (and weighted scores); null: none
  // True when the fit must use differences of function values even though an
  // analytic gradient exists (for example an outcome analysis, whose
  // posterior weights the gradient does not differentiate).
  bool (*differencesOnly)(const ModelContext& ctx);
  void (*printEstimates)(ModelContext& ctx);  // the estimates table
  void (*writeResults)(ModelContext& ctx);    // host matrices, posteriors, plot series
};

// The family of a run by the precedence above.
FamilyKind familyOf(const ModelContext& ctx);

// The family's functions; null for a family this version cannot fit yet.
const ModelFamily* modelFamily(FamilyKind kind);

// The name of a family in the run's messages ("Joint", ...).
const char* familyName(FamilyKind kind);

}  // namespace kurv
