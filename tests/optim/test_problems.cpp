#include "test_problems.h"

#include <cfloat>

namespace kurv::testing {
namespace {

// The callbacks reach their problem through a run record extended for the
// tests; it also logs every evaluation.
struct ProblemContext : ModelContext {
  const TestProblem* problem = nullptr;
  std::vector<std::vector<double>> evalX;
  std::vector<double> evalF;
  std::vector<double> gradientPointF;  // f at each point where a gradient was formed
  int gradientCalls = 0;
};

double lookup(const ProblemContext& pc, const double* x, int n) {
  for (std::size_t k = pc.evalX.size(); k-- > 0;) {
    if (std::equal(x, x + n, pc.evalX[k].begin())) return pc.evalF[k];
  }
  return NAN;
}

int likelihood(int n, const double* x, double* f, ModelContext* ctx) {
  auto* pc = static_cast<ProblemContext*>(ctx);
  *f = pc->problem->f(x);
  pc->evalX.emplace_back(x, x + n);
  pc->evalF.push_back(*f);
  return 0;
}

int gradient(int n, const double* x, int* /*gradEvalIndex*/, double* g, ModelContext* ctx) {
  auto* pc = static_cast<ProblemContext*>(ctx);
  pc->problem->g(x, g);
  pc->gradientCalls += 1;
  pc->gradientPointF.push_back(lookup(*pc, x, n));
  return 0;
}

}  // namespace

FitResult fitProblem(const TestProblem& problem, bool gradientMode, int printLevel, Host* host) {
  const int n = static_cast<int>(problem.start.size());
  ProblemContext pc;
  pc.problem = &problem;
  std::vector<double> x = problem.start;
  std::vector<double> scale(static_cast<std::size_t>(n), 1.0);
  MinimizerState state;
  state.host = host;
  setMinimizerDefaults(kGeneralMinimization, realWorkLength(n), state);
  setMinimizerIntegerSettings(state);
  state.printLevel = printLevel;
  FitResult r;
  if (gradientMode) {
    minimizeWithGradient(state, n, scale, x, likelihood, gradient, kIntWorkLength,
                         realWorkLength(n), &pc);
    r.iterationF = pc.gradientPointF;
  } else {
    double f = 0.0;
    int previous = 0;
    for (;;) {
      minimizeWithDifferences(state, scale, f, kIntWorkLength, realWorkLength(n), n, x);
      if (state.returnCode >= kFirstFinalCode) break;
      // A gradient block starts with a request 2 after a request 1.
      if (state.returnCode == kRequestGradient && previous != kRequestGradient) {
        r.iterationF.push_back(state.f);
      }
      previous = state.returnCode;
      likelihood(n, x.data(), &f, &pc);
      if (f == DBL_MAX) state.tooBig = 1;
    }
  }
  r.code = state.returnCode;
  r.iterations = state.iterationCount;
  r.funcEvals = state.funcEvalCount;
  r.gradEvals = state.gradEvalCount;
  r.f = state.f;
  r.x = x;
  r.likelihoodCalls = static_cast<int>(pc.evalF.size());
  r.gradientCalls = pc.gradientCalls;
  return r;
}

}  // namespace kurv::testing
