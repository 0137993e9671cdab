// Joint (dual-trajectory) mixture likelihood, in the log domain.
//
// Subject i belongs to model-1 group j with probability pi_j (a multinomial
// logit with model 1's risk factors) and, given j, to model-2 group k with
// probability pi_{k|j} (a multinomial logit with one block of constants per
// model-1 group and model-2 risk coefficients shared by all of them). Given
// both groups the two outcomes are independent, so
//   L_i = sum_j sum_k pi_j pi_{k|j} T1_j T2_k,
// T1_j and T2_k the products of each model's measurement densities. Over
// many periods those products fall below the smallest double, so each is
// kept as its logarithm, a sum of per-cell log densities, and the pairs of
// groups are combined by log-sum-exp:
//   ln L_i = M + ln sum_jk exp(ln P_jk - M),  M = max_jk ln P_jk,
//   ln P_jk = ln pi_j + ln pi_{k|j} + ln T1_j + ln T2_k.
// Model 2's terms do not depend on j and are formed once per subject. The
// posterior of the pair (j, k) is exp(ln P_jk - ln L_i). An evaluation fails
// only when some ln L_i is not a finite number.
//
// Subjects are evaluated in fixed chunks on the run's worker pool
// (core/parallel_for.h); each chunk keeps its own partial sum, and the sums
// are added in chunk order, so the result has the same bits for any number
// of threads.

#include "models/joint_likelihood.h"

#include <algorithm>
#include <cfloat>
#include <cmath>

#include "core/text_format.h"
#include "models/group_blocks.h"
#include "models/joint_kernel.h"
#include "models/measurement_tables.h"
#include "models/membership.h"
#include "models/parameter_trace.h"
#include "models/subject_chunks.h"

