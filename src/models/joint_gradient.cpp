// Gradient of -sum_i w_i ln L_i for the joint model.
//
// For subject i, with G1_j = pi_j prod_t f1_jt (model-1 group j, membership
// included), G2_k = prod_t f2_kt (model-2 group k), pi_{k|j} model 2's
// conditional membership, and
//   A_j = sum_k pi_{k|j} G2_k  (model 2's mixture given j),
//   B_k = sum_j G1_j pi_{k|j}  (the weight of model-2 group k),
//   L   = sum_j G1_j A_j:
//  - a trajectory, scale or zero-inflation parameter of model-1 group j
//    enters only f1_jt: d ln L = pi_j A_j / L * sum_t df1_jt prod_{t' != t} f1_jt';
//  - one of model-2 group k enters only f2_kt:
//    d ln L = B_k / L * sum_t df2_kt prod_{t' != t} f2_kt';
//  - model 1's membership constant of group h (times a risk value for its
//    risk coefficients): d ln L = (G1_h A_h - pi_h L) / L;
//  - model 2's conditional constant of group g given j:
//    d ln L = G1_j pi_{g|j} (G2_g - A_j) / L, the derivative of the softmax
//    d pi_{k|j} / d c_{g|j} = pi_{k|j} (delta_kg - pi_{g|j});
//  - model 2's risk coefficient r of group g, shared by every j:
//    d ln L = v_r sum_j G1_j pi_{g|j} (G2_g - A_j) / L.
// The products over every period but t are prefix times suffix products,
// so the whole gradient costs O(subjects x groups x periods x block size).

#include "models/joint_gradient.h"

#include <algorithm>
#include <cmath>

#include "models/gradient_sink.h"
#include "models/group_blocks.h"
#include "models/joint_likelihood.h"
#include "models/measurement_derivative.h"
#include "models/measurement_tables.h"
#include "models/membership.h"
#include "models/parameter_trace.h"

