// The reverse-communication core of the secant trust-region minimizer.
//
// Each call resumes where the previous one returned: after a function value
// (returnCode 1) the trial step is assessed; after a gradient (returnCode 2)
// the secant update is made and a new iteration begins. Between calls the
// whole state lives in MinimizerState.

#include <cblas.h>

#include "optim/minimizer.h"
#include "optim/packed_triangular.h"
#include "optim/secant_update.h"
#include "optim/trust_step.h"

namespace kurv {
namespace {

class Core {
 public:
  Core(MinimizerState& st, std::span<double> theta) : st_(st), theta_(theta), n_(st.n) {}

  void functionValueIn(double f) {
    st_.f = f;
    if (st_.firstPoint) {
      st_.f0 = f;
      if (st_.tooBig) return finish(kStartNotComputable);
      st_.returnCode = kRequestGradient;
      return;
    }
    assess();
  }

  void gradientIn() {
    if (st_.gradEvalIndex == 0) return finish(kGradientNotComputable);
    for (int i = 0; i < n_; ++i) st_.scaledGrad[i] = st_.gradient[i] / st_.scale[i];
    st_.q.gradNorm = cblas_dnrm2(n_, st_.scaledGrad.data(), 1);
    if (st_.pendingCode != 0) {
      const int code = st_.pendingCode;
      st_.pendingCode = 0;
      return finish(code);
    }
    if (st_.firstPoint) {
      // The first radius is firstStepBound: radius factor times a unit length.
      st_.q.radiusFactor = st_.settings.firstStepBound;
      st_.q.stepNorm = 1.0;
      st_.firstPoint = false;
      st_.returnCode = kRequestGradient;
      reportIteration(st_);
      return newIteration();
    }
    updateAfterStep();
  }

  void freshStart(std::span<const double> d) {
    st_.scale.assign(d.begin(), d.begin() + n_);
    st_.funcEvalCount = 1;
    st_.gradEvalCount = 1;
    st_.gradEvalIndex = 1;
    st_.firstPoint = true;
    st_.tooBig = 0;
    st_.pendingCode = 0;
    st_.awaitingTestStep = false;
    st_.printCounter = 0;
    if (st_.settings.scaleInit >= 0.0) {
      for (double& di : st_.scale) di = st_.settings.scaleInit;
    }
    if (st_.initialHessian == 1) {
      // L = diag(d), so H₀ = diag(d)²; entries d ≤ 0 count as 1.
      std::fill(st_.factor.begin(), st_.factor.end(), 0.0);
      for (int i = 0; i < n_; ++i) {
        const double t = st_.scale[i];
        st_.factor[packedRowStart(i) + i] = t <= 0.0 ? 1.0 : t;
      }
    }
    st_.returnCode = kRequestFunction;
  }

 private:
  void finish(int code) {
    st_.returnCode = code;
    reportIteration(st_);
  }

  void newIteration() {
    if (st_.iterationCount >= st_.maxIterations) return finish(kIterationLimit);
    st_.iterationCount += 1;
    st_.q.radius = st_.q.radiusFactor * st_.q.stepNorm;
    st_.f0 = st_.f;
    cblas_dcopy(n_, theta_.data(), 1, st_.theta0.data(), 1);
    cblas_dcopy(n_, st_.gradient.data(), 1, st_.grad0.data(), 1);
    st_.newtonReady = false;
    st_.assess.code = 4;
    limitCheck();
  }

  // Before every candidate step: the evaluation limit. When the iteration has
  // already improved f, its gradient is still formed before stopping.
  void limitCheck() {
    if (st_.funcEvalCount >= st_.maxFuncEvals) {
      if (st_.f < st_.f0) {
        st_.pendingCode = kEvalLimit;
        st_.gradEvalCount += 1;
        st_.returnCode = kRequestGradient;
        return;
      }
      return finish(kEvalLimit);
    }
    candidateStep();
  }

  void candidateStep() {
    if (!st_.newtonReady) {
      computeNewtonStep(n_, st_.factor, st_.scaledGrad, st_.newtonStep, st_.work, st_.q);
      st_.newtonReady = true;
    }
    doubleDoglegStep(st_.scaledGrad, st_.newtonStep, st_.step, st_.settings.doglegBias, st_.q);
    if (st_.assess.code == kAssessSingularTest) return assess();  // test step: no evaluation
    for (int i = 0; i < n_; ++i) theta_[i] = st_.theta0[i] + st_.step[i];
    st_.funcEvalCount += 1;
    st_.tooBig = 0;
    st_.returnCode = kRequestFunction;
  }

  void assess() {
    const int code = assessStep(st_, theta_, st_.scale);
    switch (code) {
      case kAssessSmallerRadius:
      case kAssessRecompute:
        st_.q.radius = st_.q.radiusFactor * st_.q.stepNorm;
        return limitCheck();
      case kAssessSingularTest:
        st_.q.radius = st_.settings.firstStepBound;
        return candidateStep();
      case kAssessAccept:
      case kAssessAcceptKeep:
      case kAssessAcceptShrink:
        return accept(code);
      case kAssessXConvergence:
      case kAssessRelFuncConvergence:
      case kAssessBothConvergence:
      case kAssessAbsFuncConvergence:
      case kAssessSingularConvergence:
      case kAssessFalseConvergence: {
        const int finalCode = code - kAssessToFinalCode;
        if (st_.f >= st_.f0) return finish(finalCode);
        // Converged on an improved point: its gradient is formed first.
        st_.pendingCode = finalCode;
        return accept(code);
      }
      default:
        return finish(kBadAssessment);
    }
  }