namespace kurv {

namespace {

// Multinomial-logit log probabilities in place: eta holds the linear
// predictors (the reference group's entry is ignored and taken as 0); each
// is clamped as computeMembershipProbabilities clamps it, and
// ln pi_g = eta_g - ln(1 + sum_{h != ref} exp(eta_h)).
void logSoftmax(const ExpClamp& clamp, double* eta, int nGroups, int ref) {
  double sum = 1.0;
  for (int g = 0; g < nGroups; ++g) {
    if (g == ref) {
      eta[g] = 0.0;
      continue;
    }
    eta[g] = clamp(eta[g]);
    sum += std::exp(eta[g]);
  }
  const double logSum = std::log(sum);
  for (int g = 0; g < nGroups; ++g) eta[g] -= logSum;
}

ChunkResult evaluateChunk(const JointPlan& P, ModelContext& c, const double* x, int first, int last) {
  const int G1 = c.nGroups[0];
  const int G2 = c.nGroups[1];
  std::vector<double> logPi1(G1), logPi2(G2), logT1(G1), logT2(G2), term(static_cast<std::size_t>(G1) * G2);
  ChunkResult r;
  for (int i = first; i < last; ++i) {
    double* score = c.groupScore.data() + static_cast<std::size_t>(i) * P.nScores;
    std::fill(score, score + P.nScores, 0.0);
    jointLogMembership(P, c, x, i, logPi1.data());
    for (int k = 0; k < G2; ++k) {
      logT2[k] = addGroupCells(P.model2, c, x, k, i, score + P.model1.nScores);
      c.groupTerm2[c.gi(k, i)] = std::exp(logT2[k]);
    }
    double top = -HUGE_VAL;
    bool nan = false;
    for (int j = 0; j < G1; ++j) {
      logT1[j] = addGroupCells(P.model1, c, x, j, i, score);
      c.groupTerm[c.gi(j, i)] = std::exp(logPi1[j] + logT1[j]);
      conditionalLogMembership(P, c, x, i, j, logPi2.data());
      for (int k = 0; k < G2; ++k) {
        const double t = logPi1[j] + logPi2[k] + logT1[j] + logT2[k];
        term[static_cast<std::size_t>(j) * G2 + k] = t;
        if (std::isnan(t)) nan = true;
        top = std::max(top, t);
      }
    }
    double logL = nan ? std::nan("") : top;
    if (!nan && top > -HUGE_VAL && top < HUGE_VAL) {
      double sum = 0.0;
      // term becomes exp(ln P_jk - M), each exp taken once.
      for (double& t : term) sum += (t = std::exp(t - top));
      logL = top + std::log(sum);
      for (int j = 0; j < G1; ++j)
        for (int k = 0; k < G2; ++k)
          c.jointPosterior[jointCell(c, j, k, i)] = term[static_cast<std::size_t>(j) * G2 + k] / sum;
    }
    c.subjectLogLik[i] = logL;
    if (!std::isfinite(logL)) {
      for (int j = 0; j < G1; ++j)
        for (int k = 0; k < G2; ++k) c.jointPosterior[jointCell(c, j, k, i)] = 0.0;
      r.failed = true;
      continue;
    }
    if (c.excluded[i] == 0) r.sum += -logL * c.weight[i];
  }
  return r;
}

}  // namespace

std::vector<int> conditionalBlockStarts(const ModelContext& c) {
  std::vector<int> starts(static_cast<std::size_t>(c.nGroups[0]), c.jointThetaStart);
  if (c.nGroups[1] > 1)
    for (int j = 0; j < c.nGroups[0]; ++j) starts[j] = c.layout.find(1, BlockKind::Membership, 1, j);
  return starts;
}

void conditionalMembership(const double* x, ModelContext& c, int i, int blockStart) {
  c.currentModel = 1;
  computeMembershipProbabilities(i, blockStart, c.risk[1], x, &c);
  c.currentModel = 0;
}

JointPlan jointPlan(const ModelContext& c, const double* x) {
  JointPlan P;
  P.model1 = trajectoryPlan(c, x, 0);
  P.model2 = trajectoryPlan(c, x, 1);
  P.nScores = P.model1.nScores + P.model2.nScores;
  const int G1 = c.nGroups[0];
  const int G2 = c.nGroups[1];
  P.ref1 = referenceGroup(c, 0);
  P.ref2 = referenceGroup(c, 1);
  P.nRisk1 = std::max(c.nRisk[0], 0);
  P.nRisk2 = std::max(c.nRisk[1], 0);
  P.membership1 = c.layout.perGroup(0, BlockKind::Membership, 0, G1);
  P.membership1[P.ref1] = -1;
  if (P.nRisk1 == 0) {
    P.logPi1.assign(G1, 0.0);
    for (int j = 0; j < G1; ++j)
      if (j != P.ref1) P.logPi1[j] = x[P.membership1[j]];
    logSoftmax(c.expClamp, P.logPi1.data(), G1, P.ref1);
  }
  P.blockStart = conditionalBlockStarts(c);
  // The constants of a block are one per model-2 group but the reference,
  // in group order.
  P.conditional.assign(G2, -1);
  P.risk2Start.assign(G2, -1);
  for (int k = 0, next = 0; k < G2; ++k) {
    if (k == P.ref2) continue;
    P.conditional[k] = next++;
    if (P.nRisk2 > 0) P.risk2Start[k] = conditionalRiskStart(c, k);
  }
  if (P.nRisk2 > 0) {
    // A missing value (only an excluded subject has one) adds nothing.
    Host& host = *c.host;
    P.risk2.assign(static_cast<std::size_t>(c.nObs) * P.nRisk2, 0.0);
    for (int i = 0; i < c.nObs; ++i)
      for (int r = 0; r < P.nRisk2; ++r) {
        const double v = c.risk[1][r][i];
        if (!host.isMissing(v)) P.risk2[static_cast<std::size_t>(i) * P.nRisk2 + r] = v;
      }
  }
  return P;
}

void jointLogMembership(const JointPlan& P, const ModelContext& c, const double* x, int i, double* logPi) {
  const int G1 = c.nGroups[0];
  if (P.nRisk1 == 0) {
    std::copy(P.logPi1.begin(), P.logPi1.end(), logPi);
    return;
  }
  const double* risk = c.measurementTables.riskValue.data() + static_cast<std::size_t>(i) * P.nRisk1;
  for (int j = 0; j < G1; ++j) {
    const int b = P.membership1[j];
    if (b < 0) continue;
    double eta = x[b];
    for (int r = 0; r < P.nRisk1; ++r) eta += x[b + 1 + r] * risk[r];
    logPi[j] = eta;
  }
  logSoftmax(c.expClamp, logPi, G1, P.ref1);
}

void conditionalLogMembership(const JointPlan& P, const ModelContext& c, const double* x, int i, int j,
                              double* logPi) {
  const int G2 = c.nGroups[1];
  const double* risk = P.nRisk2 > 0 ? &P.risk2[static_cast<std::size_t>(i) * P.nRisk2] : nullptr;
  for (int k = 0; k < G2; ++k) {
    if (P.conditional[k] < 0) continue;
    double eta = x[P.blockStart[j] + P.conditional[k]];
    for (int r = 0; r < P.nRisk2; ++r) eta += x[P.risk2Start[k] + r] * risk[r];
    logPi[k] = eta;
  }
  logSoftmax(c.expClamp, logPi, G2, P.ref2);
}

void ensureJointModelArrays(ModelContext& c) {
  const std::size_t nObs = static_cast<std::size_t>(c.nObs);
  const std::size_t G1 = static_cast<std::size_t>(c.nGroups[0]);
  const std::size_t G2 = static_cast<std::size_t>(c.nGroups[1]);
  ensureSize(c.periodSigma, static_cast<std::size_t>(c.nPeriods[0]));
  ensureSize(c.groupTerm, G1 * nObs);
  ensureSize(c.groupTerm2, G2 * nObs);
  ensureSize(c.jointPosterior, G1 * G2 * nObs);
  ensureSize(c.subjectLogLik, nObs);
  for (int m = 0; m < 2; ++m)
    if (c.membershipProb[m].size() < static_cast<std::size_t>(c.nGroups[m])) c.membershipProb[m].resize(c.nGroups[m]);
}

int jointModelLogLikelihood(int n, const double* x, double* f, ModelContext* ctx) {
  ModelContext& c = *ctx;
  Host& host = *c.host;
  if (c.debugTrace) {
    host.standardOutput("jointModelLogLikelihood\n");
    traceVector(host, n, x, kTraceRowFormat);
  }
  ensureMeasurementTables(c);
  ensureJointModelArrays(c);
  c.currentModel = 0;
  const JointPlan P = jointPlan(c, x);
  ensureSize(c.groupScore, static_cast<std::size_t>(c.nObs) * P.nScores);
  // The scales are held as ln sigma.
  const double sigma1 = c.modelKind[0] == kCnorm ? P.model1.sigma : 0.0;
  std::fill(c.periodSigma.begin(), c.periodSigma.end(), sigma1);
  if (P.nRisk1 == 0)
    for (int j = 0; j < c.nGroups[0]; ++j) c.membershipProb[0][j] = std::exp(P.logPi1[j]);

  const SinglePlan& chunks = P.model1;
  const double sum = sumSubjectChunks(c, singlePool(c), chunks.nChunks, chunks.chunk,
                                      [&](int first, int last) { return evaluateChunk(P, c, x, first, last); });
  *f = sum;
  if (c.debugTrace) host.standardOutput(formatText("jointModelLogLikelihood nll=%f\n", sum).c_str());
  return 0;
}

std::vector<double> jointModelPosteriors(const ModelContext& c, int model) {
  const int G = c.nGroups[model];
  std::vector<double> post(static_cast<std::size_t>(G) * c.nObs, c.host->missingValue());
  for (int i = 0; i < c.nObs; ++i) {
    if (c.excluded[i] != 0) continue;
    for (int g = 0; g < G; ++g) {
      double p = 0.0;
      for (int h = 0; h < c.nGroups[1 - model]; ++h)
        p += c.jointPosterior[model == 0 ? jointCell(c, g, h, i) : jointCell(c, h, g, i)];
      post[c.gi(g, i)] = p;
    }
  }
  return post;
}

}  // namespace kurv
