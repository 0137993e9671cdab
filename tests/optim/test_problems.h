#pragma once
// Classic minimization problems with known minima, and a fit of one of them
// through the minimizer's drivers: used by the minimizer's tests and by the
// covariance test of the engine. No run record is involved.

#include <cfloat>
#include <cmath>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "core/host.h"
#include "optim/minimizer.h"

namespace kurv::testing {

// Classic test problems, shifted so that no minimum is 0, in the order of
// operations of the R script behind the reference traces, so that both
// evaluate bit-identical values.
using Point = std::vector<double>;

inline double rosenbrock(const double* x, double* g) {
  const double a = x[1] - x[0] * x[0], b = 1 - x[0];
  if (g) g[0] = -400 * x[0] * a - 2 * b, g[1] = 200 * a;
  return 100 * (a * a) + b * b + 1;
}
inline double powell(const double* x, double* g) {
  const double a = x[0] + 10 * x[1], b = x[2] - x[3], c = x[1] - 2 * x[2], d = x[0] - x[3];
  const double c3 = c * c * c, d3 = d * d * d;
  if (g) g[0] = 2 * a + 40 * d3, g[1] = 20 * a + 4 * c3, g[2] = 10 * b - 8 * c3, g[3] = -10 * b - 40 * d3;
  return a * a + 5 * (b * b) + (c * c) * (c * c) + 10 * ((d * d) * (d * d)) + 1;
}
inline double beale(const double* x, double* g) {
  const double y2 = x[1] * x[1], y3 = y2 * x[1];
  const double a = 1.5 - x[0] + x[0] * x[1], b = 2.25 - x[0] + x[0] * y2, c = 2.625 - x[0] + x[0] * y3;
  if (g) g[0] = 2 * a * (x[1] - 1) + 2 * b * (y2 - 1) + 2 * c * (y3 - 1);
  if (g) g[1] = 2 * a * x[0] + 4 * b * x[0] * x[1] + 6 * c * x[0] * y2;
  return a * a + b * b + c * c + 1;
}
inline double wood(const double* x, double* g) {
  const double a = x[1] - x[0] * x[0], b = 1 - x[0], c = x[3] - x[2] * x[2], d = 1 - x[2], e = x[1] - 1, h = x[3] - 1;
  if (g) g[0] = -400 * x[0] * a - 2 * b, g[1] = 200 * a + 20.2 * e + 19.8 * h;
  if (g) g[2] = -360 * x[2] * c - 2 * d, g[3] = 180 * c + 20.2 * h + 19.8 * e;
  return 100 * (a * a) + b * b + 90 * (c * c) + d * d + 10.1 * (e * e + h * h) + 19.8 * (e * h) + 1;
}
// Negative log-likelihood of a logistic regression on 12 fixed cases.
inline double logistic(const double* b, double* g) {
  static constexpr double x1[] = {-1.5, -0.8, -0.3, 0.1, 0.4, 0.9, 1.3, 1.7, -1.1, 0.6, 2.0, -0.5};
  static constexpr double x2[] = {0.2, -0.4, 1.1, -0.7, 0.5, 0.0, -1.2, 0.8, 0.3, -0.2, 0.6, 1.4};
  static constexpr double y[] = {0, 0, 1, 0, 1, 0, 1, 1, 0, 1, 1, 0};
  double v = 0, g0 = 0, g1 = 0, g2 = 0;
  for (int i = 0; i < 12; ++i) {
    const double eta = b[0] + b[1] * x1[i] + b[2] * x2[i], r = 1 / (1 + std::exp(-eta)) - y[i];
    v = v + (std::log(1 + std::exp(eta)) - y[i] * eta), g0 = g0 + r, g1 = g1 + r * x1[i], g2 = g2 + r * x2[i];
  }
  if (g) g[0] = g0, g[1] = g1, g[2] = g2;
  return v;
}
// Negative log-likelihood of a normal sample in (mean, log sd), without the constant.
inline constexpr double kNormalY[] = {4.1, 5.3, 3.8, 6.2, 5.0, 4.4, 5.9, 4.7, 5.6, 3.9};
inline double normal(const double* p, double* g) {
  const double s2 = std::exp(2 * p[1]);
  double v = 0, g0 = 0, g1 = 0;
  for (double y : kNormalY) {
    const double d = y - p[0];
    v = v + (p[1] + d * d / (2 * s2)), g0 = g0 - d / s2, g1 = g1 + (1 - d * d / s2);
  }
  if (g) g[0] = g0, g[1] = g1;
  return v;
}
// Eigenvalues 1, 10 and 100.
inline double quadratic(const double* x, double* g) {
  const double a = x[0] - 1, b = x[1] + 2, c = x[2] - 0.5;
  if (g) g[0] = x[0] - 1, g[1] = 10 * (x[1] + 2), g[2] = 100 * (x[2] - 0.5);
  return 0.5 * (a * a + 10 * (b * b) + 100 * (c * c)) + 5;
}

struct TestProblem {
  Point start, minimizer;  // minimizer empty: not known in closed form
  double (*fg)(const double* x, double* g);  // f(x), and ∇f into g unless null (NaN: not computable)
  double f(const Point& x) const { return fg(x.data(), nullptr); }
};
inline const TestProblem& problemNamed(const std::string& name) {
  static const std::map<std::string, TestProblem> problems = {  // normal: variance Σ(y − 4.89)²/10
      {"rosenbrock", {{-1.2, 1}, {1, 1}, rosenbrock}}, {"powell", {{3, -1, 0, 1}, {0, 0, 0, 0}, powell}},
      {"beale", {{1, 1}, {3, 0.5}, beale}}, {"wood", {{-3, -1, -3, -1}, {1, 1, 1, 1}, wood}},
      {"logistic", {{0, 0, 0}, {}, logistic}}, {"normal", {{0, 0}, {4.89, 0.5 * std::log(0.6489)}, normal}},
      {"quadratic", {{0, 0, 0}, {1, -2, 0.5}, quadratic}}};
  return problems.at(name);
}

// A fit set up as a run sets it up: the problem as the minimizer's objective,
// with every point it is asked about recorded (DBL_MAX: f not computable, a
// NaN gradient: the gradient not computable).
struct Fit : Objective {
  const TestProblem* problem;
  MinimizerState state;
  Point x, iterationF;  // the current point; f where each gradient was formed (0 = the start)
  std::vector<Point> evalX;
  explicit Fit(const TestProblem& p, Host* log = nullptr, int printLevel = 1) : problem(&p), x(p.start) {
    setMinimizerDefaults(kGeneralMinimization, realWorkLength(static_cast<int>(x.size())), state);
    setMinimizerIntegerSettings(state);
    state.host = log, state.printLevel = printLevel;
  }
  std::optional<double> value(std::span<const double> at) override {
    evalX.emplace_back(at.begin(), at.end());
    const double f = problem->fg(at.data(), nullptr);
    return f == DBL_MAX ? std::nullopt : std::optional<double>(f);
  }
  bool gradient(std::span<const double> at, std::span<double> g) override {
    problem->fg(at.data(), g.data());
    return !std::isnan(g[0]);
  }
  void atIterate(std::span<const double>, double f) override { iterationF.push_back(f); }
  Fit& run(bool gradientMode) {  // from x; after a fresh-start code, continues
    const int length = realWorkLength(static_cast<int>(x.size()));
    const Point scale(x.size(), 1.0);
    evalX.clear(), iterationF.clear();
    (gradientMode ? minimizeWithGradient : minimizeWithDifferences)(state, scale, x, *this, kIntWorkLength, length);
    return *this;
  }
};

}  // namespace kurv::testing
