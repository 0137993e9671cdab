#pragma once
// The log-domain evaluation of the multi-trajectory model, shared by its
// likelihood and its gradient.
//
// For subject i and group g the group term is
//   ln G_ig = ln pi_g + sum_m ln T_mig,
// T_mig the product of component m's measurement densities under group g's
// trajectory, a sum of per-cell log densities (models/single_kernel.h, which
// also adds the slopes of ln T_mig with respect to the group's own
// parameters in component m). A group of order -1 in a component has no
// trajectory there: ln T = 0. ln L_i = ln sum_g G_ig by log-sum-exp and the
// posteriors are exp(ln G_ig - ln L_i).

#include <vector>

#include "core/model_context.h"
#include "models/single_kernel.h"

namespace kurv {

struct MultiPlan {
  std::vector<SinglePlan> components;  // each component's trajectories
  std::vector<int> offset;             // [m] first score slot of component m in a subject's row
  int nScores = 0;                     // score slots per subject
  std::vector<double> pi, logPi;       // [g] membership probabilities and their logarithms
};

// The plan of an evaluation at x. Leaves the membership probabilities in
// multMembershipProb; made on the calling thread.
MultiPlan multiPlan(ModelContext& ctx, const double* x);

}  // namespace kurv
