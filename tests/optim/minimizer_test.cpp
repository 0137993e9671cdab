// The minimizer's outcomes: convergence on classic problems, its limits and
// failure codes, the validation of its settings, the restart protocol and
// the iteration log.

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>

#include "core/text_format.h"
#include "support/memory_host.h"
#include "test_problems.h"

namespace kurv::testing {
namespace {

double distance(const std::vector<double>& a, const std::vector<double>& b) {
  double s = 0.0;
  for (std::size_t i = 0; i < a.size(); ++i) s += (a[i] - b[i]) * (a[i] - b[i]);
  return std::sqrt(s);
}

// ---- Convergence on problems with known minima -------------------------------

TEST(MinimizerConvergence, ReachesKnownMinimaInBothModes) {
  struct Case {
    const char* name;
    double xTolerance;
  };
  // The Powell singular function has a fourth-order minimum: f within 1e-10
  // of its minimum leaves x only within about 1e-2.
  for (const Case c : {Case{"rosenbrock", 1e-6}, Case{"beale", 1e-6}, Case{"wood", 1e-6},
                       Case{"quadratic", 1e-6}, Case{"powell", 1e-2}}) {
    const TestProblem& p = problemNamed(c.name);
    for (bool gradientMode : {true, false}) {
      SCOPED_TRACE(std::string(c.name) + (gradientMode ? " gradient" : " difference"));
      const FitResult r = fitProblem(p, gradientMode);
      EXPECT_GE(r.code, kXConvergence);
      EXPECT_LE(r.code, kBothConvergence);
      EXPECT_NEAR(r.f, p.minimum, 1e-9 * p.minimum);
      EXPECT_LT(distance(r.x, p.minimizer), c.xTolerance);
      // Counters: every function value the core asked for was computed.
      if (gradientMode) {
        EXPECT_EQ(r.likelihoodCalls, r.funcEvals);
        EXPECT_EQ(r.gradientCalls, r.gradEvals);
      } else {
        EXPECT_EQ(r.likelihoodCalls, r.funcEvals + r.gradEvals);
      }
    }
  }
}

// With H₀ = I, a quadratic with unit Hessian whose minimum lies within the
// first radius is solved by the first step: the full Newton step, exactly.
double unitQuadraticF(const double* x) {
  return 0.5 * ((x[0] - 0.5) * (x[0] - 0.5) + (x[1] + 0.25) * (x[1] + 0.25) +
                (x[2] - 0.125) * (x[2] - 0.125)) + 3.0;
}
void unitQuadraticG(const double* x, double* g) {
  g[0] = x[0] - 0.5;
  g[1] = x[1] + 0.25;
  g[2] = x[2] - 0.125;
}

TEST(MinimizerConvergence, FirstNewtonStepOfUnitQuadraticIsExact) {
  const TestProblem p{"unit", {0, 0, 0}, {0.5, -0.25, 0.125}, 3.0, unitQuadraticF, unitQuadraticG};
  const FitResult r = fitProblem(p, true);
  ASSERT_GE(r.evalX.size(), 2u);
  EXPECT_EQ(r.evalX[1], p.minimizer);  // the first trial is the minimizer, bit for bit
  EXPECT_EQ(r.x, p.minimizer);
  EXPECT_EQ(r.f, 3.0);
  // The gradient there is exactly zero: the second iteration's step is the
  // zero Newton step, predicting and achieving no reduction, which is both
  // x- and relative function convergence.
  ASSERT_EQ(r.evalX.size(), 3u);
  EXPECT_EQ(r.evalX[2], p.minimizer);
  EXPECT_EQ(r.iterations, 2);
  EXPECT_EQ(r.code, kBothConvergence);
}

// ---- Failures and limits ------------------------------------------------------

double failingF(const double*) { return DBL_MAX; }
void zeroG(const double*, double* g) { g[0] = g[1] = 0.0; }

TEST(MinimizerFailures, StartNotComputableEndsAfterOneEvaluation) {
  const TestProblem p{"failing", {1, 2}, {}, 0.0, failingF, zeroG};
  for (bool gradientMode : {true, false}) {
    MemoryHost host;
    FitOptions options;
    options.printLevel = -1;
    options.host = &host;
    const FitResult r = fitProblem(p, gradientMode, options);
    EXPECT_EQ(r.code, kStartNotComputable);
    EXPECT_EQ(r.likelihoodCalls, 1);
    EXPECT_EQ(r.gradientCalls, 0);
    EXPECT_EQ(host.displayed, "");  // code 63 adds no log line
  }
}

TEST(MinimizerFailures, GradientNotComputableGives65) {
  struct FailingGradient {
    static int gradient(int n, const double* x, int* index, double* g, ModelContext* ctx) {
      problemGradient(n, x, index, g, ctx);
      *index = 0;
      return 0;
    }
  };
  const TestProblem& p = problemNamed("quadratic");
  ProblemContext pc;
  pc.problem = &p;
  std::vector<double> x = p.start, d(3, 1.0);
  MinimizerState st;
  setMinimizerDefaults(kGeneralMinimization, realWorkLength(3), st);
  setMinimizerIntegerSettings(st);
  minimizeWithGradient(st, 3, d, x, problemLikelihood, FailingGradient::gradient, kIntWorkLength,
                       realWorkLength(3), &pc);
  EXPECT_EQ(st.returnCode, kGradientNotComputable);
  EXPECT_EQ(pc.evalF.size(), 1u);
}

// Computable only up to x₀ = 1: the first forward difference fails.
double wallF(const double* x) { return x[0] > 1.0 ? DBL_MAX : x[0] * x[0] + x[1] * x[1] + 1; }

TEST(MinimizerFailures, FailedDifferencePointGives65) {
  const TestProblem p{"wall", {1.0, 0.5}, {}, 0.0, wallF, zeroG};
  const FitResult r = fitProblem(p, false);
  EXPECT_EQ(r.code, kGradientNotComputable);
  EXPECT_EQ(r.likelihoodCalls, 2);
  EXPECT_EQ(r.x, p.start);  // the perturbed component is put back
}

void limitTo(MinimizerState& st, int evaluations) { st.maxFuncEvals = evaluations; }

TEST(MinimizerFailures, EvaluationLimitWithAndWithoutImprovedPoint) {
  const TestProblem& p = problemNamed("rosenbrock");
  // From (-1.2, 1) the first trial raises f (172.3 > 25.2): at a limit of 2
  // evaluations the iteration has no improved point and stops at θ₀.
  FitOptions two;
  two.configure = [](MinimizerState& st) { limitTo(st, 2); };
  const FitResult a = fitProblem(p, true, two);
  EXPECT_EQ(a.code, kEvalLimit);
  EXPECT_EQ(a.likelihoodCalls, 2);
  EXPECT_EQ(a.gradientCalls, 1);
  EXPECT_EQ(a.x, p.start);
  EXPECT_EQ(a.f, a.iterationF[0]);
  // The fifth evaluation (third iteration) is a good trial that the
  // assessment wants to lengthen; at a limit of 5 the gradient is still
  // formed there before the stop, and the fit ends on that point.
  FitOptions five;
  five.configure = [](MinimizerState& st) { limitTo(st, 5); };
  const FitResult b = fitProblem(p, true, five);
  EXPECT_EQ(b.code, kEvalLimit);
  EXPECT_EQ(b.likelihoodCalls, 5);
  ASSERT_FALSE(b.gradX.empty());
  EXPECT_EQ(b.gradX.back(), b.evalX.back());
  EXPECT_EQ(b.x, b.evalX.back());
  EXPECT_LT(b.f, b.iterationF[b.iterationF.size() - 2]);
}

TEST(MinimizerFailures, IterationLimitGives10) {
  FitOptions options;
  options.configure = [](MinimizerState& st) { st.maxIterations = 3; };
  const FitResult r = fitProblem(problemNamed("wood"), true, options);
  EXPECT_EQ(r.code, kIterationLimit);
  EXPECT_EQ(r.iterations, 3);
}

// f cannot be computed beyond |x| = 0.4; the minimum (10, 0) lies outside, so
// the first Cauchy step of length 1 fails, then one of 0.5, then 0.25 succeeds.
double fencedF(const double* x) {
  if (std::sqrt(x[0] * x[0] + x[1] * x[1]) > 0.4) return DBL_MAX;
  return 0.5 * ((x[0] - 10) * (x[0] - 10) + x[1] * x[1]) + 1;
}
void fencedG(const double* x, double* g) {
  g[0] = x[0] - 10;
  g[1] = x[1];
}

TEST(MinimizerFailures, FailedEvaluationHalvesTheRadiusFromTheSamePoint) {
  const TestProblem p{"fenced", {0, 0}, {}, 0.0, fencedF, fencedG};
  FitOptions options;
  options.configure = [](MinimizerState& st) { st.maxFuncEvals = 4; };
  const FitResult r = fitProblem(p, true, options);
  ASSERT_EQ(r.evalX.size(), 4u);
  EXPECT_EQ(r.evalX[1], (std::vector<double>{1.0, 0.0}));
  EXPECT_EQ(r.evalX[2], (std::vector<double>{0.5, 0.0}));
  EXPECT_EQ(r.evalX[3], (std::vector<double>{0.25, 0.0}));
  EXPECT_EQ(r.x, (std::vector<double>{0.25, 0.0}));
  // In difference mode the same trials are made.
  const FitResult d = fitProblem(p, false, options);
  EXPECT_EQ(d.x, (std::vector<double>{0.25, 0.0}));
  // Stopped by the evaluation limit right after a failed trial, the fit
  // ends on the last computable point and its value, not the failed one.
  FitOptions two;
  two.configure = [](MinimizerState& st) { st.maxFuncEvals = 2; };
  const FitResult stopped = fitProblem(p, true, two);
  EXPECT_EQ(stopped.code, kEvalLimit);
  EXPECT_EQ(stopped.x, p.start);
  EXPECT_EQ(stopped.f, fencedF(p.start.data()));
}

// ---- Validation of the settings -------------------------------------------------

int freshStartCode(void (*change)(MinimizerState&), int n = 2, int intLength = kIntWorkLength,
                   int realLength = -1, double scale0 = 1.0) {
  MinimizerState st;
  setMinimizerDefaults(kGeneralMinimization, realWorkLength(2), st);
  setMinimizerIntegerSettings(st);
  if (change != nullptr) change(st);
  std::vector<double> x(2, 0.0), d{scale0, 1.0};
  ProblemContext pc;
  pc.problem = &problemNamed("rosenbrock");
  minimizeWithGradient(st, n, d, x, problemLikelihood, problemGradient, intLength,
                       realLength < 0 ? realWorkLength(2) : realLength, &pc);
  if (!pc.evalF.empty()) return -1;  // validation failures evaluate nothing
  return st.returnCode;
}

TEST(MinimizerSettings, OutOfRangeAndInconsistentSettingsAreReported) {
  EXPECT_EQ(freshStartCode([](MinimizerState& st) { st.settings.relFuncTol = 0.2; }), 32);
  EXPECT_EQ(freshStartCode([](MinimizerState& st) { st.settings.relFuncTol = 1e-17; }), 32);
  // The last slot out of range gives the code.
  EXPECT_EQ(freshStartCode([](MinimizerState& st) {
              st.settings.relFuncTol = 0.2;
              st.settings.doglegBias = 2.0;
            }),
            43);
  EXPECT_EQ(freshStartCode([](MinimizerState& st) { st.settings.modelTol = 0.95; }), 19);
  EXPECT_EQ(freshStartCode(nullptr, 2, kIntWorkLength, -1, 0.0), kBadScale);
  EXPECT_EQ(freshStartCode(nullptr, 2, 58), kShortIntWork);
  // Gradient mode needs 71 + n(n+15)/2 = 88 reals for n = 2.
  EXPECT_EQ(freshStartCode(nullptr, 2, kIntWorkLength, 87), kShortRealWork);
  EXPECT_EQ(freshStartCode(nullptr, 0), kBadN);
  EXPECT_EQ(freshStartCode([](MinimizerState& st) { st.settingsCount = 24; }), kBadSettingsCount);
  EXPECT_EQ(freshStartCode([](MinimizerState& st) { st.algorithmKind = 1; }), kChangedAlgorithm);
  EXPECT_EQ(freshStartCode([](MinimizerState& st) { st.returnCode = 15; }), kBadEntryCode);
  MinimizerState st;
  EXPECT_EQ(setMinimizerDefaults(1, realWorkLength(2), st), kUnknownAlgorithm);
}

TEST(MinimizerSettings, RealWorkspaceNeedsPerMode) {
  // Gradient mode needs exactly 71 + n(n+15)/2, difference mode 77 + n(n+17)/2.
  for (int n : {1, 2, 5}) {
    const auto gradientCode = [n](int length) {
      MinimizerState st;
      setMinimizerDefaults(kGeneralMinimization, realWorkLength(n), st);
      setMinimizerIntegerSettings(st);
      std::vector<double> x(static_cast<std::size_t>(n), 0.0), d(static_cast<std::size_t>(n), 1.0);
      ProblemContext pc;
      pc.problem = &problemNamed("quadratic");
      st.maxFuncEvals = 1;  // stop right after the first evaluation
      minimizeWithGradient(st, n, d, x, [](int, const double*, double* f, ModelContext*) {
            *f = 1.0;
            return 0;
          }, [](int, const double*, int*, double* g, ModelContext*) {
            g[0] = 1.0;
            return 0;
          }, kIntWorkLength, length, &pc);
      return st.returnCode;
    };
    EXPECT_EQ(gradientCode(71 + n * (n + 15) / 2), kEvalLimit);
    EXPECT_EQ(gradientCode(70 + n * (n + 15) / 2), kShortRealWork);
    const auto differenceCode = [n](int length) {
      MinimizerState st;
      setMinimizerDefaults(kGeneralMinimization, realWorkLength(n), st);
      setMinimizerIntegerSettings(st);
      std::vector<double> x(static_cast<std::size_t>(n), 0.0), d(static_cast<std::size_t>(n), 1.0);
      double f = 0.0;
      minimizeWithDifferences(st, d, f, kIntWorkLength, length, n, x);
      return st.returnCode;
    };
    EXPECT_EQ(differenceCode(77 + n * (n + 17) / 2), kRequestFunction);
    EXPECT_EQ(differenceCode(76 + n * (n + 17) / 2), kShortRealWork);
  }
  // Entry 0 fills the defaults itself.
  MinimizerState st;
  std::vector<double> x(2, 0.0), d(2, 1.0);
  double f = 0.0;
  minimizeWithDifferences(st, d, f, kIntWorkLength, realWorkLength(2), 2, x);
  EXPECT_EQ(st.returnCode, kRequestFunction);
  EXPECT_EQ(st.maxFuncEvals, 1000000);
  EXPECT_EQ(st.settings.relFuncTol, 1e-10);
  EXPECT_EQ(st.settings.xConvTol, 1.4901161193847656e-08);
  EXPECT_EQ(st.settings.falseConvTol, 2.220446049250313e-14);
  EXPECT_EQ(st.settings.funcErrorBound, 2.220446049250313e-13);
  // A continuing call with another n is refused.
  f = 1.0;
  minimizeWithDifferences(st, d, f, kIntWorkLength, realWorkLength(2), 3, x);
  EXPECT_EQ(st.returnCode, kChangedN);
}

// ---- False convergence and the restart protocol ----------------------------------

// A gradient that points the wrong way: no step along it decreases f, and
// the radius shrinks until the step is at the rounding level of x.
double bowlF(const double* x) {
  return 0.5 * ((x[0] - 0.5) * (x[0] - 0.5) + (x[1] + 0.25) * (x[1] + 0.25)) + 2;
}
void wrongG(const double* x, double* g) {
  g[0] = -(x[0] - 0.5);
  g[1] = -(x[1] + 0.25);
}

TEST(MinimizerRestart, FalseConvergenceAndFreshStartKeepIterationCount) {
  const TestProblem p{"wrong", {1.0, 1.0}, {0.5, -0.25}, 2.0, bowlF, wrongG};
  MemoryHost host;
  MinimizerState st;
  st.host = &host;
  setMinimizerDefaults(kGeneralMinimization, realWorkLength(2), st);
  setMinimizerIntegerSettings(st);
  st.printLevel = -1;
  FitOptions options;
  options.state = &st;
  const FitResult first = fitProblem(p, true, options);
  ASSERT_EQ(first.code, kFalseConvergence);
  const int iterationsBefore = st.iterationCount;
  ASSERT_GT(iterationsBefore, 0);
  EXPECT_EQ(first.x, p.start);  // no step was ever accepted

  // The restart: a fresh start from the point reached.
  host.displayed.clear();
  st.returnCode = kFreshStart;
  options.start = first.x;
  const FitResult second = fitProblem(p, true, options);
  EXPECT_EQ(second.code, kFalseConvergence);
  EXPECT_GT(st.iterationCount, iterationsBefore);         // not reset
  EXPECT_EQ(second.likelihoodCalls, second.funcEvals);    // counters start again
  EXPECT_EQ(second.evalX[0], first.x);
  // The log continues the numbering: the first line is that of the last
  // iteration, not "     0".
  EXPECT_EQ(host.displayed.rfind(formatText("%6d  ", iterationsBefore), 0), 0u) << host.displayed;
}

// ---- The iteration log ---------------------------------------------------------------

TEST(MinimizerLog, OneLinePerIterationWithPrintLevelMinusOne) {
  // The quadratic's iterates agree with the R reference to the last digit
  // shown, so the expected log is built from its values:
  // 38, 27.917247899971503, 8.410528215152997, ... .
  const double f[] = {38, 27.917247899971503, 8.410528215152997, 8.0618965996257437,
                      5.1478030794852883, 5.0060219668466504, 5.0000005076745673,
                      5.000000000241192, 5};
  std::string expected = "     0          38.0000000\n";
  for (int k = 1; k <= 8; ++k) {
    const double percent = 100.0 * (f[k - 1] - f[k]) / std::fmax(std::fabs(f[k - 1]), std::fabs(f[k]));
    expected += formatText("%6d  %18.7f  %11.8f\n", k, f[k], percent);
  }
  MemoryHost host;
  FitOptions options;
  options.printLevel = -1;
  options.host = &host;
  const FitResult r = fitProblem(problemNamed("quadratic"), true, options);
  EXPECT_EQ(r.code, kRelFuncConvergence);
  EXPECT_EQ(host.displayed, expected);
  EXPECT_EQ(host.displayed.substr(27, 40), "     1          27.9172479  26.53355816\n");
}

TEST(MinimizerLog, SkippedLinesAndTheLimitLine) {
  const auto log = [](int printLevel, int maxIterations) {
    MemoryHost host;
    FitOptions options;
    options.printLevel = printLevel;
    options.host = &host;
    static int limit;
    limit = maxIterations;
    options.configure = [](MinimizerState& st) { st.maxIterations = limit; };
    fitProblem(problemNamed("wood"), true, options);
    std::vector<int> numbers;
    std::size_t at = 0;
    while (at < host.displayed.size()) {
      numbers.push_back(std::atoi(host.displayed.c_str() + at));
      at = host.displayed.find('\n', at) + 1;
    }
    return numbers;
  };
  // Every second iteration; the iteration limit adds the skipped last one.
  EXPECT_EQ(log(-2, 3), (std::vector<int>{0, 2, 3}));
  EXPECT_EQ(log(-2, 4), (std::vector<int>{0, 2, 4}));
  EXPECT_EQ(log(-1, 2), (std::vector<int>{0, 1, 2}));
  // A positive level prints nothing.
  EXPECT_TRUE(log(1, 3).empty());
}

}  // namespace
}  // namespace kurv::testing
