#include "models/multi_gradient.h"

#include <algorithm>
#include <cmath>

#include "models/group_blocks.h"
#include "models/measurement_derivative.h"
#include "models/measurement_tables.h"
#include "models/membership.h"
#include "models/multi_likelihood.h"
#include "models/parameter_layout.h"
#include "models/parameter_trace.h"

namespace kurv {

int multModelDerivative(int n, const double* x, int*, double* grad, ModelContext* ctx) {
  ModelContext& c = *ctx;
  Host& host = *c.host;
  if (c.debugTrace) {
    host.standardOutput("multModelDerivative:\n");
    traceVector(host, n, x, kTraceRowFormat);
  }
  ensureMeasurementTables(c);
  ensureMultiModelArrays(c);
  const std::size_t nn = static_cast<std::size_t>(n);
  if (c.derivativeWork.size() < nn) c.derivativeWork.assign(nn, 0.0);
  if (c.subjectScore.size() < nn) c.subjectScore.assign(nn, 0.0);
  if (c.hasWeights && c.scoreOuterSum.size() < nn * nn) c.scoreOuterSum.assign(nn * nn, 0.0);
  std::fill(grad, grad + n, 0.0);
  if (c.hasWeights) std::fill(c.scoreOuterSum.begin(), c.scoreOuterSum.begin() + nn * nn, 0.0);
  computeMembershipProbabilities(0, c.multThetaStart, c.risk[0], x, &c);

  const int G = c.nGroups[0];
  const int nModels = c.nModels;
  double* work = c.derivativeWork.data();
  double* score = c.subjectScore.data();
  // Each term goes to the gradient and, with weights, to the subject's score.
  auto add = [&](int p, double value) {
    grad[p] += value;
    if (c.hasWeights) score[p] += value;
  };
  int maxPeriods = 0;
  for (int m = 0; m < nModels; ++m) maxPeriods = std::max(maxPeriods, c.nPeriods[m]);
  std::vector<double> prefix(static_cast<std::size_t>(maxPeriods) + 1);
  std::vector<double> suffix(static_cast<std::size_t>(maxPeriods) + 1);

  for (int i = 0; i < c.nObs; ++i) {
    const double L = c.multSubjectLik[i];
    if (c.excluded[i] != 0 || !(L > 0.0)) continue;
    const double w = c.weight[i];
    c.cursorSubject = i;
    if (c.hasWeights) std::fill(score, score + n, 0.0);
    for (int g = 0; g < G; ++g) {
      c.cursorGroup = g;
      const std::size_t gi = c.gi(g, i);
      for (int m = 0; m < nModels; ++m) {
        if (trajectoryOrder(c, m, g) < 0) continue;  // density 1: nothing depends on x
        double others = 1.0;
        for (int k = 0; k < nModels; ++k)
          if (k != m) others *= c.componentTerm[k][gi];
        const double common = w * c.multMembershipProb[g] / L * others;
        if (common == 0.0) continue;
        const int T = c.nPeriods[m];
        const double* d = c.componentPeriodDensity[m].data() + gi * T;
        prefix[0] = 1.0;
        for (int j = 0; j < T; ++j) prefix[j + 1] = prefix[j] * d[j];
        suffix[T] = 1.0;
        for (int j = T - 1; j >= 0; --j) suffix[j] = suffix[j + 1] * d[j];

        c.currentModel = m;
        const GroupBlocks blocks = groupBlocks(c, m, g);
        const int trajectorySize = trajectoryBlockSize(c, m, g);
        const int scale = c.modelKind[m] == kCnorm ? logSigmaIndex(c, m) : -1;
        const double sigma = scale >= 0 ? std::exp(x[scale]) : 0.0;
        const int inflOrder = c.modelKind[m] == kZip ? zeroInflationOrder(c, m, g) : -1;
        for (int j = 0; j < T; ++j) {
          if (!usablePeriod(c, m, i, j)) continue;
          const double factor = common * prefix[j] * suffix[j + 1];
          if (factor == 0.0) continue;
          c.cursorPeriod = j;
          measurementDerivative(n, x, work, &c);
          for (int p = blocks.trajectory; p < blocks.trajectory + trajectorySize; ++p) add(p, -factor * work[p]);
          // The slope is with respect to sigma; the parameter is ln sigma.
          if (scale >= 0) add(scale, -factor * sigma * work[scale]);
          for (int p = 0; p <= inflOrder; ++p)
            add(blocks.zeroInflation + p, -factor * work[blocks.zeroInflation + p]);
        }
      }
    }
    for (int g = 1; g < G; ++g)
      add(c.multThetaStart + g - 1, -w * (c.multGroupTerm[c.gi(g, i)] / L - c.multMembershipProb[g]));
    if (c.hasWeights) {
      for (int a = 0; a < n; ++a) {
        if (score[a] == 0.0) continue;
        double* row = c.scoreOuterSum.data() + static_cast<std::size_t>(a) * n;
        for (int b = 0; b < n; ++b) row[b] += score[a] * score[b];
      }
    }
  }
  c.currentModel = 0;
  if (c.debugTrace) {
    host.standardOutput("Gradient:\n");
    traceVector(host, n, grad, kTraceRowFormat);
  }
  return 0;
}

}  // namespace kurv