namespace kurv {

namespace {

inline constexpr const char* kJointGradientRowFormat = " %12.6f %12.6f %12.6f %12.6f %12.6f %12.6f";

template <typename T>
void ensureSize(std::vector<T>& v, std::size_t size) {
  if (v.size() < size) v.resize(size);
}

// Per-subject quantities shared by every term.
struct SubjectTerms {
  int i = 0;
  double w = 0.0;
  double L = 0.0;
  std::vector<double> A, B;  // [j], [k]
};

// Where the parameters that are not group blocks sit, read once per call
// from the layout.
struct MembershipPlaces {
  std::vector<int> model1;       // [h]: constant of model-1 group h (-1 for the reference)
  std::vector<int> blockStart;   // [j]: first conditional constant given model-1 group j
  std::vector<int> model2Risk;   // [g]: first risk coefficient of model-2 group g
};

MembershipPlaces membershipPlaces(const ModelContext& c) {
  MembershipPlaces places;
  for (int h = 0; h < c.nGroups[0]; ++h) places.model1.push_back(c.layout.find(0, BlockKind::Membership, h, 0));
  places.blockStart = conditionalBlockStarts(c);
  for (int g = 0; g < c.nGroups[1]; ++g)
    places.model2Risk.push_back(c.nRisk[1] > 0 && g > 0 ? conditionalRiskStart(c, g) : -1);
  return places;
}

// The measurement terms of model m for one subject: every usable period and
// group, the group's trajectory block, the model's scale (times sigma: the
// parameter is ln sigma) and the group's zero-inflation block, each weighted
// by scale[g] times the product of the group's other periods.
void measurementTerms(int n, const double* x, ModelContext& c, int m, int i, const double* scale,
                      GradientSink& sink) {
  const int T = c.nPeriods[m];
  const int G = c.nGroups[m];
  const int kind = c.modelKind[m];
  const int sigmaIndex = kind == kCnorm ? logSigmaIndex(c, m) : -1;
  const double sigma = kind == kCnorm ? std::exp(x[sigmaIndex]) : 0.0;
  const std::vector<double>& prefix = m == 0 ? c.periodPrefix : c.periodPrefix2;
  const std::vector<double>& suffix = m == 0 ? c.periodSuffix : c.periodSuffix2;
  double* work = c.derivativeWork.data();
  c.currentModel = m;
  for (int t = 0; t < T; ++t) {
    if (!usablePeriod(c, m, i, t)) continue;
    c.cursorPeriod = t;
    for (int g = 0; g < G; ++g) {
      c.cursorGroup = g;
      measurementDerivative(n, x, work, &c);
      const std::size_t base = static_cast<std::size_t>(g) * (T + 1);
      const double factor = scale[g] * prefix[base + t] * suffix[base + t + 1];
      const GroupBlocks blocks = groupBlocks(c, m, g);
      const int size = trajectoryBlockSize(c, m, g);
      for (int p = blocks.trajectory; p < blocks.trajectory + size; ++p) sink.subtract(p, factor * work[p]);
      if (kind == kCnorm) sink.subtract(sigmaIndex, factor * work[sigmaIndex] * sigma);
      if (kind == kZip) {
        const int inflOrder = zeroInflationOrder(c, m, g);
        for (int p = blocks.zeroInflation; p <= blocks.zeroInflation + inflOrder; ++p)
          sink.subtract(p, factor * work[p]);
      }
    }
  }
  c.currentModel = 0;
}

void ensureGradientArrays(ModelContext& c, int n) {
  ensureSize(c.periodPrefix, static_cast<std::size_t>(c.nGroups[0]) * (c.nPeriods[0] + 1));
  ensureSize(c.periodSuffix, static_cast<std::size_t>(c.nGroups[0]) * (c.nPeriods[0] + 1));
  ensureSize(c.periodPrefix2, static_cast<std::size_t>(c.nGroups[1]) * (c.nPeriods[1] + 1));
  ensureSize(c.periodSuffix2, static_cast<std::size_t>(c.nGroups[1]) * (c.nPeriods[1] + 1));
  ensureSize(c.derivativeWork, static_cast<std::size_t>(n));
  if (c.hasWeights) {
    ensureSize(c.subjectScore, static_cast<std::size_t>(n));
    ensureSize(c.scoreOuterSum, static_cast<std::size_t>(n) * n);
  }
}

// One subject's contributions.
void subjectGradient(int n, const double* x, ModelContext& c, const MembershipPlaces& places, SubjectTerms& s,
                     GradientSink& sink) {
  const int G1 = c.nGroups[0];
  const int G2 = c.nGroups[1];
  const int i = s.i;
  c.cursorSubject = i;
  // pi_{k|j}, A_j and B_k.
  for (int k = 0; k < G2; ++k) s.B[k] = 0.0;
  for (int j = 0; j < G1; ++j) {
    conditionalMembership(x, c, i, places.blockStart[j]);
    double a = 0.0;
    for (int k = 0; k < G2; ++k) {
      const double p = c.membershipProb[1][k];
      c.conditionalProb[j * G2 + k] = p;
      a += p * c.groupTerm2[c.gi(k, i)];
      s.B[k] += c.groupTerm[c.gi(j, i)] * p;
    }
    s.A[j] = a;
  }
  // Products of the other periods, per group of each model.
  for (int j = 0; j < G1; ++j) {
    const std::size_t base = static_cast<std::size_t>(j) * (c.nPeriods[0] + 1);
    periodProducts(&c.periodDensity[c.gij(j, i, 0)], c.nPeriods[0], &c.periodPrefix[base], &c.periodSuffix[base]);
  }
  for (int k = 0; k < G2; ++k) {
    const std::size_t base = static_cast<std::size_t>(k) * (c.nPeriods[1] + 1);
    periodProducts(&c.periodDensity2[model2Cell(c, k, i, 0)], c.nPeriods[1], &c.periodPrefix2[base],
                   &c.periodSuffix2[base]);
  }
  const double wl = s.w / s.L;

  // Measurements of both models.
  std::vector<double>& scale = c.derivativeWork2;
  for (int j = 0; j < G1; ++j) scale[j] = wl * c.membershipProb[0][j] * s.A[j];
  measurementTerms(n, x, c, 0, i, scale.data(), sink);
  for (int k = 0; k < G2; ++k) scale[k] = wl * s.B[k];
  measurementTerms(n, x, c, 1, i, scale.data(), sink);

  // Model 1's membership.
  double total = 0.0;
  for (int j = 0; j < G1; ++j) total += c.groupTerm[c.gi(j, i)] * s.A[j];
  for (int h = 0; h < G1; ++h) {
    const int b = places.model1[h];
    if (b < 0) continue;  // the reference group
    const double d = wl * (c.membershipProb[0][h] * total - c.groupTerm[c.gi(h, i)] * s.A[h]);
    sink.add(b, d);
    for (int r = 0; r < c.nRisk[0]; ++r) sink.add(b + 1 + r, d * c.risk[0][r][i]);
  }

  // Model 2's conditional constants and its shared risk coefficients; model
  // 2's reference group is its first.
  for (int g = 1; g < G2; ++g) {
    double shared = 0.0;
    for (int j = 0; j < G1; ++j) {
      const double d = wl * c.groupTerm[c.gi(j, i)] * c.conditionalProb[j * G2 + g] *
                       (c.groupTerm2[c.gi(g, i)] - s.A[j]);
      sink.subtract(places.blockStart[j] + g - 1, d);
      shared += d;
    }
    for (int r = 0; r < c.nRisk[1]; ++r) sink.subtract(places.model2Risk[g] + r, shared * c.risk[1][r][i]);
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
  ensureMeasurementTables(c);
  ensureJointModelArrays(c);
  ensureGradientArrays(c, n);
  ensureSize(c.derivativeWork2, static_cast<std::size_t>(std::max({n, c.nGroups[0], c.nGroups[1]})));
  for (int p = 0; p < n; ++p) g[p] = 0.0;
  if (c.hasWeights)
    for (std::size_t e = 0; e < static_cast<std::size_t>(n) * n; ++e) c.scoreOuterSum[e] = 0.0;
  c.currentModel = 0;
  const bool hasRisk1 = c.nRisk[0] > 0;
  if (!hasRisk1) computeMembershipProbabilities(0, c.thetaStart, c.risk[0], x, &c);
  const MembershipPlaces places = membershipPlaces(c);
  SubjectTerms s;
  s.A.resize(static_cast<std::size_t>(c.nGroups[0]));
  s.B.resize(static_cast<std::size_t>(c.nGroups[1]));

  for (int i = 0; i < c.nObs; ++i) {
    s.i = i;
    s.L = c.subjectLik[i];
    s.w = c.weight[i];
    if (!(s.L > 0.0) || c.excluded[i] != 0) continue;
    if (hasRisk1) computeMembershipProbabilities(i, c.thetaStart, c.risk[0], x, &c);
    double* score = nullptr;
    if (c.hasWeights) {
      score = c.subjectScore.data();
      for (int p = 0; p < n; ++p) score[p] = 0.0;
    }
    GradientSink sink(g, score);
    subjectGradient(n, x, c, places, s, sink);
    if (score) addScoreOuterProduct(score, n, c.scoreOuterSum);
  }

  if (c.debugTrace) {
    host.standardOutput("jointModelDerivative\n");
    traceVector(host, n, g, kJointGradientRowFormat);
  }
  return 0;
}

}  // namespace kurv
