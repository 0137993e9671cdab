// Variable ordering and Cholesky factorisation of Genz and Bretz (2002),
// "Comparison of methods for the computation of multivariate t
// probabilities", Journal of Computational and Graphical Statistics 11,
// 950-971, section 4: at step i the variable with the smallest expected
// conditional probability (limits shifted by the conditional mean given the
// truncated means y of the variables already placed) goes next. Integrating
// the hardest variable first makes the integrand flatter in the later
// coordinates, which the lattice rule favours.

#include "randomeffects/mvn_prepare.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "core/normal_cdf.h"
#include "core/normal_density.h"

namespace kurv {

namespace {

struct Work {
  MvnPrepared& p;
  int m;
  double& at(int i, int k) { return p.factor[static_cast<std::size_t>(i) * m + k]; }
  // Entry (i, k) of the symmetric matrix held in the lower triangle.
  double& sym(int i, int k) { return i >= k ? at(i, k) : at(k, i); }

  // Exchanges variables i < j: their limits, codes, conditioning values, and
  // the rows and columns of the symmetric (partly factorised) matrix.
  void swapVariables(int i, int j) {
    if (i == j) return;
    std::swap(p.lower[i], p.lower[j]);
    std::swap(p.upper[i], p.upper[j]);
    std::swap(p.codes[i], p.codes[j]);
    std::swap(p.y[i], p.y[j]);
    for (int k = 0; k < i; ++k) std::swap(at(i, k), at(j, k));
    std::swap(at(i, i), at(j, j));
    for (int l = i + 1; l < j; ++l) std::swap(at(l, i), at(j, l));
    for (int l = j + 1; l < m; ++l) std::swap(at(l, i), at(l, j));
  }

  // Moves variable `from` to position `to`, the variables between shifting
  // by one place (a sequence of neighbour exchanges keeps the matrix whole).
  void moveVariable(int from, int to) {
    for (int k = from; k > to; --k) swapVariables(k - 1, k);
    for (int k = from; k < to; ++k) swapVariables(k, k + 1);
  }
};

// Mean of a standard normal truncated to the interval of a code; when the
// interval's probability is at most the tolerance, its finite end (midpoint
// for two limits).
double truncatedMean(double a, double b, int code, double d, double e) {
  if (e - d > kMvnSingularTolerance) {
    const double da = code == 0 ? 0.0 : normalDensity(a);
    const double db = code == 1 ? 0.0 : normalDensity(b);
    return (da - db) / (e - d);
  }
  if (code == 0) return b;
  if (code == 1) return a;
  return (a + b) / 2.0;
}

}  // namespace

void intervalProbabilities(double lower, double upper, int code, double& d, double& e) {
  d = 0.0;
  e = 1.0;
  if (code < 0) return;
  if (code != 0) d = normalCdf(&lower);
  if (code != 1) e = normalCdf(&upper);
  e = std::max(e, d);
}

void mvnPrepare(int m, const double* lower, const double* upper, const int* codes,
                const double* correlations, MvnPrepared& p) {
  p.m = m;
  p.impossible = false;
  p.lower.assign(static_cast<std::size_t>(m), 0.0);
  p.upper.assign(static_cast<std::size_t>(m), 0.0);
  p.codes.assign(codes, codes + m);
  p.y.assign(static_cast<std::size_t>(m), 0.0);
  p.factor.assign(static_cast<std::size_t>(m) * m, 0.0);
  Work w{p, m};
  p.nUnbounded = 0;
  for (int i = 0; i < m; ++i) {
    if (codes[i] < 0) ++p.nUnbounded;
    if (codes[i] != 0) p.lower[i] = lower[i];
    if (codes[i] != 1) p.upper[i] = upper[i];
    w.at(i, i) = 1.0;
    for (int k = 0; k < i; ++k) w.at(i, k) = correlations[i * (i - 1) / 2 + k];
  }
  // Unbounded variables behind the bounded ones: from the last variable
  // down, each bounded one changes place with the first unbounded one before
  // it.
  for (int i = m - 1; i >= 0; --i) {
    if (p.codes[i] < 0) continue;
    for (int j = 0; j < i; ++j) {
      if (p.codes[j] < 0) {
        w.swapVariables(j, i);
        break;
      }
    }
  }
  int r = m - p.nUnbounded;
  for (int i = 0; i < r; ++i) {
    // The candidate with the smallest conditional probability (ties: the
    // later one), among those whose remaining variance exceeds the tolerance.
    int chosen = -1;
    double dMin = 0.0, eMin = 1.0, sdChosen = 0.0, aChosen = 0.0, bChosen = 0.0;
    for (int j = i; j < r; ++j) {
      double v = w.at(j, j);
      double s = 0.0;
      for (int k = 0; k < i; ++k) {
        v -= w.at(j, k) * w.at(j, k);
        s += w.at(j, k) * p.y[k];
      }
      if (!(v > kMvnSingularTolerance)) continue;
      const double sd = std::sqrt(v);
      const double a = (p.lower[j] - s) / sd;
      const double b = (p.upper[j] - s) / sd;
      double d, e;
      intervalProbabilities(a, b, p.codes[j], d, e);
      if (eMin + d >= e + dMin) {
        chosen = j;
        dMin = d;
        eMin = e;
        sdChosen = sd;
        aChosen = a;
        bChosen = b;
      }
    }
    if (chosen >= 0) {
      w.swapVariables(i, chosen);
      // Column i of the factor, then row i divided by its diagonal.
      w.at(i, i) = sdChosen;
      for (int l = i + 1; l < r; ++l) {
        double s = w.at(l, i);
        for (int k = 0; k < i; ++k) s -= w.at(l, k) * w.at(i, k);
        w.at(l, i) = s / sdChosen;
      }
      p.y[i] = truncatedMean(aChosen, bChosen, p.codes[i], dMin, eMin);
      for (int k = 0; k <= i; ++k) w.at(i, k) /= sdChosen;
      p.lower[i] /= sdChosen;
      p.upper[i] /= sdChosen;
      continue;
    }
    // Singular branch: every remaining variable is (up to the tolerance) a
    // combination of the ones placed. Variable i becomes a constraint on the
    // last placed variable k it depends on: its row is divided by L_ik (the
    // limits exchange when L_ik < 0) and moved right behind variable k and
    // the constraints already merged with it; its own column is zero.
    p.y[i] = 0.0;
    for (int l = i; l < r; ++l) w.at(l, i) = 0.0;
    int k = i - 1;
    while (k >= 0 && !(std::fabs(w.at(i, k)) > kMvnSingularTolerance)) w.at(i, k--) = 0.0;
    if (k < 0) {
      // X_i is identically 0: certain when its limits hold 0, impossible
      // otherwise; it leaves the integration either way.
      const bool holds = (p.codes[i] == 0 || p.lower[i] <= 0.0) && (p.codes[i] == 1 || p.upper[i] >= 0.0);
      if (!holds) p.impossible = true;
      w.moveVariable(i, r - 1);
      --r;
      --i;
      continue;
    }
    const double pivot = w.at(i, k);
    p.lower[i] /= pivot;
    p.upper[i] /= pivot;
    if (pivot < 0.0) {
      std::swap(p.lower[i], p.upper[i]);
      if (p.codes[i] != 2) p.codes[i] = 1 - p.codes[i];
    }
    for (int c = 0; c <= k; ++c) w.at(i, c) /= pivot;
    int to = k + 1;
    while (to < i && !(w.at(to, to) > 0.0)) ++to;
    w.moveVariable(i, to);
  }
  p.nBounded = r;
}

}  // namespace kurv
