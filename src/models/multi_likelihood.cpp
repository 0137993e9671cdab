#include "models/multi_likelihood.h"

#include <cfloat>
#include <cmath>

#include "core/text_format.h"
#include "models/densities.h"
#include "models/group_blocks.h"
#include "models/measurement_tables.h"
#include "models/membership.h"
#include "models/parameter_trace.h"

namespace kurv {

namespace {

void ensureSize(std::vector<double>& v, std::size_t size) {
  if (v.size() < size) v.assign(size, 0.0);
}

}  // namespace

void ensureMultiModelArrays(ModelContext& c) {
  const std::size_t G = static_cast<std::size_t>(c.nGroups[0]);
  const std::size_t nObs = static_cast<std::size_t>(c.nObs);
  for (int m = 0; m < c.nModels; ++m) {
    ensureSize(c.componentTerm[m], G * nObs);
    ensureSize(c.componentPeriodDensity[m], G * nObs * static_cast<std::size_t>(c.nPeriods[m]));
    ensureSize(c.componentLik[m], nObs);
  }
  ensureSize(c.multGroupTerm, G * nObs);
  ensureSize(c.multSubjectLik, nObs);
  if (c.multMembershipProb.size() < G) c.multMembershipProb.resize(G);
}

void multComponentLogLikelihood(int nc, const double* xc, ModelContext* ctx) {
  ModelContext& c = *ctx;
  const int m = c.currentModel;
  if (c.debugTrace) {
    c.host->standardOutput("multComponentLogLikelihood\n");
    traceVector(*c.host, nc, xc, kTraceRowFormat);
  }
  // The densities address parameters by their place in the whole vector.
  const double* x = xc - c.paramStart[m];
  const int T = c.nPeriods[m];
  const int G = c.nGroups[0];
  const double sigma = c.modelKind[m] == kCnorm ? std::exp(x[logSigmaIndex(c, m)]) : 0.0;
  std::vector<double>& term = c.componentTerm[m];
  std::vector<double>& density = c.componentPeriodDensity[m];
  std::vector<double>& lik = c.componentLik[m];
  for (int i = 0; i < c.nObs; ++i) lik[i] = 0.0;
  for (int g = 0; g < G; ++g) {
    const GroupBlocks blocks = groupBlocks(c, m, g);
    const bool hasTrajectory = trajectoryOrder(c, m, g) >= 0;
    for (int i = 0; i < c.nObs; ++i) {
      double product = 1.0;
      double* d = density.data() + (static_cast<std::size_t>(g) * c.nObs + i) * T;
      for (int j = 0; j < T; ++j) {
        d[j] = 1.0;
        if (!hasTrajectory || !usablePeriod(c, m, i, j)) continue;
        d[j] = usableMeasurementDensity(x, c, MeasurementSite{m, g, i, j}, blocks, sigma);
        product *= d[j];
      }
      term[c.gi(g, i)] = product;
      lik[i] += product;
    }
  }
  if (c.debugTrace) c.host->standardOutput("Component log-likelihood OK\n");
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
  const int G = c.nGroups[0];
  computeMembershipProbabilities(0, c.multThetaStart, c.risk[0], x, &c);
  for (int m = 0; m < c.nModels; ++m) {
    c.currentModel = m;
    multComponentLogLikelihood(c.nModelParams[m], x + c.paramStart[m], &c);
  }
  c.currentModel = 0;

  double sum = 0.0;
  for (int i = 0; i < c.nObs; ++i) {
    double subject = 0.0;
    for (int g = 0; g < G; ++g) {
      double product = c.multMembershipProb[g];
      for (int m = 0; m < c.nModels; ++m) product *= c.componentTerm[m][c.gi(g, i)];
      c.multGroupTerm[c.gi(g, i)] = product;
      subject += product;
    }
    c.multSubjectLik[i] = subject;
    // Not a number also fails: it compares false with everything.
    if (!(subject > DBL_MIN)) {
      sum = kFailedLikelihood;
      break;
    }
    if (c.excluded[i] == 0) sum -= std::log(subject) * c.weight[i];
  }
  *f = sum;
  if (c.debugTrace) host.standardOutput(formatText("nll=%14.5f\n", sum).c_str());
  return 0;
}

}  // namespace kurv
