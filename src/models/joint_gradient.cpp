// Gradient of -sum_i w_i ln L_i for the joint model.
//
// For subject i let P_jk be the posterior of the pair (model-1 group j,
// model-2 group k), p1_j = sum_k P_jk and p2_k = sum_j P_jk the posteriors
// of each model's groups, and T1_j, T2_k the products of each model's
// measurement densities:
//  - a trajectory, scale or zero-inflation parameter of model-1 group j
//    enters only T1_j: d ln L = p1_j d ln T1_j;
//  - one of model-2 group k enters only T2_k: d ln L = p2_k d ln T2_k;
//    d ln T is the sum over the cells of the slopes of their log densities
//    times their regressors, which the likelihood added while it evaluated
//    the cells (the group scores, models/single_kernel.h);
//  - model 1's membership constant of group h (times a risk value for its
//    risk coefficients): d ln L = p1_h - pi_h;
//  - model 2's conditional constant of group g given j:
//    d ln L = P_jg - pi_{g|j} p1_j, from the softmax derivative
//    d pi_{k|j} / d c_{g|j} = pi_{k|j} (delta_kg - pi_{g|j});
//  - model 2's risk coefficient r of group g, shared by every j:
//    d ln L = v_r sum_j (P_jg - pi_{g|j} p1_j).
// Only posteriors and slopes enter, so nothing underflows over long series,
// and the gradient costs O(subjects x groups x block size) on top of the
// likelihood.
//
// Subjects run in the likelihood's fixed chunks; each chunk sums its own
// gradient (and, with weights, its score outer products), and the chunks
// are added in order, so the bits do not depend on the number of threads.

#include "models/joint_gradient.h"

#include <algorithm>
#include <cmath>

#include "models/gradient_sink.h"
#include "models/joint_kernel.h"
#include "models/joint_likelihood.h"
#include "models/parameter_trace.h"
#include "models/subject_chunks.h"

namespace kurv {

namespace {

inline constexpr const char* kJointGradientRowFormat = " %12.6f %12.6f %12.6f %12.6f %12.6f %12.6f";

// Work of one subject's share, sized once per chunk.
struct SubjectWork {
  std::vector<double> post1, post2, pi, shared;
  SubjectWork(int G1, int G2) : post1(G1), post2(G2), pi(std::max(G1, G2)), shared(G2) {}
};

// -a times the group's slopes: a posterior-weighted group score.
void addGroupScore(const SinglePlan& plan, int k, const double* row, double a, GradientSink& sink) {
  if (a == 0.0) return;  // a pair of posterior 0 moves nothing
  const SingleGroupPlan& g = plan.groups[k];
  const double* s = row + g.scoreOffset;
  const int* slot = plan.scoreSlot.data() + g.scoreOffset;
  for (int q = 0; q < g.nScores; ++q) sink.add(slot[q], -a * s[q]);
}

void subjectGradient(const JointPlan& P, const double* x, const ModelContext& c, int i, SubjectWork& w,
                     GradientSink& sink) {
  const int G1 = c.nGroups[0];
  const int G2 = c.nGroups[1];
  const double weight = c.weight[i];
  std::fill(w.post2.begin(), w.post2.end(), 0.0);
  for (int j = 0; j < G1; ++j) {
    double p = 0.0;
    for (int k = 0; k < G2; ++k) {
      const double pair = c.jointPosterior[jointCell(c, j, k, i)];
      p += pair;
      w.post2[k] += pair;
    }
    w.post1[j] = p;
  }
  // Group scores of both models.
  const double* row = c.groupScore.data() + static_cast<std::size_t>(i) * P.nScores;
  for (int j = 0; j < G1; ++j) addGroupScore(P.model1, j, row, weight * w.post1[j], sink);
  for (int k = 0; k < G2; ++k) addGroupScore(P.model2, k, row + P.model1.nScores, weight * w.post2[k], sink);

  // Model 1's membership.
  jointLogMembership(P, c, x, i, w.pi.data());
  const double* risk1 = P.nRisk1 > 0 ? c.measurementTables.riskValue.data() + static_cast<std::size_t>(i) * P.nRisk1 : nullptr;
  for (int h = 0; h < G1; ++h) {
    const int b = P.membership1[h];
    if (b < 0) continue;  // the reference group
    const double d = weight * (std::exp(w.pi[h]) - w.post1[h]);
    sink.add(b, d);
    for (int r = 0; r < P.nRisk1; ++r) sink.add(b + 1 + r, d * risk1[r]);
  }

  // Model 2's conditional constants and its shared risk coefficients.
  std::fill(w.shared.begin(), w.shared.end(), 0.0);
  for (int j = 0; j < G1; ++j) {
    conditionalLogMembership(P, c, x, i, j, w.pi.data());
    for (int g = 0; g < G2; ++g) {
      if (P.conditional[g] < 0) continue;
      const double d = weight * (c.jointPosterior[jointCell(c, j, g, i)] - std::exp(w.pi[g]) * w.post1[j]);
      sink.subtract(P.blockStart[j] + P.conditional[g], d);
      w.shared[g] += d;
    }
  }
  if (P.nRisk2 == 0) return;
  const double* risk2 = &P.risk2[static_cast<std::size_t>(i) * P.nRisk2];
  for (int g = 0; g < G2; ++g) {
    if (P.risk2Start[g] < 0) continue;
    for (int r = 0; r < P.nRisk2; ++r) sink.subtract(P.risk2Start[g] + r, w.shared[g] * risk2[r]);
  }
}

}  // namespace

int jointModelDerivative(int n, const double* x, int*, double* g, ModelContext* ctx) {
  ModelContext& c = *ctx;
  Host& host = *c.host;
  if (c.debugTrace) {
    host.standardOutput("jointModelDerivative\n");
    traceVector(host, n, x, kTraceRowFormat);
  }
  const JointPlan P = jointPlan(c, x);
  if (c.groupScore.size() != static_cast<std::size_t>(c.nObs) * P.nScores ||
      c.subjectLogLik.size() != static_cast<std::size_t>(c.nObs) ||
      c.jointPosterior.size() != static_cast<std::size_t>(c.nGroups[0]) * c.nGroups[1] * c.nObs) {
    // Not preceded by a likelihood evaluation of this run: make one.
    double f = 0.0;
    jointModelLogLikelihood(n, x, &f, ctx);
  }
  const SinglePlan& chunks = P.model1;
  sumSubjectGradients<SubjectWork>(
      c, singlePool(c), n, chunks.nChunks, chunks.chunk, g, [&c] { return SubjectWork(c.nGroups[0], c.nGroups[1]); },
      [&](int i, SubjectWork& work, GradientSink& sink) { subjectGradient(P, x, c, i, work, sink); });

  if (c.debugTrace) {
    host.standardOutput("jointModelDerivative\n");
    traceVector(host, n, g, kJointGradientRowFormat);
  }
  return 0;
}

}  // namespace kurv
