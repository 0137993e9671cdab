// Gradient of -sum_i w_i ln L_i for the single-trajectory mixture.
//
// With G_k = pi_k D_k prod_j f_kj the group terms of subject i (D the
// dropout factors, f the measurement densities) and L = sum_k G_k:
//  - a trajectory, scale or zero-inflation parameter of group k enters only
//    f_kj, so d ln L = pi_k / L * df_kj * prod_{j' != j} (D_j' f_j') * D_j,
//    summed over the periods j;
//  - a dropout parameter of group k enters only D_kj:
//    d ln L = pi_k / L * dD_kj * prod_{j' != j} (D_j' f_j') * f_j;
//  - the membership constant (and risk coefficients) of group h:
//    d ln L = (G_h - pi_h sum_k G_k) / L (times the risk value).
// The products over "every period but j" come from prefix and suffix
// products of a_j = D_j f_j, so a group costs O(periods) rather than
// O(periods^2) and a zero density anywhere is handled without division.
// The whole gradient costs O(subjects x groups x periods x block size).
//
// With an outcome analysis, L = S * O(eta) with S = sum_k G_k and the
// outcome predictor eta = sum_k (G_k / S) theta_k, so every group term also
// moves eta:
//   d ln L = sum_k dG_k * (1 + c (theta_k - eta)) / S + direct terms of O,
// c = d ln O / d eta. The factor w / L of each group term above becomes
// mu_k = w (1 + c (theta_k - eta)) / S, which is w / L again when c = 0
// and O = 1; the outcome's own parameters get d ln O directly.

#include "models/single_gradient.h"

#include <cmath>

#include "core/logistic.h"
#include "models/censored_normal.h"
#include "models/densities.h"
#include "models/group_blocks.h"
#include "models/measurement_derivative.h"
#include "models/measurement_tables.h"
#include "models/membership.h"
#include "models/parameter_trace.h"
#include "models/single_likelihood.h"
#include "models/zip_probability.h"

namespace kurv {

namespace {


// Every change of the gradient goes to the subject's score as well when
// weighted scores are kept.
class GradientSink {
 public:
  GradientSink(double* g, double* score) : g_(g), score_(score) {}
  void subtract(int p, double v) {
    g_[p] -= v;
    if (score_) score_[p] -= v;
  }
  void add(int p, double v) {
    g_[p] += v;
    if (score_) score_[p] += v;
  }