  void accept(int code) {
    if (code == kAssessAcceptKeep) {
      // t = H·s = L(Lᵀs), for the gradient tests of a possible radius increase.
      multiplyLowerTransposed(n_, st_.factor.data(), st_.step.data(), st_.work2.data());
      multiplyLower(n_, st_.factor.data(), st_.work2.data(), st_.work2.data());
    }
    st_.gradEvalCount += 1;
    st_.returnCode = kRequestGradient;
  }

  void updateAfterStep() {
    double* y = st_.grad0.data();
    for (int i = 0; i < n_; ++i) y[i] = st_.gradient[i] - y[i];  // y = g − g₀
    if (st_.assess.code == kAssessAcceptKeep) {
      // Grow the radius when the model predicted the new gradient well
      // (‖Hs − y‖ small) or the slope along s is still strongly negative.
      double* t = st_.work2.data();
      for (int i = 0; i < n_; ++i) t[i] = (t[i] - y[i]) / st_.scale[i];
      if (cblas_dnrm2(n_, t, 1) <= st_.settings.tuner4 * st_.q.gradNorm) {
        st_.q.radiusFactor = st_.settings.radiusIncreaseFactor;
      } else if (cblas_ddot(n_, st_.gradient.data(), 1, st_.step.data(), 1) <
                 st_.settings.tuner5 * st_.q.dirDerivative) {
        st_.q.radiusFactor = st_.settings.radiusIncreaseFactor;
      }
    }
    bfgsUpdateVectors(n_, st_.factor, st_.step, st_.grad0, st_.work, st_.work2);
    secantUpdateFactor(n_, st_.factor, st_.work, st_.work2, st_.updateWork);
    st_.returnCode = kRequestGradient;
    reportIteration(st_);
    newIteration();
  }

  MinimizerState& st_;
  std::span<double> theta_;
  int n_;
};

void layOut(MinimizerState& st, int n) {
  st.n = n;
  const auto un = static_cast<std::size_t>(n);
  st.factor.assign(packedLength(n), 0.0);
  for (auto* v : {&st.theta0, &st.step, &st.savedStep, &st.grad0, &st.newtonStep, &st.scaledGrad,
                  &st.gradient, &st.work, &st.work2, &st.hessianDiagonal}) {
    v->assign(un, 0.0);
  }
  st.updateWork.assign(3 * un, 0.0);
  st.diff = DifferenceGradientState{};
  st.differencing = false;
}

}  // namespace

void minimizerIteration(MinimizerState& state, int n, std::span<const double> d, double f,
                        std::span<double> theta, int intWorkLength, int realWorkLength) {
  int entry = state.returnCode;
  if (entry == kRequestFunction || entry == kRequestGradient) {
    if (n != state.n || theta.size() < static_cast<std::size_t>(n)) {
      state.returnCode = kChangedN;
      reportIteration(state);
      return;
    }
    Core core(state, theta.first(static_cast<std::size_t>(n)));
    if (entry == kRequestFunction) {
      core.functionValueIn(f);
    } else {
      core.gradientIn();
    }
    return;
  }
  if (entry == kFillDefaults) {
    if (setMinimizerDefaults(kGeneralMinimization, realWorkLength, state) != 0) {
      reportIteration(state);
      return;
    }
    setMinimizerIntegerSettings(state);
    entry = kFreshStart;
  }
  if (entry >= kFirstFinalCode && entry <= 11) {
    // The fit has ended; calling again changes nothing unless n changed.
    if (n != state.n) state.returnCode = kChangedN;
    reportIteration(state);
    return;
  }
  if (entry < 0 || entry > kLaidOut) {
    state.returnCode = kBadEntryCode;
    reportIteration(state);
    return;
  }
  if (entry == kFreshStart || entry == kLayoutOnly) {
    // L (n(n+1)/2) and six vectors θ₀, s, ŝ, g₀, Newton step, g/d.
    state.realStorageNeed += n * (n + 13) / 2;
  }
  int code = checkMinimizerSettings(state, n, d, intWorkLength, realWorkLength, entry);
  if (code == 0 && theta.size() < static_cast<std::size_t>(n)) code = kBadN;
  if (code != 0) {
    state.returnCode = code;
    reportIteration(state);
    return;
  }
  if (entry != kLaidOut || state.n != n || state.factor.size() != packedLength(n)) layOut(state, n);
  if (entry == kLayoutOnly) {
    state.returnCode = kLaidOut;
    return;
  }
  Core core(state, theta.first(static_cast<std::size_t>(n)));
  core.freshStart(d);
}

}  // namespace kurv
