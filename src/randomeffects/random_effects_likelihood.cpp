// Within group g subject i's used measurements are
//   Y = X beta_g + Z b + e,  b ~ N(0, D_g), D_g = diag(exp(2 theta_k)),
//   e ~ N(0, sigma^2 I),
// with Z's rows (1, t, ..., t^(q-1)); integrating b out, Y ~ N(X beta_g, S),
// S = Z D_g Z^T + sigma^2 I. With the censored measurements c first and the
// uncensored u after them (residuals r_u = y_u - mu_u),
//   L_g = phi_u(r_u; S_uu) * P(censored events | r_u),
// where the censored ones given r_u are normal with mean shift
// s = S_cu S_uu^-1 r_u and covariance C = S_cc - S_cu S_uu^-1 S_uc; a
// measurement at or below censorMin contributes the event "at most
// censorMin - mu", one at or above censorMax "at least censorMax - mu". The
// event probability is a multivariate normal rectangle probability of the
// standardised limits under C's correlations. The subject's likelihood is
// sum_g pi_g L_g.

#include "randomeffects/random_effects_likelihood.h"

#include <cblas.h>

#include <cfloat>
#include <cmath>
#include <string>
#include <vector>

#include "core/text_format.h"
#include "models/densities.h"
#include "models/group_blocks.h"
#include "models/measurement_tables.h"
#include "models/membership.h"
#include "models/single_likelihood.h"
#include "optim/lu.h"
#include "randomeffects/mvn_probability.h"
#include "randomeffects/random_effects_covariance.h"
#include "randomeffects/uniform_stream.h"

namespace kurv {

namespace {

// ln(2 pi).
constexpr double kLogTwoPi = 1.8378770664093453;
// ln(10), for the determinant's decimal exponent.
constexpr double kLogTen = 2.302585092994046;
// Place holder of the trace for positions beyond n.
constexpr double kTraceFiller = -99.0;

// The work arrays of one evaluation, sized for T = nPeriods[0] measurements.
struct Work {
  std::vector<int> occasion;    // used occasions, censored first
  std::vector<double> r;        // limits (censored) and residuals (uncensored)
  std::vector<int> codes;       // 0: at most the limit; 1: at least the limit
  std::vector<double> z, zd;    // design rows and Z D (column-major, m x q)
  std::vector<double> cov;      // S (column-major, m x m)
  std::vector<double> inverse;  // S_uu, then its inverse
  std::vector<int> pivots;
  std::vector<double> luWork;
  std::vector<double> v;        // S_uu^-1 r_u
  std::vector<double> w;        // S_cu S_uu^-1
  std::vector<double> shift;    // W r_u
  std::vector<double> cond;     // conditional covariance C
  std::vector<double> corr;     // its correlations, lower triangle by rows
  std::vector<double> limits;   // standardised limits
  std::vector<double> d;        // diagonal of D
  MvnPrepared mvn;

