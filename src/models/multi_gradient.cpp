// Gradient of -sum_i w_i ln L_i for the multi-trajectory model: group
// scores weighted by the posteriors, and the membership constants'
// posterior minus prior (see models/multi_gradient.h). Only posteriors and
// slopes of log densities enter, so nothing underflows over long series.

#include "models/multi_gradient.h"

#include <algorithm>
#include <cmath>

#include "models/gradient_sink.h"
#include "models/multi_kernel.h"
#include "models/multi_likelihood.h"
#include "models/parameter_trace.h"
#include "models/subject_chunks.h"

namespace kurv {

namespace {

void subjectGradient(const MultiPlan& P, const ModelContext& c, int i, GradientSink& sink) {
  const int G = c.nGroups[0];
  const double w = c.weight[i];
  const double* row = c.groupScore.data() + static_cast<std::size_t>(i) * P.nScores;
  for (int g = 0; g < G; ++g) {
    const double a = w * c.groupTerm[c.gi(g, i)];
    if (a == 0.0) continue;  // a group of posterior 0 moves nothing
    for (std::size_t m = 0; m < P.components.size(); ++m) {
      const SinglePlan& comp = P.components[m];
      const SingleGroupPlan& group = comp.groups[g];
      if (group.order < 0) continue;  // density 1: nothing depends on x
      const double* s = row + P.offset[m] + group.scoreOffset;
      const int* slot = comp.scoreSlot.data() + group.scoreOffset;
      for (int q = 0; q < group.nScores; ++q) sink.add(slot[q], -a * s[q]);
    }
  }
  for (int g = 1; g < G; ++g) sink.add(c.multThetaStart + g - 1, -w * (c.groupTerm[c.gi(g, i)] - P.pi[g]));
}

}  // namespace

int multModelDerivative(int n, const double* x, int*, double* grad, ModelContext* ctx) {
  ModelContext& c = *ctx;
  Host& host = *c.host;
  if (c.debugTrace) {
    host.standardOutput("multModelDerivative:\n");
    traceVector(host, n, x, kTraceRowFormat);
  }
  const MultiPlan P = multiPlan(c, x);
  const std::size_t G = static_cast<std::size_t>(c.nGroups[0]);
  const std::size_t nObs = static_cast<std::size_t>(c.nObs);
  if (c.groupScore.size() != nObs * P.nScores || c.subjectLogLik.size() < nObs || c.groupTerm.size() < G * nObs) {
    // Not preceded by a likelihood evaluation of this run: make one.
    double f = 0.0;
    multModelLogLikelihood(n, x, &f, ctx);
  }
  struct NoScratch {};
  const SinglePlan& chunks = P.components[0];
  sumSubjectGradients<NoScratch>(c, singlePool(c), n, chunks.nChunks, chunks.chunk, grad, [] { return NoScratch{}; },
                                 [&](int i, NoScratch&, GradientSink& sink) { subjectGradient(P, c, i, sink); });
  if (c.debugTrace) {
    host.standardOutput("Gradient:\n");
    traceVector(host, n, grad, kTraceRowFormat);
  }
  return 0;
}

}  // namespace kurv
