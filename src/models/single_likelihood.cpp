// Single-trajectory mixture likelihood.
//
// For subject i the mixture likelihood is
//   L_i = O_i * sum_k pi_k(i) * D_ki * prod_j f_kij,
// groups k, periods j. The per-group product groupTerm[k,i] and its pieces
// are kept in the run record: the gradient differentiates them without
// recomputing a density, and the posterior probabilities are groupTerm / L.
// The outcome analysis (O_i) models one further variable through the
// posterior-weighted mix of one constant per group.

#include "models/single_likelihood.h"

#include <cfloat>
#include <cmath>

#include "models/densities.h"
#include "models/group_blocks.h"
#include "models/measurement_tables.h"
#include "models/membership.h"
#include "models/parameter_trace.h"
#include "core/logistic.h"
#include "core/text_format.h"

namespace kurv {

namespace {

template <typename T>
void ensureSize(std::vector<T>& v, std::size_t size) {
  if (v.size() != size) v.resize(size);
}

// Fills groupTerm, periodDensity, dropoutFactorStore and dropoutTerm of group
// k for every subject, and adds the group's term to subjectLik.
void accumulateGroup(const double* x, ModelContext& c, int k, double sigma) {
  const int nPeriods = c.nPeriods[0];
  const double missing = c.host->missingValue();
  const GroupBlocks blocks = groupBlocks(c, 0, k);
  const bool hasRisk = c.nRisk[0] > 0;
  const bool hasDropout = c.nDropoutOrder > 0;
  for (int i = 0; i < c.nObs; ++i) {
    const std::size_t gi = c.gi(k, i);
    double groupTerm = 1.0;
    double dropoutTerm = 1.0;
    c.outcomeTerm[i] = 1.0;
    for (int j = 0; j < nPeriods; ++j) {
      const std::size_t cell = c.gij(k, i, j);
      c.periodDensity[cell] = 1.0;
      c.dropoutFactorStore[cell] = missing;
      if (usablePeriod(c, 0, i, j)) {
        // A ZIP count whose Poisson mean underflows has density 0, which
        // makes the group's term 0 as it must be.
        const double density = usableMeasurementDensity(x, c, {0, k, i, j}, blocks, sigma);
        c.periodDensity[cell] = density;
        groupTerm *= density;
      }
      if (hasDropout) {
        if (const auto factor = dropoutProb(x, c, k, i, j, blocks.dropout)) {
          c.dropoutFactorStore[cell] = *factor;
          dropoutTerm *= *factor;
        }
      }
    }
    if (hasRisk) computeMembershipProbabilities(i, c.thetaStart, c.risk[0], x, &c);
    groupTerm = dropoutTerm * c.membershipProb[0][k] * groupTerm;
    c.dropoutTerm[gi] = dropoutTerm;
    c.groupTerm[gi] = groupTerm;
    c.subjectLik[i] += groupTerm;
  }
}

// The outcome analysis: subject i's outcome is modelled with the predictor
// eta = sum_k (groupTerm_k / S) theta_k, S = sum_k groupTerm_k, i.e. the
// posterior-weighted group constants. A subject excluded at intake takes no
// part, and neither does a missing outcome.
void applyOutcomeAnalysis(const double* x, ModelContext& c, double sigmaO, double omegaO) {
  const int nGroups = c.nGroups[0];
  const std::vector<int> theta = c.layout.perGroup(0, BlockKind::Outcome, 0, nGroups);
  for (int i = 0; i < c.nObs; ++i) {
    if (c.excluded[i] != 0 || c.host->isMissing(c.outcomeValue[i])) continue;
    double sum = 0.0;
    for (int k = 0; k < nGroups; ++k) sum += c.groupTerm[c.gi(k, i)];
    double eta = 0.0;
    for (int k = 0; k < nGroups; ++k) eta += c.groupTerm[c.gi(k, i)] / sum * x[theta[k]];
    eta = c.expClamp(eta);
    c.outcomeTerm[i] = outcomeDensity(c, i, eta, sigmaO, omegaO);
    c.subjectLik[i] *= c.outcomeTerm[i];
  }
}

}  // namespace

void ensureSingleModelArrays(ModelContext& c) {
  const std::size_t nGroups = static_cast<std::size_t>(c.nGroups[0]);
  const std::size_t nObs = static_cast<std::size_t>(c.nObs);
  const std::size_t cells = nGroups * nObs * static_cast<std::size_t>(c.nPeriods[0]);
  ensureSize(c.periodSigma, static_cast<std::size_t>(c.nPeriods[0]));
  ensureSize(c.periodDensity, cells);
  ensureSize(c.dropoutFactorStore, cells);
  ensureSize(c.dropoutTerm, nGroups * nObs);
  ensureSize(c.groupTerm, nGroups * nObs);
  ensureSize(c.outcomeTerm, nObs);
  ensureSize(c.subjectLik, nObs);
  if (c.membershipProb[0].size() < nGroups) c.membershipProb[0].resize(nGroups);
}

int singleModelLogLikelihood(int n, const double* x, double* f, ModelContext* ctx) {
  ModelContext& c = *ctx;
  Host& host = *c.host;
  if (c.debugTrace) {
    host.standardOutput("singleModelLogLikelihood\n");
    traceVector(host, n, x, kTraceRowFormat);
  }
  ensureMeasurementTables(c);
  ensureSingleModelArrays(c);
  c.currentModel = 0;
  for (int i = 0; i < c.nObs; ++i) c.subjectLik[i] = 0.0;
  if (c.nRisk[0] <= 0) computeMembershipProbabilities(0, c.thetaStart, c.risk[0], x, &c);

  double sigma = 0.0;
  if (c.modelKind[0] == kCnorm) {
    // The scale is held as ln sigma.
    sigma = std::exp(x[logSigmaIndex(c, 0)]);
    for (int j = 0; j < c.nPeriods[0]; ++j) c.periodSigma[j] = sigma;
  }
  double sigmaO = 0.0;
  double omegaO = 0.0;
  if (c.hasOutcome) {
    const int extra = c.layout.find(0, BlockKind::Outcome, -1, 0);
    if (c.omodelKind == kCnorm) sigmaO = std::exp(x[extra]);
    if (c.omodelKind == kZip && c.outcomeHasZeroInflation) omegaO = logistic(c.expClamp, x[extra]);
  }

  for (int k = 0; k < c.nGroups[0]; ++k) accumulateGroup(x, c, k, sigma);
  if (c.hasOutcome) applyOutcomeAnalysis(x, c, sigmaO, omegaO);

  double sum = 0.0;
  for (int i = 0; i < c.nObs; ++i) {
    // At most DBL_MIN (every group term underflowed), or not a finite
    // number (a degenerate scale), the logarithm means nothing: the
    // evaluation fails.
    if (!(c.subjectLik[i] > DBL_MIN) || !std::isfinite(c.subjectLik[i])) {
      sum = DBL_MAX;
      break;
    }
    sum += -std::log(c.subjectLik[i]) * c.weight[i];
  }
  *f = sum;
  if (c.debugTrace) {
    const std::string line = formatText("nll=%f\n", sum);
    host.standardOutput(line.c_str());
    host.display(line.c_str());
  }
  return 0;
}

}  // namespace kurv
