#pragma once
// Classic unconstrained test problems, each shifted so that its minimum is
// not 0, written with the same products and sums, in the same order, as the
// R script that produced the reference traces (fixtures/optim/make_traces.R)
// so that both evaluate bit-identical values.

#include <cmath>
#include <string>
#include <vector>

#include "optim/minimizer.h"
#include "core/model_context.h"

namespace kurv::testing {

struct TestProblem {
  std::string name;
  std::vector<double> start;
  std::vector<double> minimizer;
  double minimum;
  double (*f)(const double* x);
  void (*g)(const double* x, double* out);
};

inline double rosenbrockF(const double* x) {
  const double a = x[1] - x[0] * x[0];
  const double b = 1 - x[0];
  return 100 * (a * a) + b * b + 1;
}
inline void rosenbrockG(const double* x, double* g) {
  const double a = x[1] - x[0] * x[0];
  const double b = 1 - x[0];
  g[0] = -400 * x[0] * a - 2 * b;
  g[1] = 200 * a;
}

inline double powellF(const double* x) {
  const double a = x[0] + 10 * x[1], b = x[2] - x[3], c = x[1] - 2 * x[2], d = x[0] - x[3];
  return a * a + 5 * (b * b) + (c * c) * (c * c) + 10 * ((d * d) * (d * d)) + 1;
}
inline void powellG(const double* x, double* g) {
  const double a = x[0] + 10 * x[1], b = x[2] - x[3], c = x[1] - 2 * x[2], d = x[0] - x[3];
  const double c3 = c * c * c, d3 = d * d * d;
  g[0] = 2 * a + 40 * d3;
  g[1] = 20 * a + 4 * c3;
  g[2] = 10 * b - 8 * c3;
  g[3] = -10 * b - 40 * d3;
}

inline double bealeF(const double* x) {
  const double y2 = x[1] * x[1], y3 = y2 * x[1];
  const double a = 1.5 - x[0] + x[0] * x[1], b = 2.25 - x[0] + x[0] * y2,
               c = 2.625 - x[0] + x[0] * y3;
  return a * a + b * b + c * c + 1;
}
inline void bealeG(const double* x, double* g) {
  const double y2 = x[1] * x[1], y3 = y2 * x[1];
  const double a = 1.5 - x[0] + x[0] * x[1], b = 2.25 - x[0] + x[0] * y2,
               c = 2.625 - x[0] + x[0] * y3;
  g[0] = 2 * a * (x[1] - 1) + 2 * b * (y2 - 1) + 2 * c * (y3 - 1);
  g[1] = 2 * a * x[0] + 4 * b * x[0] * x[1] + 6 * c * x[0] * y2;
}

inline double woodF(const double* x) {
  const double a = x[1] - x[0] * x[0], b = 1 - x[0], c = x[3] - x[2] * x[2], d = 1 - x[2];
  const double e = x[1] - 1, h = x[3] - 1;
  return 100 * (a * a) + b * b + 90 * (c * c) + d * d + 10.1 * (e * e + h * h) + 19.8 * (e * h) +
         1;
}
inline void woodG(const double* x, double* g) {
  const double a = x[1] - x[0] * x[0], b = 1 - x[0], c = x[3] - x[2] * x[2], d = 1 - x[2];
  const double e = x[1] - 1, h = x[3] - 1;
  g[0] = -400 * x[0] * a - 2 * b;
  g[1] = 200 * a + 20.2 * e + 19.8 * h;
  g[2] = -360 * x[2] * c - 2 * d;
  g[3] = 180 * c + 20.2 * h + 19.8 * e;
}

// Negative log-likelihood of a logistic regression on 12 fixed cases.
inline constexpr double kLogitX1[] = {-1.5, -0.8, -0.3, 0.1, 0.4, 0.9, 1.3, 1.7, -1.1, 0.6, 2.0, -0.5};
inline constexpr double kLogitX2[] = {0.2, -0.4, 1.1, -0.7, 0.5, 0.0, -1.2, 0.8, 0.3, -0.2, 0.6, 1.4};
inline constexpr double kLogitY[] = {0, 0, 1, 0, 1, 0, 1, 1, 0, 1, 1, 0};
inline double logisticF(const double* b) {
  double v = 0;
  for (int i = 0; i < 12; ++i) {
    const double eta = b[0] + b[1] * kLogitX1[i] + b[2] * kLogitX2[i];
    v = v + (std::log(1 + std::exp(eta)) - kLogitY[i] * eta);
  }
  return v;
}
inline void logisticG(const double* b, double* g) {
  g[0] = g[1] = g[2] = 0;
  for (int i = 0; i < 12; ++i) {
    const double eta = b[0] + b[1] * kLogitX1[i] + b[2] * kLogitX2[i];
    const double r = 1 / (1 + std::exp(-eta)) - kLogitY[i];
    g[0] = g[0] + r;
    g[1] = g[1] + r * kLogitX1[i];
    g[2] = g[2] + r * kLogitX2[i];
  }
}

// Negative log-likelihood of a normal sample in (mean, log sd), without the
// constant.
inline constexpr double kNormalY[] = {4.1, 5.3, 3.8, 6.2, 5.0, 4.4, 5.9, 4.7, 5.6, 3.9};
inline double normalF(const double* p) {
  const double s2 = std::exp(2 * p[1]);
  double v = 0;
  for (double y : kNormalY) {
    const double d = y - p[0];
    v = v + (p[1] + d * d / (2 * s2));
  }
  return v;
}
inline void normalG(const double* p, double* g) {
  const double s2 = std::exp(2 * p[1]);
  double g1 = 0, g2 = 0;
  for (double y : kNormalY) {
    const double d = y - p[0];
    g1 = g1 - d / s2;
    g2 = g2 + (1 - d * d / s2);
  }
  g[0] = g1;
  g[1] = g2;
}

// Eigenvalues 1, 10 and 100; minimum 5 at (1, -2, 0.5).
inline double quadraticF(const double* x) {
  const double a = x[0] - 1, b = x[1] + 2, c = x[2] - 0.5;
  return 0.5 * (a * a + 10 * (b * b) + 100 * (c * c)) + 5;
}
inline void quadraticG(const double* x, double* g) {
  g[0] = x[0] - 1;
  g[1] = 10 * (x[1] + 2);
  g[2] = 100 * (x[2] - 0.5);
}

inline const std::vector<TestProblem>& testProblems() {
  static const std::vector<TestProblem> problems = {
      {"rosenbrock", {-1.2, 1}, {1, 1}, 1.0, rosenbrockF, rosenbrockG},
      {"powell", {3, -1, 0, 1}, {0, 0, 0, 0}, 1.0, powellF, powellG},
      {"beale", {1, 1}, {3, 0.5}, 1.0, bealeF, bealeG},
      {"wood", {-3, -1, -3, -1}, {1, 1, 1, 1}, 1.0, woodF, woodG},
      {"logistic", {0, 0, 0}, {}, 0.0, logisticF, logisticG},
      {"normal", {0, 0}, {4.89, std::log(0.7880989)}, 2.8376167132250751, normalF, normalG},
      {"quadratic", {0, 0, 0}, {1, -2, 0.5}, 5.0, quadraticF, quadraticG},
  };
  return problems;
}

// A run record extended for the tests: the callbacks reach their problem
// through it, and it logs every evaluation.
struct ProblemContext : ModelContext {
  const TestProblem* problem = nullptr;
  std::vector<std::vector<double>> evalX;  // every likelihood evaluation
  std::vector<double> evalF;
  std::vector<std::vector<double>> gradX;  // every gradient evaluation
  std::vector<double> gradientPointF;      // f at each point where a gradient was formed
  bool failGradient = false;               // report every gradient as not computable
};

int problemLikelihood(int n, const double* x, double* f, ModelContext* ctx);
int problemGradient(int n, const double* x, int* gradEvalIndex, double* g, ModelContext* ctx);

// Runs one fit and records what a caller can observe.
struct FitResult {
  int code = 0;
  int iterations = 0;
  int funcEvals = 0;
  int gradEvals = 0;
  double f = 0.0;
  std::vector<double> x;
  std::vector<double> iterationF;  // f at each point where a gradient was formed (0 = start)
  int likelihoodCalls = 0;
  int gradientCalls = 0;
  std::vector<std::vector<double>> evalX;
  std::vector<std::vector<double>> gradX;
};

struct FitOptions {
  int printLevel = 1;
  Host* host = nullptr;
  MinimizerState* state = nullptr;  // to continue a state (restart); fresh when null
  void (*configure)(MinimizerState&) = nullptr;  // after the defaults
  std::vector<double> start;                     // overrides the problem's start
};

FitResult fitProblem(const TestProblem& problem, bool gradientMode, const FitOptions& options);
inline FitResult fitProblem(const TestProblem& problem, bool gradientMode) {
  return fitProblem(problem, gradientMode, FitOptions{});
}
const TestProblem& problemNamed(const std::string& name);

}  // namespace kurv::testing
