// Gradient of -sum_i w_i ln L_i for the single-trajectory mixture.
//
// With G_k = pi_k prod_j D_kj f_kj the group terms of subject i (D the
// dropout factors, f the measurement densities), S = sum_k G_k and the
// posteriors P_k = G_k / S:
//  - a trajectory, scale, zero-inflation or dropout parameter of group k
//    enters only G_k, so d ln S = P_k d ln G_k, and d ln G_k is the sum over
//    the cells of the slopes of their log densities times their regressors:
//    the likelihood added those sums while it evaluated the cells (the
//    group scores, models/single_kernel.h), so nothing is recomputed here;
//  - the membership constant (and risk coefficients) of group h:
//    d ln S = P_h - pi_h (times the risk value).
// The whole gradient costs O(subjects x groups x block size) on top of the
// likelihood, and is linear in the number of periods through it.
//
// With an outcome analysis, L = S * O(eta) with the outcome predictor
// eta = sum_k P_k theta_k, so every group term also moves eta:
//   d ln L = sum_k P_k d ln G_k (1 + c (theta_k - eta)) + direct terms of O,
// c = d ln O / d eta. The weight w P_k of each group's score becomes
// a_k = w P_k (1 + c (theta_k - eta)), which is w P_k again when c = 0; the
// membership terms become pi_h sum_k a_k - a_h; the outcome's own parameters
// get d ln O directly.
//
// Subjects run in the likelihood's fixed chunks; each chunk sums its own
// gradient (and, with weights, its score outer products), and the chunks
// are added in order, so the bits do not depend on the number of threads.

#include "models/single_gradient.h"

#include <algorithm>
#include <cmath>

#include "core/logistic.h"
#include "models/censored_normal.h"
#include "models/densities.h"
#include "models/gradient_sink.h"
#include "models/parameter_trace.h"
#include "models/single_kernel.h"
#include "models/single_likelihood.h"
#include "models/subject_chunks.h"
#include "models/zip_probability.h"

namespace kurv {

namespace {

// The outcome analysis of subject i: the direct derivatives of -w ln O with
// respect to the outcome's own parameters, and the weights a_k of the group
// scores (see the head of this file). False when the subject has no outcome
// term (its outcome value missing); then a_k = w P_k.
bool outcomeTerms(const SinglePlan& P, const double* x, const ModelContext& c, int i, double w,
                  double* a, GradientSink& sink) {
  if (c.measurementTables.outcomeValuePresent[i] == 0) return false;
  const int G = P.nGroups;
  double rawEta = 0.0;
  for (int k = 0; k < G; ++k) rawEta += c.groupTerm[c.gi(k, i)] * x[P.outcomeConstant[k]];
  const double eta = c.expClamp(rawEta);
  const int extra = P.outcomeExtra;  // ln sigma_o, or the zero-inflation logit
  const double y = c.outcomeValue[i];
  const double O = c.outcomeTerm[i];
  double slope = 0.0;  // d ln O / d eta
  switch (c.omodelKind) {
    case kCnorm: {
      const double sigma = P.sigmaO;
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
      sink.add(extra, -w * dLogSigma);
      break;
    }
    case kLogit: {
      const double p = logistic(c.expClamp, eta);  // eta is clamped
      slope = y == 0.0 ? -p : 1.0 - p;
      break;
    }
    case kZip: {
      const double omega = P.omegaO;
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
      if (c.outcomeHasZeroInflation) sink.add(extra, -w * dOmegaLogit);
      break;
    }
    default:
      break;
  }
  if (eta != rawEta) slope = 0.0;  // the clamp holds eta fixed
  for (int k = 0; k < G; ++k) {
    const double post = c.groupTerm[c.gi(k, i)];
    sink.add(P.outcomeConstant[k], -w * slope * post);
    a[k] = w * post * (1.0 + slope * (x[P.outcomeConstant[k]] - rawEta));
  }
  return true;
}

// One subject's share of the gradient.
void subjectGradient(const SinglePlan& P, const double* x, const ModelContext& c, int i, double* a,
                     double* logPi, GradientSink& sink) {
  const int G = P.nGroups;
  const double w = c.weight[i];
  if (!(P.hasOutcome && outcomeTerms(P, x, c, i, w, a, sink))) {
    for (int k = 0; k < G; ++k) a[k] = w * c.groupTerm[c.gi(k, i)];
  }
  // Group scores, weighted by a_k.
  const double* score = c.groupScore.data() + static_cast<std::size_t>(i) * P.nScores;
  for (int k = 0; k < G; ++k) {
    const SingleGroupPlan& g = P.groups[k];
    if (a[k] == 0.0) continue;  // a group term of 0 moves nothing
    const double* s = score + g.scoreOffset;
    const int* slot = P.scoreSlot.data() + g.scoreOffset;
    for (int q = 0; q < g.nScores; ++q) sink.add(slot[q], -a[k] * s[q]);
  }
  // Membership: pi_h sum_k a_k - a_h for the constant, times each risk value
  // for the risk coefficients.
  if (P.nRisk > 0) {
    subjectLogMembership(P, c, x, i, logPi);
    for (int k = 0; k < G; ++k) logPi[k] = std::exp(logPi[k]);  // now pi_k
  }
  const double* pi = P.nRisk > 0 ? logPi : P.pi.data();
  double total = 0.0;
  for (int k = 0; k < G; ++k) total += a[k];
  const double* risk = P.nRisk > 0 ? c.measurementTables.riskValue.data() + static_cast<std::size_t>(i) * P.nRisk : nullptr;
  for (int h = 0; h < G; ++h) {
    const int b = P.groups[h].membership;
    if (b < 0) continue;
    const double v = pi[h] * total - a[h];
    sink.add(b, v);
    for (int r = 0; r < P.nRisk; ++r) sink.add(b + 1 + r, v * risk[r]);
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
  const SinglePlan P = singlePlan(c, x);
  if (c.groupScore.size() != static_cast<std::size_t>(c.nObs) * P.nScores ||
      c.subjectLogLik.size() != static_cast<std::size_t>(c.nObs)) {
    // Not preceded by a likelihood evaluation of this run: make one.
    double f = 0.0;
    singleModelLogLikelihood(n, x, &f, ctx);
  }
  struct Scratch {
    std::vector<double> a, logPi;
  };
  const auto G = static_cast<std::size_t>(P.nGroups);
  sumSubjectGradients<Scratch>(
      c, singlePool(c), n, P.nChunks, P.chunk, g, [G] { return Scratch{std::vector<double>(G), std::vector<double>(G)}; },
      [&](int i, Scratch& s, GradientSink& sink) { subjectGradient(P, x, c, i, s.a.data(), s.logPi.data(), sink); });

  if (c.debugTrace) {
    host.standardOutput("gradient\n");
    traceVector(host, n, g, kGradientRowFormat);
  }
  return 0;
}

}  // namespace kurv
