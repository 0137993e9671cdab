// Single-trajectory mixture likelihood, in the log domain.
//
// For subject i the mixture likelihood is
//   L_i = O_i * sum_k pi_k(i) * prod_j D_kij * prod_j f_kij,
// groups k, periods j. Over many periods the products fall below the
// smallest double, so each group term is kept as its logarithm, a sum of
// per-cell log densities, and the groups are combined by log-sum-exp:
//   ln S_i = M + ln sum_k exp(ln G_ik - M),  M = max_k ln G_ik,
// which neither underflows nor overflows. The posteriors G_ik / S_i =
// exp(ln G_ik - ln S_i) are left in groupTerm; the gradient weights the
// group scores the kernel adds on the way (models/single_kernel.h). The
// outcome analysis (O_i) models one further variable through the
// posterior-weighted mix of one constant per group. An evaluation fails
// only when some ln L_i is not a finite number.

#include "models/single_likelihood.h"

#include <algorithm>
#include <cfloat>
#include <cmath>

#include "core/logistic.h"
#include "core/text_format.h"
#include "models/densities.h"
#include "models/group_blocks.h"
#include "models/log_densities.h"
#include "models/measurement_tables.h"
#include "models/membership.h"
#include "models/parameter_layout.h"
#include "models/parameter_trace.h"
#include "models/single_kernel.h"
#include "models/subject_chunks.h"

