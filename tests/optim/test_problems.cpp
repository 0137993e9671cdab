#include "test_problems.h"

#include <algorithm>
#include <cfloat>
#include <stdexcept>

namespace kurv::testing {
namespace {

double lookup(const ProblemContext& pc, const double* x, int n) {
  for (std::size_t k = pc.evalX.size(); k-- > 0;) {
    if (std::equal(x, x + n, pc.evalX[k].begin())) return pc.evalF[k];
  }
  return NAN;
}

}  // namespace

int problemLikelihood(int n, const double* x, double* f, ModelContext* ctx) {
  auto* pc = static_cast<ProblemContext*>(ctx);
  *f = pc->problem->f(x);
  pc->evalX.emplace_back(x, x + n);
  pc->evalF.push_back(*f);
  return 0;
}

int problemGradient(int n, const double* x, int* gradEvalIndex, double* g, ModelContext* ctx) {
  auto* pc = static_cast<ProblemContext*>(ctx);
  pc->problem->g(x, g);
  pc->gradX.emplace_back(x, x + n);
  pc->gradientPointF.push_back(lookup(*pc, x, n));
  if (pc->failGradient) *gradEvalIndex = 0;
  return 0;
}

const TestProblem& problemNamed(const std::string& name) {
  for (const auto& p : testProblems()) {
    if (p.name == name) return p;
  }
  throw std::invalid_argument(name);
}

FitResult fitProblem(const TestProblem& problem, bool gradientMode, const FitOptions& options) {
  const int n = static_cast<int>(problem.start.size());
  ProblemContext pc;
  pc.problem = &problem;
  std::vector<double> x = options.start.empty() ? problem.start : options.start;
  std::vector<double> scale(static_cast<std::size_t>(n), 1.0);
  MinimizerState fresh;
  MinimizerState& state = options.state != nullptr ? *options.state : fresh;
  if (options.state == nullptr) {
    state.host = options.host;
    setMinimizerDefaults(kGeneralMinimization, realWorkLength(n), state);
    setMinimizerIntegerSettings(state);
    state.printLevel = options.printLevel;
    if (options.configure != nullptr) options.configure(state);
  }
  FitResult r;
  if (gradientMode) {
    minimizeWithGradient(state, n, scale, x, problemLikelihood, problemGradient, kIntWorkLength,
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
      problemLikelihood(n, x.data(), &f, &pc);
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
  r.gradientCalls = static_cast<int>(pc.gradX.size());
  r.evalX = pc.evalX;
  r.gradX = pc.gradX;
  return r;
}

}  // namespace kurv::testing