  explicit Work(int T, int qMax) {
    const std::size_t t = static_cast<std::size_t>(T), q = static_cast<std::size_t>(std::max(qMax, 1));
    occasion.resize(t);
    r.resize(t);
    codes.resize(t);
    z.resize(t * q);
    zd.resize(t * q);
    cov.resize(t * t);
    inverse.resize(t * t);
    pivots.resize(t);
    luWork.resize(t);
    v.resize(t);
    w.resize(t * t);
    shift.resize(t);
    cond.resize(t * t);
    corr.resize(t * t);
    limits.resize(t);
    d.resize(q);
  }
};

enum class SubjectOutcome { Ok, SingularCovariance, NonPositiveDeterminant };

struct GroupSetting {
  int k = 0;
  GroupBlocks blocks;
  RandomEffectsBlock re;
  double sigma = 0.0;
};

// Group likelihood of subject i: L written to *lik.
SubjectOutcome subjectGroupLikelihood(const double* x, ModelContext& c, const GroupSetting& g, int i,
                                      Work& wk, double* lik) {
  const int T = c.nPeriods[0];
  const double lo = c.censorMin[0], hi = c.censorMax[0];
  int nc = 0;
  int m = 0;
  for (int pass = 0; pass < 2; ++pass) {
    for (int j = 0; j < T; ++j) {
      if (!usablePeriod(c, 0, i, j)) continue;
      const double y = c.outcomeY[0][j][i];
      const bool censored = y <= lo || y >= hi;
      if (censored != (pass == 0)) continue;
      const double mu = trajectoryPredictor(x, c, {0, g.k, i, j}, g.blocks.trajectory);
      wk.occasion[static_cast<std::size_t>(m)] = j;
      if (y <= lo) {
        wk.r[static_cast<std::size_t>(m)] = lo - mu;
        wk.codes[static_cast<std::size_t>(m)] = 0;
      } else if (y >= hi) {
        wk.r[static_cast<std::size_t>(m)] = hi - mu;
        wk.codes[static_cast<std::size_t>(m)] = 1;
      } else {
        wk.r[static_cast<std::size_t>(m)] = y - mu;
      }
      ++m;
    }
    if (pass == 0) nc = m;  // censored occasions first (in order), then the others
  }
  *lik = 1.0;
  if (m == 0) return SubjectOutcome::Ok;
  const int u = m - nc;
  const int q = g.re.q;
  for (int row = 0; row < m; ++row)
    for (int p = 0; p < q; ++p)
      wk.z[static_cast<std::size_t>(p) * m + row] = timePower(c, 0, i, wk.occasion[static_cast<std::size_t>(row)], p);
  randomEffectsCovariance(m, q, wk.z.data(), wk.d.data(), g.sigma * g.sigma, wk.zd.data(), wk.cov.data());
  const double* S = wk.cov.data();

  double logDensity = 0.0;
  if (u >= 1) {
    for (int col = 0; col < u; ++col)
      for (int row = 0; row < u; ++row)
        wk.inverse[static_cast<std::size_t>(col) * u + row] = S[static_cast<std::size_t>(nc + col) * m + (nc + row)];
    int info = 0;
    factorLU(wk.inverse.data(), u, u, wk.pivots.data(), info);
    if (info != 0) {
      const std::string text = formatText("Problem: cov mtrx randomEffectsCnormLogLikelihood %d\n", info);
      c.host->display(text.c_str());
      return SubjectOutcome::SingularCovariance;
    }
    double det[2] = {0.0, 0.0};
    invertLU(wk.inverse.data(), u, u, wk.pivots.data(), det, wk.luWork.data(), 11);
    if (!(det[0] > 0.0)) {
      const std::string text = formatText("Problem: negative determinant %f\n", det[0] * std::pow(10.0, det[1]));
      c.host->display(text.c_str());
      return SubjectOutcome::NonPositiveDeterminant;
    }
    const double* ru = wk.r.data() + nc;
    cblas_dgemm(CblasColMajor, CblasNoTrans, CblasNoTrans, u, 1, u, 1.0, wk.inverse.data(), u, ru, u, 0.0,
                wk.v.data(), u);
    const double quad = cblas_ddot(u, ru, 1, wk.v.data(), 1);
    // ln of exp(-quad/2) / sqrt(det) / (2 pi)^(u/2), det = det0 10^det1: the
    // logarithm keeps a tiny determinant from overflowing 1/sqrt(det).
    logDensity = -0.5 * quad - 0.5 * (std::log(det[0]) + det[1] * kLogTen) - 0.5 * u * kLogTwoPi;
  }
  if (nc == 0) {
    *lik = std::exp(logDensity);
    return SubjectOutcome::Ok;
  }
  // The censored measurements' conditional distribution given r_u.
  double* C = wk.cond.data();
  for (int col = 0; col < nc; ++col)
    for (int row = 0; row < nc; ++row)
      C[static_cast<std::size_t>(col) * nc + row] = S[static_cast<std::size_t>(col) * m + row];
  for (int k = 0; k < nc; ++k) wk.shift[static_cast<std::size_t>(k)] = 0.0;
  if (u >= 1) {
    // W = S_cu S_uu^-1 (S_cu: rows 0..c-1 of columns c..m-1 of S).
    cblas_dgemm(CblasColMajor, CblasNoTrans, CblasNoTrans, nc, u, u, 1.0, S + static_cast<std::size_t>(nc) * m, m,
                wk.inverse.data(), u, 0.0, wk.w.data(), nc);
    cblas_dgemm(CblasColMajor, CblasNoTrans, CblasNoTrans, nc, 1, u, 1.0, wk.w.data(), nc, wk.r.data() + nc, u, 0.0,
                wk.shift.data(), nc);
    // C = S_cc - W S_uc (S_uc: rows c..m-1 of columns 0..c-1).
    cblas_dgemm(CblasColMajor, CblasNoTrans, CblasNoTrans, nc, nc, u, -1.0, wk.w.data(), nc, S + nc, m, 1.0, C, nc);
  }
  for (int k = 0; k < nc; ++k) {
    const double sk = std::sqrt(std::fabs(C[static_cast<std::size_t>(k) * nc + k]));
    wk.limits[static_cast<std::size_t>(k)] = (wk.r[static_cast<std::size_t>(k)] - wk.shift[static_cast<std::size_t>(k)]) / sk;
    for (int l = 0; l < k; ++l) {
      const double sl = std::sqrt(std::fabs(C[static_cast<std::size_t>(l) * nc + l]));
      wk.corr[static_cast<std::size_t>(k) * (k - 1) / 2 + l] = C[static_cast<std::size_t>(l) * nc + k] / (sk * sl);
    }
  }
  c.uniformStream.restart();
  const MvnResult p = mvnProbability(nc, wk.limits.data(), wk.limits.data(), wk.codes.data(), wk.corr.data(),
                                     kMvnMaxEvaluations, 0.0, kMvnRelativeTolerance, c.uniformStream, wk.mvn);
  if (p.status != 0) {
    // The observation number (1-based) of the subject.
    const std::string text = formatText(u >= 1 ? "Bad mvnprob obs=%d\n" : "Bad mvn prob obs=%d\n", i + 1);
    c.host->display(text.c_str());
  }
  *lik = u >= 1 ? p.value * std::exp(logDensity) : p.value;
  return SubjectOutcome::Ok;
}

void traceParameters(Host& host, int n, const double* x) {
  host.display("randomEffectsCnormLogLikelihood\n");
  for (int line = 0; line < n / 6 + 1; ++line) {
    double row[6];
    for (int k = 0; k < 6; ++k) row[k] = line * 6 + k < n ? x[line * 6 + k] : kTraceFiller;
    const std::string text = formatText("%12.6f %12.6f %12.6f %12.6f %12.6f %12.6f\n", row[0], row[1], row[2], row[3],
                                        row[4], row[5]);
    host.display(text.c_str());
  }
}

}  // namespace

int randomEffectsCnormLogLikelihood(int n, const double* x, double* f, ModelContext* ctx) {
  ModelContext& c = *ctx;
  if (c.debugTrace) traceParameters(*c.host, n, x);
  ensureMeasurementTables(c);
  ensureSingleModelArrays(c);
  fillUniformStream(c.uniformStream);
  c.currentModel = 0;
  const int G = c.nGroups[0];
  const double sigma = std::exp(x[logSigmaIndex(c, 0)]);
  for (int i = 0; i < c.nObs; ++i) c.subjectLik[i] = 0.0;
  if (c.nRisk[0] <= 0) computeMembershipProbabilities(0, c.thetaStart, c.risk[0], x, &c);
  int qMax = 0;
  for (int k = 0; k < G; ++k) qMax = std::max(qMax, randomEffectsBlock(c, k).q);
  Work wk(c.nPeriods[0], qMax);
  bool failed = false;
  for (int k = 0; k < G && !failed; ++k) {
    GroupSetting g;
    g.k = k;
    g.blocks = groupBlocks(c, 0, k);
    g.re = randomEffectsBlock(c, k);
    g.sigma = sigma;
    for (int p = 0; p < g.re.q; ++p) {
      const double s = std::exp(x[g.re.start + p]);
      wk.d[static_cast<std::size_t>(p)] = s * s;
    }
    for (int i = 0; i < c.nObs; ++i) {
      double lik = 1.0;
      if (subjectGroupLikelihood(x, c, g, i, wk, &lik) != SubjectOutcome::Ok) {
        failed = true;
        break;
      }
      if (c.nRisk[0] > 0) computeMembershipProbabilities(i, c.thetaStart, c.risk[0], x, &c);
      const double term = c.membershipProb[0][k] * lik;
      c.groupTerm[c.gi(k, i)] = term;
      c.subjectLik[i] += term;
    }
  }
  double sum = 0.0;
  if (failed) {
    sum = kFailedLikelihood;
  } else {
    for (int i = 0; i < c.nObs; ++i) {
      // At most DBL_MIN (or not a number) the logarithm means nothing.
      if (!(c.subjectLik[i] > DBL_MIN) || !std::isfinite(c.subjectLik[i])) {
        sum = kFailedLikelihood;
        break;
      }
      sum -= c.weight[i] * std::log(c.subjectLik[i]);
    }
  }
  *f = sum;
  if (c.debugTrace) {
    const std::string text = formatText(" nll=%f", sum);
    c.host->standardOutput(text.c_str());
  }
  return 0;
}

}  // namespace kurv
