#pragma once
// The log-domain evaluation of the single-trajectory mixture, shared by its
// likelihood and its gradient.
//
// For subject i and group k the log group term is
//   ln G_ik = ln pi_k(i) + sum_j ln f_kij + sum_j ln D_kij,
// a sum of per-cell log densities (models/log_densities.h) and log dropout
// factors; ln S_i = ln sum_k G_ik by log-sum-exp, the posteriors are
// exp(ln G_ik - ln S_i), and with an outcome analysis ln L_i = ln S_i + ln O_i.
// While it adds the cells the likelihood also adds their slopes times their
// regressors: the derivatives of ln G_ik with respect to the group's own
// parameters (trajectory block, ln sigma, zero-inflation block, dropout
// block), kept per subject and group. The gradient is then
//   d ln L_i = sum_k a_ik d ln G_ik + membership and outcome terms,
// with a_ik the posterior (times the outcome analysis's factor): it costs
// O(subjects x groups x block size) and recomputes no density.
//
// Subjects are evaluated in fixed chunks (core/parallel_for.h); each chunk
// keeps its own partial sums, combined in chunk order.

#include <vector>

#include "core/model_context.h"

namespace kurv {

// One group's parameters as the kernel reads them.
struct SingleGroupPlan {
  int order = -1;            // trajectory order (-1: no trajectory)
  int nCovariates = 0;       // time-varying covariates of the trajectory
  int trajectory = 0;        // first trajectory coefficient
  int inflOrder = -1;        // zero-inflation order (-1: none)
  int zeroInflation = 0;     // first zero-inflation coefficient
  int dropoutOrder = -1;     // dropout order (-1: no dropout factor)
  int dropout = 0;           // first dropout coefficient
  bool zeroOnly = false;     // the group of subjects who never show a nonzero count
  int membership = -1;       // first membership parameter (-1: the reference group)
  // Score slots of the group: offset into the subject's score row, and the
  // parameter each slot belongs to (scoreSlot of the plan).
  int scoreOffset = 0;
  int nScores = 0;
  int sigmaSlot = -1;         // offset of the ln sigma slot within the group's slots
  int inflSlot = -1;          // first zero-inflation slot
  int dropoutSlot = -1;       // first dropout slot
};

struct SinglePlan {
  int model = 0;  // 0: model 1; 1: model 2 of a joint run; 1, 2: multi-trajectory components
  int kind = 0;
  int nGroups = 0;
  int nPeriods = 0;
  int nPowers = 0;
  int nRisk = 0;
  int nDcov = 0;
  bool hasDropout = false;
  bool hasOutcome = false;
  double logSigma = 0.0, sigma = 0.0, invSigma = 0.0;  // CNORM
  double lower = 0.0, upper = 0.0;                      // CNORM censoring bounds
  std::vector<SingleGroupPlan> groups;
  std::vector<int> scoreSlot;   // parameter index of every score slot
  int nScores = 0;              // slots per subject
  std::vector<double> logPi;    // ln pi_k without risk factors
  std::vector<double> pi;       // pi_k without risk factors
  // Outcome analysis: constant of each group, the extra parameter's index.
  std::vector<int> outcomeConstant;
  int outcomeExtra = -1;
  double sigmaO = 0.0, omegaO = 0.0;
  std::size_t chunk = 1;        // subjects per chunk
  int nChunks = 0;
};

// The plan of an evaluation at x (counts, block starts and slots from the
// layout and the tables, scale and membership probabilities from x).
SinglePlan singlePlan(const ModelContext& ctx, const double* x);

// The trajectory part of a plan for model m alone (kind, scale, censoring
// bounds, each group's trajectory and zero-inflation blocks and their score
// slots; no dropout, membership or outcome), for the families that combine
// several models' group terms (joint and multi-trajectory runs).
SinglePlan trajectoryPlan(const ModelContext& ctx, const double* x, int m);

// Adds the usable cells of group k of subject i under the plan's model:
// returns sum_j ln f_kij and adds the slopes times their regressors into
// the group's slots of `score` (a row of the plan's nScores doubles, from
// its first slot). Thread-safe: reads the run record only.
double addGroupCells(const SinglePlan& plan, const ModelContext& ctx, const double* x, int k, int i,
                     double* score);

// ln pi_k(i) for every group into logPi (nGroups doubles): the plan's values
// without risk factors, else the multinomial logit with subject i's risk
// values (clamped predictors, as computeMembershipProbabilities).
void subjectLogMembership(const SinglePlan& plan, const ModelContext& ctx, const double* x, int i,
                          double* logPi);

// The run's worker pool, made on first use with ctx.nThreads threads.
WorkerPool& singlePool(ModelContext& ctx);

}  // namespace kurv