namespace kurv {

namespace {

// Chunks hold at least 64 subjects (a chunk's bookkeeping is then a small
// part of its work) and there are at most 512 of them (the gradient keeps one
// partial vector, and with weights one n x n sum, per chunk).
constexpr std::size_t kSmallestChunk = 64;
constexpr std::size_t kMostChunks = 512;

// Subject rows of model P.model's cell tables, from row `base`: the cells'
// kinds and outcomes, time powers and covariates of group g (null when the
// group has none).
struct CellRows {
  const unsigned char* kinds;
  const double* ys;
  const double* powers;
  const double* covs;
};

CellRows cellRows(const SinglePlan& P, const MeasurementTables& tab, const SingleGroupPlan& g, std::size_t base) {
  const std::size_t nPowers = static_cast<std::size_t>(P.nPowers);
  const std::size_t nCov = static_cast<std::size_t>(g.nCovariates);
  return {tab.cellKind[P.model].data() + base, tab.y[P.model].data() + base,
          nPowers > 0 ? tab.timePower[P.model].data() + base * nPowers : nullptr,
          nCov > 0 ? tab.covariate[P.model].data() + base * nCov : nullptr};
}

// The common CNORM case, a subject none of whose cells lies at a censoring
// bound: with z_j = (y_j - mu_j)/sigma over its n usable cells,
//   ln G = -sum z_j^2 / 2 + n (ln(1/sqrt(2 pi)) - ln sigma),
//   d ln G/d beta_p = sum z_j r_jp / sigma,  d ln G/d ln sigma = sum z_j^2 - n,
// sums of products without a single exp. Order is the trajectory's order
// (fixed at compile time, so the polynomial is unrolled); without covariates
// the loop writes no memory, so the coefficients and 1/sigma stay in
// registers (a store through `s` could otherwise alias them).
template <int Order, bool HasCovariates>
double interiorCells(const SinglePlan& P, const MeasurementTables& tab, const double* x, const SingleGroupPlan& g,
                     std::size_t base, double* s) {
  const int T = P.nPeriods;
  const std::size_t nPowers = static_cast<std::size_t>(P.nPowers);
  const int nCov = g.nCovariates;
  const auto [kinds, ys, powers, covs] = cellRows(P, tab, g, base);
  const double* b = x + g.trajectory;
  const double invSigma = P.invSigma;
  double coef[Order + 1];
  for (int p = 0; p <= Order; ++p) coef[p] = b[p];
  double zz = 0.0;
  double sum[Order + 1] = {};
  double count = 0.0;
  for (int j = 0; j < T; ++j) {
    if (kinds[j] == kCellUnusable) continue;
    // tp[p - 1] = t^p for p = 1..Order (the table starts at the first power).
    const double* tp = Order > 0 ? powers + static_cast<std::size_t>(j) * nPowers : nullptr;
    double mu = coef[0];
    for (int p = 1; p <= Order; ++p) mu += tp[p - 1] * coef[p];
    const double* cv = HasCovariates ? covs + static_cast<std::size_t>(j) * nCov : nullptr;
    if constexpr (HasCovariates)
      for (int q = 0; q < nCov; ++q) mu += cv[q] * b[Order + 1 + q];
    const double z = (ys[j] - mu) * invSigma;
    zz += z * z;
    count += 1.0;
    sum[0] += z;
    for (int p = 1; p <= Order; ++p) sum[p] += z * tp[p - 1];
    if constexpr (HasCovariates)
      for (int q = 0; q < nCov; ++q) s[Order + 1 + q] += z * invSigma * cv[q];
  }
  for (int p = 0; p <= Order; ++p) s[p] += sum[p] * invSigma;
  s[g.sigmaSlot] += zz - count;
  return -0.5 * zz + count * (kLogInvSqrt2Pi - P.logSigma);
}

template <int Order>
double interiorCellsWith(const SinglePlan& P, const MeasurementTables& tab, const double* x,
                         const SingleGroupPlan& g, std::size_t base, double* s) {
  return g.nCovariates > 0 ? interiorCells<Order, true>(P, tab, x, g, base, s)
                           : interiorCells<Order, false>(P, tab, x, g, base, s);
}

double interiorCellsOfOrder(const SinglePlan& P, const MeasurementTables& tab, const double* x,
                            const SingleGroupPlan& g, std::size_t base, double* s) {
  switch (g.order) {
    case 0: return interiorCellsWith<0>(P, tab, x, g, base, s);
    case 1: return interiorCellsWith<1>(P, tab, x, g, base, s);
    case 2: return interiorCellsWith<2>(P, tab, x, g, base, s);
    case 3: return interiorCellsWith<3>(P, tab, x, g, base, s);
    case 4: return interiorCellsWith<4>(P, tab, x, g, base, s);
    default: return interiorCellsWith<5>(P, tab, x, g, base, s);
  }
}

// Adds the cells of group g of subject i (row `base` of the tables) to its
// log term and its score slots `s`. Kind is the model's distribution, fixed
// for the whole loop: the cells are not dispatched one by one.
template <int Kind>
double addCells(const SinglePlan& P, const ModelContext& c, const double* x, const SingleGroupPlan& g,
                std::size_t base, double* s) {
  const MeasurementTables& tab = c.measurementTables;
  const int T = P.nPeriods;
  const int nPowers = P.nPowers;
  const int nCov = g.nCovariates;
  const int order = g.order;
  const auto [kinds, ys, powers, covs] = cellRows(P, tab, g, base);
  const double* b = x + g.trajectory;
  double logTerm = 0.0;
  if (g.zeroOnly) {
    // Density 1 for a zero, 0 for anything else; no slopes.
    for (int j = 0; j < T; ++j) {
      if (kinds[j] != kCellUnusable && ys[j] != 0.0) return -HUGE_VAL;
    }
    return 0.0;
  }
  if constexpr (Kind == kCnorm) {
    if (order >= 0 && order <= kMaxPolyOrder && tab.subjectCensored[P.model][base / T] == 0)
      return interiorCellsOfOrder(P, tab, x, g, base, s);
  }
  const double* zi = x + g.zeroInflation;
  const bool hasExposure = !tab.exposure[P.model].empty();
  for (int j = 0; j < T; ++j) {
    const unsigned char kind = kinds[j];
    if (kind == kCellUnusable) continue;
    const double* tp = powers ? powers + static_cast<std::size_t>(j) * nPowers : nullptr;
    const double* cv = covs ? covs + static_cast<std::size_t>(j) * nCov : nullptr;
    double mu = 0.0;
    if (order >= 0) {
      mu = b[0];
      for (int p = 1; p <= order; ++p) mu += tp[p - 1] * b[p];
      for (int q = 0; q < nCov; ++q) mu += cv[q] * b[order + 1 + q];
    }
    CellLog cell;
    if constexpr (Kind == kCnorm) {
      cell = kind == kCellMeasured
                 ? logNormalInterior(ys[j], mu, P.invSigma, P.logSigma)
                 : logNormalCensored(kind == kCellBelow, kind == kCellBelow ? P.lower : P.upper, mu, P.sigma);
      s[g.sigmaSlot] += cell.dExtra;
    } else if constexpr (Kind == kLogit) {
      cell = logLogit(c.expClamp, ys[j], mu);
    } else {
      double omega = 0.0;
      if (g.inflOrder >= 0) {
        double eta = zi[0];
        for (int p = 1; p <= g.inflOrder; ++p) eta += tp[p - 1] * zi[p];
        omega = logistic(c.expClamp, eta);
      }
      double lambda = std::exp(c.expClamp(mu));
      if (hasExposure) lambda *= tab.exposure[P.model][base + j];
      cell = logZip(c.expClamp, ys[j], lambda, omega, tab.logGammaY1[P.model][base + j]);
      if (g.inflOrder >= 0) {
        double* sz = s + g.inflSlot;
        sz[0] += cell.dExtra;
        for (int p = 1; p <= g.inflOrder; ++p) sz[p] += cell.dExtra * tp[p - 1];
      }
    }
    logTerm += cell.logf;
    if (order >= 0) {
      s[0] += cell.dMu;
      for (int p = 1; p <= order; ++p) s[p] += cell.dMu * tp[p - 1];
      for (int q = 0; q < nCov; ++q) s[order + 1 + q] += cell.dMu * cv[q];
    }
  }
  return logTerm;
}

// The dropout factors of group g of subject i: their log sum, their slopes
// in the group's dropout slots and, when `store` is given, the factors
// themselves in the run record's (g, i, j) cells (results read them).
double addDropout(const SinglePlan& P, const ModelContext& c, const double* x, const SingleGroupPlan& g,
                  int i, double* s, double* store) {
  const MeasurementTables& tab = c.measurementTables;
  const int T = P.nPeriods;
  const int d = g.dropoutOrder;
  const std::size_t base = static_cast<std::size_t>(i) * T;
  const double* coef = x + g.dropout;
  double logTerm = 0.0;
  for (int j = 0; j < T; ++j) {
    if (!dropoutPeriodEligible(c, d, i, j)) continue;
    bool present = tab.dropoutCovariatesPresent[base + j] != 0;
    for (int p = 1; p <= d && present; ++p) present = tab.outcomePresent[base + j - p] != 0;
    if (!present) continue;
    double eta = coef[0];
    for (int p = 1; p <= d; ++p) eta += c.outcomeY[0][j - p][i] * coef[p];
    const double* dc = P.nDcov > 0 ? tab.dropoutCovariate.data() + (base + j) * P.nDcov : nullptr;
    for (int q = 0; q < P.nDcov; ++q) eta += dc[q] * coef[d + 1 + q];
    // Staying (j before the last observed period) has factor 1 - p, ln(1 -
    // p) = -softplus(eta) and slope -p; dropping out factor p, ln p =
    // -softplus(-eta) and slope 1 - p.
    const double m = c.expClamp(eta);
    const double p = logistic(c.expClamp, eta);
    const bool stays = j < c.lastPeriod[i];
    const double slope = stays ? -p : 1.0 - p;
    logTerm += stays ? -softplus(m) : -softplus(-m);
    if (store) store[j] = stays ? 1.0 - p : p;
    double* sd = s + g.dropoutSlot;
    sd[0] += slope;
    for (int q = 1; q <= d; ++q) sd[q] += slope * c.outcomeY[0][j - q][i];
    for (int q = 0; q < P.nDcov; ++q) sd[d + 1 + q] += slope * dc[q];
  }
  return logTerm;
}

template <int Kind>
ChunkResult evaluateChunk(const SinglePlan& P, ModelContext& c, const double* x, int first, int last,
                          double missing) {
  const int G = P.nGroups;
  const int T = P.nPeriods;
  std::vector<double> logPi(static_cast<std::size_t>(G)), logTerm(static_cast<std::size_t>(G));
  ChunkResult r;
  for (int i = first; i < last; ++i) {
    double* score = c.groupScore.data() + static_cast<std::size_t>(i) * P.nScores;
    std::fill(score, score + P.nScores, 0.0);
    subjectLogMembership(P, c, x, i, logPi.data());
    const std::size_t base = static_cast<std::size_t>(i) * T;
    if (P.hasDropout) {
      for (int k = 0; k < G; ++k) std::fill_n(c.dropoutFactorStore.data() + c.gij(k, i, 0), T, missing);
    }
    c.outcomeTerm[i] = 1.0;
    if (c.excluded[i] != 0) {
      // No data take part: the group terms are the membership probabilities
      // and the subject's likelihood is 1.
      for (int k = 0; k < G; ++k) c.groupTerm[c.gi(k, i)] = std::exp(logPi[k]);
      c.subjectLogLik[i] = 0.0;
      continue;
    }
    double top = -HUGE_VAL;
    bool nan = false;
    for (int k = 0; k < G; ++k) {
      const SingleGroupPlan& g = P.groups[k];
      double* s = score + g.scoreOffset;
      double lt = logPi[k] + addCells<Kind>(P, c, x, g, base, s);
      if (P.hasDropout && g.dropoutOrder != -1) {
        lt += addDropout(P, c, x, g, i, s, &c.dropoutFactorStore[c.gij(k, i, 0)]);
      }
      logTerm[k] = lt;
      if (std::isnan(lt)) nan = true;
      top = std::max(top, lt);
    }
    double logS = top;
    if (nan) {
      logS = std::nan("");
    } else if (top > -HUGE_VAL && top < HUGE_VAL) {
      double sum = 0.0;
      // logTerm becomes exp(ln G_k - M), each exp taken once.
      for (int k = 0; k < G; ++k) sum += (logTerm[k] = std::exp(logTerm[k] - top));
      logS = top + std::log(sum);
      for (int k = 0; k < G; ++k) c.groupTerm[c.gi(k, i)] = logTerm[k] / sum;
    }
    if (!std::isfinite(logS)) {
      for (int k = 0; k < G; ++k) c.groupTerm[c.gi(k, i)] = 0.0;
    }
    double logL = logS;
    if (P.hasOutcome && c.measurementTables.outcomeValuePresent[i] != 0 && std::isfinite(logS)) {
      // eta = sum_k posterior_k theta_k, clamped.
      double eta = 0.0;
      for (int k = 0; k < G; ++k) eta += c.groupTerm[c.gi(k, i)] * x[P.outcomeConstant[k]];
      eta = c.expClamp(eta);
      c.outcomeTerm[i] = outcomeDensity(c, i, eta, P.sigmaO, P.omegaO);
      logL += std::log(c.outcomeTerm[i]);
    }
    c.subjectLogLik[i] = logL;
    if (!std::isfinite(logL)) {
      r.failed = true;
      continue;
    }
    r.sum += -logL * c.weight[i];
  }
  return r;
}

// ln pi_k for risk values `risk` (nRisk of them; none without risk factors):
// pi_k = exp(eta_k) / (1 + sum_{h != ref} exp(eta_h)) with clamped eta and
// the reference group's eta = 0, so ln pi_k = eta_k - ln(that sum).
void logMembership(const SinglePlan& P, const ModelContext& c, const double* x, const double* risk,
                   double* logPi) {
  double sum = 1.0;
  for (int k = 0; k < P.nGroups; ++k) {
    const SingleGroupPlan& g = P.groups[k];
    if (g.membership < 0) {
      logPi[k] = 0.0;
      continue;
    }
    double eta = x[g.membership];
    for (int r = 0; r < P.nRisk; ++r) eta += x[g.membership + 1 + r] * risk[r];
    eta = c.expClamp(eta);
    logPi[k] = eta;
    sum += std::exp(eta);
  }
  const double logSum = std::log(sum);
  for (int k = 0; k < P.nGroups; ++k) logPi[k] -= logSum;
}

}  // namespace

WorkerPool& singlePool(ModelContext& ctx) {
  const int wanted = ctx.nThreads > 0 ? ctx.nThreads : static_cast<int>(std::thread::hardware_concurrency());
  if (!ctx.workerPool || ctx.workerPool->size() != std::max(wanted, 1)) {
    ctx.workerPool.reset();
    ctx.workerPool = std::make_shared<WorkerPool>(wanted);
  }
  return *ctx.workerPool;
}

namespace {

// The plan of model m's trajectories; with `single`, also the dropout,
// membership and outcome parts of a single-trajectory run (model 1).
SinglePlan buildPlan(const ModelContext& c, const double* x, int m, bool single) {
  SinglePlan P;
  const MeasurementTables& tab = c.measurementTables;
  P.model = m;
  P.kind = c.modelKind[m];
  P.nGroups = c.nGroups[m];
  P.nPeriods = c.nPeriods[m];
  P.nPowers = tab.nPowers[m];
  P.nRisk = single ? std::max(c.nRisk[0], 0) : 0;
  P.nDcov = single ? c.dcovPerPeriod : 0;
  P.hasDropout = single && c.nDropoutOrder > 0;
  P.hasOutcome = single && c.hasOutcome;
  const int sigmaIndex = P.kind == kCnorm ? logSigmaIndex(c, m) : -1;
  if (sigmaIndex >= 0) {
    // The scale is held as ln sigma: its logarithm is the parameter itself.
    P.logSigma = x[sigmaIndex];
    P.sigma = std::exp(P.logSigma);
    P.invSigma = 1.0 / P.sigma;
    P.lower = c.censorMin[m];
    P.upper = c.censorMax[m];
  }
  const int ref = referenceGroup(c, 0);
  const std::vector<int> member =
      single ? c.layout.perGroup(0, BlockKind::Membership, 0, P.nGroups) : std::vector<int>(P.nGroups, -1);
  for (int k = 0; k < P.nGroups; ++k) {
    SingleGroupPlan g;
    const GroupBlocks blocks = groupBlocks(c, m, k);
    g.order = trajectoryOrder(c, m, k);
    g.nCovariates = g.order >= 0 ? c.tcovPerPeriod[m] : 0;
    g.trajectory = blocks.trajectory;
    g.zeroOnly = isZeroOnlyGroup(c, m, k);
    g.inflOrder = P.kind == kZip ? zeroInflationOrder(c, m, k) : -1;
    g.zeroInflation = blocks.zeroInflation;
    g.dropoutOrder = P.hasDropout ? dropoutOrderOf(c, k) : -1;
    g.dropout = blocks.dropout;
    g.membership = !single || k == ref ? -1 : member[k];
    g.scoreOffset = static_cast<int>(P.scoreSlot.size());
    const int nTrajectory = g.order >= 0 ? g.order + 1 + g.nCovariates : 0;
    for (int p = 0; p < nTrajectory; ++p) P.scoreSlot.push_back(g.trajectory + p);
    if (sigmaIndex >= 0) {
      g.sigmaSlot = static_cast<int>(P.scoreSlot.size()) - g.scoreOffset;
      P.scoreSlot.push_back(sigmaIndex);
    }
    if (g.inflOrder >= 0) {
      g.inflSlot = static_cast<int>(P.scoreSlot.size()) - g.scoreOffset;
      for (int p = 0; p <= g.inflOrder; ++p) P.scoreSlot.push_back(g.zeroInflation + p);
    }
    if (g.dropoutOrder != -1) {
      g.dropoutSlot = static_cast<int>(P.scoreSlot.size()) - g.scoreOffset;
      for (int q = 0; q < g.dropoutOrder + 1 + P.nDcov; ++q) P.scoreSlot.push_back(g.dropout + q);
    }
    g.nScores = static_cast<int>(P.scoreSlot.size()) - g.scoreOffset;
    P.groups.push_back(g);
  }
  P.nScores = static_cast<int>(P.scoreSlot.size());
  P.chunk = chunkSize(static_cast<std::size_t>(c.nObs), kSmallestChunk, kMostChunks);
  P.nChunks = static_cast<int>((static_cast<std::size_t>(c.nObs) + P.chunk - 1) / P.chunk);
  if (!single) return P;
  P.logPi.assign(static_cast<std::size_t>(P.nGroups), 0.0);
  if (P.nRisk == 0) logMembership(P, c, x, nullptr, P.logPi.data());
  for (double v : P.logPi) P.pi.push_back(std::exp(v));
  if (P.hasOutcome) {
    P.outcomeConstant = c.layout.perGroup(0, BlockKind::Outcome, 0, P.nGroups);
    P.outcomeExtra = c.layout.find(0, BlockKind::Outcome, -1, 0);
    if (c.omodelKind == kCnorm) P.sigmaO = std::exp(x[P.outcomeExtra]);
    if (c.omodelKind == kZip && c.outcomeHasZeroInflation) P.omegaO = logistic(c.expClamp, x[P.outcomeExtra]);
  }
  return P;
}

}  // namespace

SinglePlan singlePlan(const ModelContext& c, const double* x) { return buildPlan(c, x, 0, true); }

SinglePlan trajectoryPlan(const ModelContext& c, const double* x, int m) { return buildPlan(c, x, m, false); }

double addGroupCells(const SinglePlan& P, const ModelContext& c, const double* x, int k, int i, double* score) {
  const std::size_t base = static_cast<std::size_t>(i) * P.nPeriods;
  const SingleGroupPlan& g = P.groups[k];
  switch (P.kind) {
    case kCnorm: return addCells<kCnorm>(P, c, x, g, base, score + g.scoreOffset);
    case kLogit: return addCells<kLogit>(P, c, x, g, base, score + g.scoreOffset);
    case kZip: return addCells<kZip>(P, c, x, g, base, score + g.scoreOffset);
    default: return 0.0;
  }
}

void subjectLogMembership(const SinglePlan& P, const ModelContext& c, const double* x, int i,
                          double* logPi) {
  if (P.nRisk == 0) {
    std::copy(P.logPi.begin(), P.logPi.end(), logPi);
    return;
  }
  logMembership(P, c, x, &c.measurementTables.riskValue[static_cast<std::size_t>(i) * P.nRisk], logPi);
}

void ensureSingleModelArrays(ModelContext& c) {
  const std::size_t nGroups = static_cast<std::size_t>(c.nGroups[0]);
  const std::size_t nObs = static_cast<std::size_t>(c.nObs);
  const std::size_t cells = nGroups * nObs * static_cast<std::size_t>(c.nPeriods[0]);
  ensureSize(c.periodSigma, static_cast<std::size_t>(c.nPeriods[0]));
  if (c.nDropoutOrder > 0) ensureSize(c.dropoutFactorStore, cells);
  ensureSize(c.groupTerm, nGroups * nObs);
  ensureSize(c.outcomeTerm, nObs);
  ensureSize(c.subjectLogLik, nObs);
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
  const double missing = host.missingValue();
  const SinglePlan P = singlePlan(c, x);
  ensureSize(c.groupScore, static_cast<std::size_t>(c.nObs) * P.nScores);
  if (P.kind == kCnorm) std::fill(c.periodSigma.begin(), c.periodSigma.end(), P.sigma);
  if (P.nRisk == 0) std::copy(P.pi.begin(), P.pi.end(), c.membershipProb[0].begin());

  const double sum = sumSubjectChunks(c, singlePool(c), P.nChunks, P.chunk, [&](int first, int last) {
    switch (P.kind) {
      case kCnorm: return evaluateChunk<kCnorm>(P, c, x, first, last, missing);
      case kLogit: return evaluateChunk<kLogit>(P, c, x, first, last, missing);
      default: return evaluateChunk<kZip>(P, c, x, first, last, missing);
    }
  });
  *f = sum;
  if (c.debugTrace) {
    const std::string line = formatText("nll=%f\n", sum);
    host.standardOutput(line.c_str());
    host.display(line.c_str());
  }
  return 0;
}

}  // namespace kurv
