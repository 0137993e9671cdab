// Multi-trajectory mixture likelihood, in the log domain.
//
// The group term of subject i is pi_g times the product, over the
// components, of the component's densities under group g's trajectory. Over
// many periods the products fall below the smallest double, so each group
// term is kept as its logarithm, a sum of per-cell log densities, and the
// groups are combined by log-sum-exp:
//   ln L_i = M + ln sum_g exp(ln G_ig - M),  M = max_g ln G_ig.
// The posteriors are exp(ln G_ig - ln L_i). An evaluation fails only when
// some ln L_i is not a finite number.
//
// Subjects are evaluated in fixed chunks on the run's worker pool
// (core/parallel_for.h); each chunk keeps its own partial sum, and the sums
// are added in chunk order, so the result has the same bits for any number
// of threads.

#include "models/multi_likelihood.h"

#include <algorithm>
#include <cfloat>
#include <cmath>

#include "core/text_format.h"
#include "models/measurement_tables.h"
#include "models/membership.h"
#include "models/multi_kernel.h"
#include "models/parameter_trace.h"
#include "models/subject_chunks.h"

namespace kurv {

namespace {

ChunkResult evaluateChunk(const MultiPlan& P, ModelContext& c, const double* x, int first, int last) {
  const int G = c.nGroups[0];
  const int nModels = c.nModels;
  std::vector<double> logTerm(static_cast<std::size_t>(G));
  ChunkResult r;
  for (int i = first; i < last; ++i) {
    double* score = c.groupScore.data() + static_cast<std::size_t>(i) * P.nScores;
    std::fill(score, score + P.nScores, 0.0);
    double top = -HUGE_VAL;
    bool nan = false;
    for (int g = 0; g < G; ++g) {
      double lt = P.logPi[g];
      for (int m = 0; m < nModels; ++m) {
        const SinglePlan& comp = P.components[m];
        // A group without a trajectory in this component has density 1.
        const double lc = comp.groups[g].order >= 0 ? addGroupCells(comp, c, x, g, i, score + P.offset[m]) : 0.0;
        lt += lc;
      }
      logTerm[g] = lt;
      if (std::isnan(lt)) nan = true;
      top = std::max(top, lt);
    }
    double logL = nan ? std::nan("") : top;
    if (!nan && top > -HUGE_VAL && top < HUGE_VAL) {
      double sum = 0.0;
      // logTerm becomes exp(ln G_g - M), each exp taken once.
      for (int g = 0; g < G; ++g) sum += (logTerm[g] = std::exp(logTerm[g] - top));
      logL = top + std::log(sum);
      for (int g = 0; g < G; ++g) c.groupTerm[c.gi(g, i)] = logTerm[g] / sum;
    }
    c.subjectLogLik[i] = logL;
    if (!std::isfinite(logL)) {
      for (int g = 0; g < G; ++g) c.groupTerm[c.gi(g, i)] = 0.0;
      r.failed = true;
      continue;
    }
    if (c.excluded[i] == 0) r.sum += -logL * c.weight[i];
  }
  return r;
}

}  // namespace

MultiPlan multiPlan(ModelContext& c, const double* x) {
  MultiPlan P;
  for (int m = 0; m < c.nModels; ++m) {
    P.components.push_back(trajectoryPlan(c, x, m));
    P.offset.push_back(P.nScores);
    P.nScores += P.components.back().nScores;
  }
  computeMembershipProbabilities(0, c.multThetaStart, c.risk[0], x, &c);
  const int G = c.nGroups[0];
  P.pi.assign(c.multMembershipProb.begin(), c.multMembershipProb.begin() + G);
  for (double p : P.pi) P.logPi.push_back(std::log(p));
  return P;
}

void ensureMultiModelArrays(ModelContext& c) {
  const std::size_t G = static_cast<std::size_t>(c.nGroups[0]);
  const std::size_t nObs = static_cast<std::size_t>(c.nObs);
  ensureSize(c.groupTerm, G * nObs);
  ensureSize(c.subjectLogLik, nObs);
  if (c.multMembershipProb.size() < G) c.multMembershipProb.resize(G);
}

int multModelLogLikelihood(int n, const double* x, double* f, ModelContext* ctx) {
  ModelContext& c = *ctx;
  Host& host = *c.host;
  if (c.debugTrace) {
    host.standardOutput("multModelLogLikelihood\n");
    traceVector(host, n, x, kTraceRowFormat);
  }
  ensureMeasurementTables(c);
  ensureMultiModelArrays(c);
  const MultiPlan P = multiPlan(c, x);
  c.currentModel = 0;
  if (c.groupScore.size() != static_cast<std::size_t>(c.nObs) * P.nScores)
    c.groupScore.resize(static_cast<std::size_t>(c.nObs) * P.nScores);
  if (c.debugTrace) {
    // Each component's parameter block, as it is evaluated.
    for (int m = 0; m < c.nModels; ++m) {
      host.standardOutput("multComponentLogLikelihood\n");
      traceVector(host, c.nModelParams[m], x + c.paramStart[m], kTraceRowFormat);
      host.standardOutput("Component log-likelihood OK\n");
    }
  }

  const SinglePlan& chunks = P.components[0];
  const double sum = sumSubjectChunks(c, singlePool(c), chunks.nChunks, chunks.chunk,
                                      [&](int first, int last) { return evaluateChunk(P, c, x, first, last); });
  *f = sum;
  if (c.debugTrace) host.standardOutput(formatText("nll=%14.5f\n", sum).c_str());
  return 0;
}

std::vector<double> multiModelPosteriors(const ModelContext& c) {
  const int G = c.nGroups[0];
  std::vector<double> post(static_cast<std::size_t>(G) * c.nObs, c.host->missingValue());
  for (int i = 0; i < c.nObs; ++i) {
    if (c.excluded[i] != 0 || static_cast<std::size_t>(i) >= c.subjectLogLik.size()) continue;
    if (!std::isfinite(c.subjectLogLik[i])) continue;
    for (int g = 0; g < G; ++g) post[c.gi(g, i)] = c.groupTerm[c.gi(g, i)];
  }
  return post;
}

}  // namespace kurv