 private:
  double* g_;
  double* score_;
};

// Prefix and suffix products of a_j = D_j f_j for every group of subject i:
// prefix[k][j] = a_0 ... a_{j-1}, suffix[k][j] = a_j ... a_{T-1}.
void periodProducts(ModelContext& c, int i, double missing) {
  const int T = c.nPeriods[0];
  const int stride = T + 1;
  for (int k = 0; k < c.nGroups[0]; ++k) {
    double* prefix = &c.periodPrefix[static_cast<std::size_t>(k) * stride];
    double* suffix = &c.periodSuffix[static_cast<std::size_t>(k) * stride];
    prefix[0] = 1.0;
    suffix[T] = 1.0;
    for (int j = 0; j < T; ++j) {
      const std::size_t cell = c.gij(k, i, j);
      const double D = c.dropoutFactorStore[cell] == missing ? 1.0 : c.dropoutFactorStore[cell];
      prefix[j + 1] = prefix[j] * (D * c.periodDensity[cell]);
    }
    for (int j = T - 1; j >= 0; --j) {
      const std::size_t cell = c.gij(k, i, j);
      const double D = c.dropoutFactorStore[cell] == missing ? 1.0 : c.dropoutFactorStore[cell];
      suffix[j] = (D * c.periodDensity[cell]) * suffix[j + 1];
    }
  }
}

double othersProduct(const ModelContext& c, int k, int j) {
  const std::size_t base = static_cast<std::size_t>(k) * (c.nPeriods[0] + 1);
  return c.periodPrefix[base + j] * c.periodSuffix[base + j + 1];
}

// Measurement terms: for each usable period and group, the density
// derivatives of the group's trajectory block, the CNORM scale (times sigma:
// the parameter is ln sigma) and the group's zero-inflation block.
void measurementTerms(int n, const double* x, ModelContext& c, int i, double w, double L,
                      const double* groupScale, double missing, GradientSink& sink) {
  const int m = 0;
  const int kind = c.modelKind[m];
  const int sigmaIndex = kind == kCnorm ? logSigmaIndex(c, m) : -1;
  const double sigma = kind == kCnorm ? std::exp(x[sigmaIndex]) : 0.0;
  double* work = c.derivativeWork.data();
  for (int j = 0; j < c.nPeriods[m]; ++j) {
    if (!usablePeriod(c, m, i, j)) continue;
    c.cursorPeriod = j;
    for (int k = 0; k < c.nGroups[m]; ++k) {
      c.cursorGroup = k;
      measurementDerivative(n, x, work, &c);
      const std::size_t cell = c.gij(k, i, j);
      const double D = c.dropoutFactorStore[cell] == missing ? 1.0 : c.dropoutFactorStore[cell];
      const double product = othersProduct(c, k, j) * D;
      const double scale = groupScale ? groupScale[k] * c.membershipProb[m][k] : w * c.membershipProb[m][k] / L;
      const GroupBlocks blocks = groupBlocks(c, m, k);
      const int size = trajectoryBlockSize(c, m, k);
      for (int p = blocks.trajectory; p < blocks.trajectory + size; ++p)
        sink.subtract(p, scale * work[p] * product);
      if (kind == kCnorm) sink.subtract(sigmaIndex, scale * work[sigmaIndex] * product * sigma);
      if (kind == kZip) {
        const int inflOrder = zeroInflationOrder(c, m, k);
        for (int p = blocks.zeroInflation; p <= blocks.zeroInflation + inflOrder; ++p)
          sink.subtract(p, scale * work[p] * product);
      }
    }
  }
}

// Dropout terms: for each period and group with a dropout factor.
void dropoutTerms(int n, const double* x, ModelContext& c, int i, double w, double L,
                  const double* groupScale, double missing, GradientSink& sink) {
  double* work = c.derivativeWork.data();
  for (int j = 0; j < c.nPeriods[0]; ++j) {
    c.cursorPeriod = j;
    for (int k = 0; k < c.nGroups[0]; ++k) {
      const std::size_t cell = c.gij(k, i, j);
      if (c.dropoutFactorStore[cell] == missing) continue;  // no factor here
      c.cursorGroup = k;
      dropoutDerivative(n, x, work, &c);
      const double product = othersProduct(c, k, j) * c.periodDensity[cell];
      const double scale = groupScale ? groupScale[k] * c.membershipProb[0][k] : w * c.membershipProb[0][k] / L;
      const int start = groupBlocks(c, 0, k).dropout;
      const int size = dropoutOrderOf(c, k) + 1 + c.dcovPerPeriod;
      for (int q = start; q < start + size; ++q) sink.subtract(q, scale * work[q] * product);
    }
  }
}

// Membership terms of the non-reference groups (constant, then one
// coefficient per risk factor).
void membershipTerms(ModelContext& c, int i, double w, double L, const double* groupScale,
                     const std::vector<int>& memberStart, GradientSink& sink) {
  const int G = c.nGroups[0];
  const int nRisk = c.nRisk[0];
  const int ref = referenceGroup(c, 0);
  double positive = 0.0;
  for (int k = 0; k < G; ++k) {
    const double term = c.groupTerm[c.gi(k, i)];
    if (term > 0.0) positive += groupScale ? groupScale[k] * term : term;
  }
  for (int h = 0; h < G; ++h) {
    if (h == ref) continue;
    const int b = memberStart[h];
    const double up = groupScale ? c.membershipProb[0][h] * positive : w * c.membershipProb[0][h] * positive / L;
    sink.add(b, up);
    for (int r = 0; r < nRisk; ++r) sink.add(b + 1 + r, up * c.risk[0][r][i]);
    const double down = groupScale ? groupScale[h] * c.groupTerm[c.gi(h, i)] : w * c.groupTerm[c.gi(h, i)] / L;
    sink.subtract(b, down);
    for (int r = 0; r < nRisk; ++r) sink.subtract(b + 1 + r, down * c.risk[0][r][i]);
  }
}

// The outcome analysis of subject i: the direct derivatives of -w ln O with
// respect to the outcome's own parameters, and the per-group scales mu_k of
// the group terms (see the head of this file). False when the subject has no
// outcome term (excluded, or its outcome value missing).
bool outcomeTerms(const double* x, ModelContext& c, int i, double w, double* groupScale,
                  const std::vector<int>& outcomeConstant, int outcomeOwn, GradientSink& sink) {
  if (c.excluded[i] != 0 || c.host->isMissing(c.outcomeValue[i])) return false;
  const int G = c.nGroups[0];
  double S = 0.0;
  for (int k = 0; k < G; ++k) S += c.groupTerm[c.gi(k, i)];
  double rawEta = 0.0;
  for (int k = 0; k < G; ++k) rawEta += c.groupTerm[c.gi(k, i)] / S * x[outcomeConstant[k]];
  const double eta = c.expClamp(rawEta);
  const int extra = outcomeOwn;  // ln sigma_o, or the zero-inflation logit
  const double y = c.outcomeValue[i];
  const double O = c.outcomeTerm[i];
  double slope = 0.0;  // d ln O / d eta
  switch (c.omodelKind) {
    case kCnorm: {
      const double sigma = std::exp(x[extra]);
      double dLogSigma = 0.0;
      if ((c.hasOutcomeCensorMin && y <= c.outcomeCensorMin) || (c.hasOutcomeCensorMax && y >= c.outcomeCensorMax)) {
        // A censored outcome: derivatives of its probability O, divided by O.
        const CensoredNormalSlopes d =
            censoredNormalSlopes(y, eta, sigma, outcomeLowerBound(c), outcomeUpperBound(c));
        slope = d.dMu / O;
        dLogSigma = sigma * d.dSigma / O;
      } else {
        // Inside the bounds d ln f/d eta and d ln f/d ln sigma have closed
        // forms that stay exact where f itself underflows.
        const double z = (y - eta) / sigma;
        slope = z / sigma;
        dLogSigma = z * z - 1.0;
      }
      sink.subtract(extra, w * dLogSigma);
      break;
    }
    case kLogit: {
      const double p = logistic(c.expClamp, eta);  // eta is clamped
      slope = y == 0.0 ? -p : 1.0 - p;
      break;
    }
    case kZip: {
      double omega = 0.0;
      if (c.outcomeHasZeroInflation) {
        omega = logistic(c.expClamp, x[extra]);
      }
      // Slopes of ln O: those of O divided by O (for a nonzero count
      // (y - lambda) and -omega exactly, which stay finite where O underflows).
      const double lambda = std::exp(eta);
      double dOmegaLogit = -omega;
      slope = y - lambda;
      if (y == 0.0) {
        const ZipSlopes d = zipSlopes(c.expClamp, y, lambda, omega);
        slope = d.dLogLambda / O;
        dOmegaLogit = d.dOmegaLogit / O;
      }
      if (c.outcomeHasZeroInflation) sink.subtract(extra, w * dOmegaLogit);
      break;
    }
    default:
      break;
  }
  if (eta != rawEta) slope = 0.0;  // the clamp holds eta fixed
  for (int k = 0; k < G; ++k) sink.subtract(outcomeConstant[k], w * slope * c.groupTerm[c.gi(k, i)] / S);
  for (int k = 0; k < G; ++k) groupScale[k] = w * (1.0 + slope * (x[outcomeConstant[k]] - rawEta)) / S;
  return true;
}

void ensureGradientArrays(ModelContext& c, int n) {
  const std::size_t products = static_cast<std::size_t>(c.nGroups[0]) * (c.nPeriods[0] + 1);
  if (c.periodPrefix.size() != products) c.periodPrefix.resize(products);
  if (c.periodSuffix.size() != products) c.periodSuffix.resize(products);
  if (c.derivativeWork.size() < static_cast<std::size_t>(n)) c.derivativeWork.resize(n);
  if (c.groupScale.size() != static_cast<std::size_t>(c.nGroups[0])) c.groupScale.resize(c.nGroups[0]);
  if (c.hasWeights) {
    if (c.subjectScore.size() < static_cast<std::size_t>(n)) c.subjectScore.resize(n);
    if (c.scoreOuterSum.size() < static_cast<std::size_t>(n) * n) c.scoreOuterSum.resize(static_cast<std::size_t>(n) * n);
  }
}

}  // namespace

int singleModelDerivative(int n, const double* x, int*, double* g, ModelContext* ctx) {
  ModelContext& c = *ctx;
  Host& host = *c.host;
  if (c.debugTrace) {
    host.standardOutput("singleModelDerivative\n");
    traceVector(host, n, x, kTraceRowFormat);
  }
  ensureMeasurementTables(c);
  ensureSingleModelArrays(c);
  ensureGradientArrays(c, n);
  const double missing = host.missingValue();
  for (int p = 0; p < n; ++p) g[p] = 0.0;
  if (c.hasWeights) {
    for (std::size_t e = 0; e < static_cast<std::size_t>(n) * n; ++e) c.scoreOuterSum[e] = 0.0;
  }
  c.currentModel = 0;
  const bool hasRisk = c.nRisk[0] > 0;
  if (!hasRisk) computeMembershipProbabilities(0, c.thetaStart, c.risk[0], x, &c);
  // Where each group's membership block and outcome constant sit.
  const std::vector<int> memberStart = c.layout.perGroup(0, BlockKind::Membership, 0, c.nGroups[0]);
  const std::vector<int> outcomeConstant = c.layout.perGroup(0, BlockKind::Outcome, 0, c.nGroups[0]);
  const int outcomeOwn = c.layout.find(0, BlockKind::Outcome, -1, 0);

  for (int i = 0; i < c.nObs; ++i) {
    const double L = c.subjectLik[i];
    if (!(L > 0.0) || c.excluded[i] != 0) continue;
    if (hasRisk) computeMembershipProbabilities(i, c.thetaStart, c.risk[0], x, &c);
    double* score = nullptr;
    if (c.hasWeights) {
      score = c.subjectScore.data();
      for (int p = 0; p < n; ++p) score[p] = 0.0;
    }
    GradientSink sink(g, score);
    const double w = c.weight[i];
    c.cursorSubject = i;
    periodProducts(c, i, missing);
    const double* groupScale = nullptr;
    if (c.hasOutcome && outcomeTerms(x, c, i, w, c.groupScale.data(), outcomeConstant, outcomeOwn, sink)) groupScale = c.groupScale.data();
    measurementTerms(n, x, c, i, w, L, groupScale, missing, sink);
    if (c.nDropoutOrder > 0) dropoutTerms(n, x, c, i, w, L, groupScale, missing, sink);
    membershipTerms(c, i, w, L, groupScale, memberStart, sink);
    if (score) {
      for (int a = 0; a < n; ++a) {
        if (score[a] == 0.0) continue;  // a zero row adds nothing
        double* row = &c.scoreOuterSum[static_cast<std::size_t>(a) * n];
        for (int b = 0; b < n; ++b) row[b] += score[b] * score[a];
      }
    }
  }

  if (c.debugTrace) {
    host.standardOutput("gradient\n");
    traceVector(host, n, g, kGradientRowFormat);
  }
  return 0;
}

}  // namespace kurv
