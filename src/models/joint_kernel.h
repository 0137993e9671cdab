#pragma once
// The log-domain evaluation of the joint model, shared by its likelihood and
// its gradient.
//
// For subject i, model-1 group j and model-2 group k the pair term is
//   ln P_ijk = ln pi_j(i) + ln pi_{k|j}(i) + ln T1_ij + ln T2_ik,
// T1 and T2 the products of each model's measurement densities, each a sum
// of per-cell log densities (models/single_kernel.h, which also adds the
// slopes of ln T1_ij and ln T2_ik with respect to the group's own
// parameters). ln L_i = ln sum_jk P_ijk by log-sum-exp, and the posterior of
// the pair is exp(ln P_ijk - ln L_i).

#include <vector>

#include "core/model_context.h"
#include "models/single_kernel.h"

namespace kurv {

struct JointPlan {
  SinglePlan model1, model2;       // each model's trajectories
  int nScores = 0;                 // score slots per subject: model 1's, then model 2's
  int ref1 = 0, ref2 = 0;          // reference groups
  int nRisk1 = 0, nRisk2 = 0;
  std::vector<int> membership1;    // [j] constant of model-1 group j (-1: the reference)
  std::vector<double> logPi1;      // [j] ln pi_j without risk factors
  std::vector<int> blockStart;     // [j] first conditional constant given model-1 group j
  std::vector<int> conditional;    // [k] place of model-2 group k in a block (-1: the reference)
  std::vector<int> risk2Start;     // [k] first shared risk coefficient of model-2 group k (-1: none)
  std::vector<double> risk2;       // [i*nRisk2+r] model-2 risk values, 0 where missing
};

// The plan of an evaluation at x, made on the calling thread (it reads the
// host's missing-value test for model 2's risk values).
JointPlan jointPlan(const ModelContext& ctx, const double* x);

// ln pi_j(i) of every model-1 group into logPi (nGroups[0] values).
void jointLogMembership(const JointPlan& plan, const ModelContext& ctx, const double* x, int i, double* logPi);

// ln pi_{k|j}(i) of every model-2 group given model-1 group j into logPi
// (nGroups[1] values).
void conditionalLogMembership(const JointPlan& plan, const ModelContext& ctx, const double* x, int i, int j,
                              double* logPi);

}  // namespace kurv
