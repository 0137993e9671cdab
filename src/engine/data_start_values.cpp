// Start values from the data: equal shares of subjects ranked by their mean
// outcome, a regression per group, the pooled residual scale.
//
// The regressions solve the normal equations (X'WX) b = X'Wz by Cholesky
// factorisation; a group whose equations are not positive definite (fewer
// distinct times than coefficients, a constant covariate) starts from its
// mean alone, with zero slopes. LOGIT and log-link groups take 8 iteratively
// reweighted steps from the intercept of their mean: enough to come close to
// the group's own maximum, which is all a start needs; a step that leaves the
// finite numbers is not taken.

#include "engine/data_start_values.h"

#include <algorithm>
#include <cmath>
#include <numeric>
#include <vector>

#include "core/logistic.h"
#include "engine/model_family.h"
#include "engine/start_values.h"
#include "models/densities.h"
#include "models/group_blocks.h"
#include "models/measurement_tables.h"

namespace kurv {

namespace {

constexpr int kReweightingSteps = 8;
// Means of 0/1 outcomes and of counts are kept this far inside their ranges
// before their logarithms are taken.
constexpr double kProbabilityMargin = 0.02;
constexpr double kSmallestRate = 0.05;

// The usable cells of one group's subjects: regressors row by row, outcomes,
// log exposures.
struct GroupCells {
  int width = 0;
  std::vector<double> x, y, offset;
  std::size_t size() const { return y.size(); }
};

// Solves the q x q system a b = r (a symmetric, row-major) by Cholesky;
// false when a is not positive definite.
bool solveNormalEquations(std::vector<double> a, std::vector<double> r, int q, std::vector<double>& b) {
  for (int j = 0; j < q; ++j) {
    double d = a[j * q + j];
    for (int k = 0; k < j; ++k) d -= a[j * q + k] * a[j * q + k];
    if (!(d > 1e-12 * std::max(1.0, std::fabs(a[j * q + j])))) return false;
    d = std::sqrt(d);
    a[j * q + j] = d;
    for (int i = j + 1; i < q; ++i) {
      double s = a[i * q + j];
      for (int k = 0; k < j; ++k) s -= a[i * q + k] * a[j * q + k];
      a[i * q + j] = s / d;
    }
  }
  for (int i = 0; i < q; ++i) {
    for (int k = 0; k < i; ++k) r[i] -= a[i * q + k] * r[k];
    r[i] /= a[i * q + i];
  }
  for (int i = q - 1; i >= 0; --i) {
    for (int k = i + 1; k < q; ++k) r[i] -= a[k * q + i] * r[k];
    r[i] /= a[i * q + i];
  }
  b = r;
  return std::all_of(b.begin(), b.end(), [](double v) { return std::isfinite(v); });
}

// Weighted least squares of z on the group's regressors.
bool weightedLeastSquares(const GroupCells& g, const std::vector<double>& w, const std::vector<double>& z,
                          std::vector<double>& b) {
  const int q = g.width;
  std::vector<double> a(static_cast<std::size_t>(q) * q, 0.0), r(static_cast<std::size_t>(q), 0.0);
  for (std::size_t c = 0; c < g.size(); ++c) {
    const double* row = g.x.data() + c * q;
    for (int i = 0; i < q; ++i) {
      r[i] += w[c] * row[i] * z[c];
      for (int j = 0; j <= i; ++j) a[i * q + j] += w[c] * row[i] * row[j];
    }
  }
  for (int i = 0; i < q; ++i)
    for (int j = 0; j < i; ++j) a[j * q + i] = a[i * q + j];
  return solveNormalEquations(a, r, q, b);
}

double predictor(const GroupCells& g, const std::vector<double>& b, std::size_t c) {
  double eta = 0.0;
  for (int i = 0; i < g.width; ++i) eta += g.x[c * g.width + i] * b[i];
  return eta;
}

// The group's coefficients: least squares for CNORM, reweighted steps for
// the logit and log links from the intercept of the group's mean.
std::vector<double> fitGroup(const GroupCells& g, int kind, const ExpClamp& clamp) {
  const std::size_t n = g.size();
  double mean = 0.0;
  for (double v : g.y) mean += v;
  mean /= static_cast<double>(n);
  std::vector<double> b(static_cast<std::size_t>(g.width), 0.0);
  std::vector<double> w(n, 1.0), z(n);
  if (kind == kCnorm) {
    b[0] = mean;
    std::vector<double> fitted;
    if (weightedLeastSquares(g, w, g.y, fitted)) b = fitted;
    return b;
  }
  if (kind == kLogit) {
    const double p = std::clamp(mean, kProbabilityMargin, 1.0 - kProbabilityMargin);
    b[0] = std::log(p / (1.0 - p));
  } else {
    b[0] = std::log(std::max(mean, kSmallestRate));
  }
  for (int step = 0; step < kReweightingSteps; ++step) {
    for (std::size_t c = 0; c < n; ++c) {
      const double eta = predictor(g, b, c);
      if (kind == kLogit) {
        const double p = logistic(clamp, eta);
        w[c] = std::max(p * (1.0 - p), 1e-6);
        z[c] = eta + ((g.y[c] != 0.0 ? 1.0 : 0.0) - p) / w[c];
      } else {
        const double mu = std::exp(clamp(eta + g.offset[c]));
        w[c] = std::max(mu, 1e-6);
        z[c] = eta + (g.y[c] - mu) / w[c];
      }
    }
    std::vector<double> next;
    if (!weightedLeastSquares(g, w, z, next)) break;
    b = next;
  }
  return b;
}

}  // namespace

bool guessStartValuesFromData(ModelContext& ctx) {
  if (familyOf(ctx) != FamilyKind::SingleTrajectory) return false;
  ensureMeasurementTables(ctx);
  const MeasurementTables& tab = ctx.measurementTables;
  const int T = ctx.nPeriods[0];
  const int G = ctx.nGroups[0];
  const int kind = ctx.modelKind[0];
  const int nPowers = tab.nPowers[0];

  // Subjects with data, ranked by their mean outcome (ties by position).
  std::vector<std::pair<double, int>> ranked;
  for (int i = 0; i < ctx.nObs; ++i) {
    double sum = 0.0;
    int count = 0;
    for (int j = 0; j < T; ++j) {
      const std::size_t row = static_cast<std::size_t>(i) * T + j;
      if (tab.cellKind[0][row] == kCellUnusable) continue;
      sum += tab.y[0][row];
      ++count;
    }
    if (count > 0) ranked.push_back({sum / count, i});
  }
  std::vector<int> fitted;  // groups that have a trajectory to start
  for (int k = 0; k < G; ++k)
    if (trajectoryOrder(ctx, 0, k) >= 0 && !isZeroOnlyGroup(ctx, 0, k)) fitted.push_back(k);
  if (fitted.empty() || ranked.size() < fitted.size()) return false;
  std::sort(ranked.begin(), ranked.end());

  std::vector<double>& p = ctx.params;
  double squares = 0.0;
  std::size_t cells = 0;
  const std::size_t nRanked = ranked.size();
  const std::size_t nShares = fitted.size();
  for (std::size_t s = 0; s < nShares; ++s) {
    const int k = fitted[s];
    const int order = trajectoryOrder(ctx, 0, k);
    const int nCov = ctx.tcovPerPeriod[0];
    GroupCells g;
    g.width = order + 1 + nCov;
    for (std::size_t r = s * nRanked / nShares; r < (s + 1) * nRanked / nShares; ++r) {
      const int i = ranked[r].second;
      for (int j = 0; j < T; ++j) {
        const std::size_t row = static_cast<std::size_t>(i) * T + j;
        if (tab.cellKind[0][row] == kCellUnusable) continue;
        const double exposure = tab.exposure[0].empty() ? 1.0 : tab.exposure[0][row];
        if (kind == kZip && !(exposure > 0.0)) continue;  // a mean of 0 says nothing
        g.x.push_back(1.0);
        for (int q = 1; q <= order; ++q) g.x.push_back(tab.timePower[0][row * nPowers + q - 1]);
        for (int c = 0; c < nCov; ++c) g.x.push_back(tab.covariate[0][row * nCov + c]);
        g.y.push_back(tab.y[0][row]);
        g.offset.push_back(kind == kZip ? std::log(exposure) : 0.0);
      }
    }
    if (g.size() == 0) continue;
    const std::vector<double> b = fitGroup(g, kind, ctx.expClamp);
    const int start = groupBlocks(ctx, 0, k).trajectory;
    for (int q = 0; q < g.width; ++q) p[start + q] = b[q];
    if (kind == kCnorm) {
      for (std::size_t c = 0; c < g.size(); ++c) {
        const double e = g.y[c] - predictor(g, b, c);
        squares += e * e;
      }
      cells += g.size();
    }
  }
  const int scale = ctx.scaleIndex[0];
  if (kind == kCnorm && scale >= 0 && cells > 0 && squares > 0.0) {
    p[scale] = 0.5 * std::log(squares / static_cast<double>(cells));
  }
  const std::vector<double> user = userFormOf(ctx, p);
  std::copy(user.begin(), user.end(), ctx.startDisplay.begin());
  return true;
}

}  // namespace kurv
