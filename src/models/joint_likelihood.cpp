// Joint (dual-trajectory) mixture likelihood.
//
// Subject i belongs to model-1 group j with probability pi_j (a multinomial
// logit with model 1's risk factors) and, given j, to model-2 group k with
// probability pi_{k|j} (a multinomial logit with one block of constants per
// model-1 group and model-2 risk coefficients shared by all of them). Given
// both groups the two outcomes are independent, so
//   L_i = sum_j G1_j sum_k pi_{k|j} G2_k,
//   G1_j = pi_j prod_t f1_jt,  G2_k = prod_t f2_kt.
// Model 2's products do not depend on j and are formed once per subject.
// The posterior of the pair (j, k) is G1_j pi_{k|j} G2_k / L_i.

#include "models/joint_likelihood.h"

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

template <typename T>
void ensureSize(std::vector<T>& v, std::size_t size) {
  if (v.size() != size) v.resize(size);
}

// The density of every period of group g of model m for subject i, written
// to `density` (T values; 1 for a period that is not usable), and their
// product. A ZIP count above zero whose Poisson mean underflows has density
// 0: the product is 0 and the gradient's period products stay exact.
double periodLoop(const double* x, const ModelContext& c, int m, int g, int i, double sigma,
                  double* density) {
  const GroupBlocks blocks = groupBlocks(c, m, g);
  double product = 1.0;
  for (int t = 0; t < c.nPeriods[m]; ++t) {
    density[t] = 1.0;
    if (!usablePeriod(c, m, i, t)) continue;
    density[t] = usableMeasurementDensity(x, c, {m, g, i, t}, blocks, sigma);
    product *= density[t];
  }
  return product;
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

void ensureJointModelArrays(ModelContext& c) {
  const std::size_t nObs = static_cast<std::size_t>(c.nObs);
  const std::size_t G1 = static_cast<std::size_t>(c.nGroups[0]);
  const std::size_t G2 = static_cast<std::size_t>(c.nGroups[1]);
  ensureSize(c.periodSigma, static_cast<std::size_t>(c.nPeriods[0]));
  ensureSize(c.periodDensity, G1 * nObs * static_cast<std::size_t>(c.nPeriods[0]));
  ensureSize(c.groupTerm, G1 * nObs);
  ensureSize(c.periodDensity2, G2 * nObs * static_cast<std::size_t>(c.nPeriods[1]));
  ensureSize(c.groupTerm2, G2 * nObs);
  ensureSize(c.jointPosterior, G1 * G2 * nObs);
  ensureSize(c.conditionalProb, G1 * G2);
  ensureSize(c.subjectLik, nObs);
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
  const int G1 = c.nGroups[0];
  const int G2 = c.nGroups[1];
  for (int i = 0; i < c.nObs; ++i) c.subjectLik[i] = 0.0;

  // The scales are held as ln sigma.
  const double sigma1 = c.modelKind[0] == kCnorm ? std::exp(x[logSigmaIndex(c, 0)]) : 0.0;
  const double sigma2 = c.modelKind[1] == kCnorm ? std::exp(x[logSigmaIndex(c, 1)]) : 0.0;
  for (int t = 0; t < c.nPeriods[0]; ++t) c.periodSigma[t] = sigma1;
  c.currentModel = 0;
  const bool hasRisk1 = c.nRisk[0] > 0;
  if (!hasRisk1) computeMembershipProbabilities(0, c.thetaStart, c.risk[0], x, &c);
  const std::vector<int> blockStart = conditionalBlockStarts(c);

  double sum = 0.0;
  for (int i = 0; i < c.nObs; ++i) {
    for (int k = 0; k < G2; ++k)
      c.groupTerm2[c.gi(k, i)] = periodLoop(x, c, 1, k, i, sigma2, &c.periodDensity2[model2Cell(c, k, i, 0)]);
    if (hasRisk1) computeMembershipProbabilities(i, c.thetaStart, c.risk[0], x, &c);
    double L = 0.0;
    for (int j = 0; j < G1; ++j) {
      const double product = periodLoop(x, c, 0, j, i, sigma1, &c.periodDensity[c.gij(j, i, 0)]);
      conditionalMembership(x, c, i, blockStart[j]);
      const double g1 = product * c.membershipProb[0][j];
      c.groupTerm[c.gi(j, i)] = g1;
      for (int k = 0; k < G2; ++k) {
        const double term = g1 * c.membershipProb[1][k] * c.groupTerm2[c.gi(k, i)];
        c.jointPosterior[jointCell(c, j, k, i)] = term;
        L += term;
      }
    }
    c.subjectLik[i] = L;
    // At most DBL_MIN (every pair's term underflowed), or not a finite
    // number (a degenerate scale), the logarithm means nothing: the
    // evaluation fails at once.
    if (!(L > DBL_MIN) || !std::isfinite(L)) {
      sum = DBL_MAX;
      break;
    }
    for (int j = 0; j < G1; ++j)
      for (int k = 0; k < G2; ++k) c.jointPosterior[jointCell(c, j, k, i)] /= L;
    if (c.excluded[i] == 0) sum += -std::log(L) * c.weight[i];
  }
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
