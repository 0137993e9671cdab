#include "engine/multi_checks.h"

namespace kurv {

int checkMultiTrajectoryOptions(ModelContext& ctx) {
  if (!ctx.isMultModel) return 0;
  struct Refusal {
    bool applies;
    const char* text;
  };
  const Refusal refusals[] = {
      {ctx.nRisk[0] > 0 || ctx.nRisk[1] > 0,
       "Risk factors cannot be used in a multi-trajectory model: its shared membership has none.\n"},
      // The reference group is given 1-based; 0 and 1 both mean the first.
      {ctx.hasRefGroup[0] && ctx.refGroup[0] > 1,
       "A reference group cannot be chosen in a multi-trajectory model: the first group is the reference.\n"},
      {ctx.nDropoutOrder > 0 || ctx.nDcov > 0 || ctx.hasDropoutExempt,
       "A dropout model cannot be used in a multi-trajectory model.\n"},
      {ctx.hasOutcome, "An outcome analysis cannot be used in a multi-trajectory model.\n"},
      {ctx.nExposure[2] > 0 || ctx.nTcov[2] > 0,
       "The third component of a multi-trajectory model takes no exposure or time-varying covariate "
       "columns.\n"},
  };
  for (const Refusal& r : refusals) {
    if (!r.applies) continue;
    ctx.host->error(r.text);
    return kHostErrorCode;
  }
  return 0;
}

}  // namespace kurv
