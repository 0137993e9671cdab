// Step assessment of Dennis, Gay and Welsch for a trust-region method with a
// single quadratic model: decides after each evaluated trial whether to
// accept the step, recompute it with a smaller or larger radius, or stop,
// and chooses the radius factor φ for the next radius φ·‖s‖.

#include <cmath>

#include "optim/trust_step.h"

namespace kurv {
namespace {

enum class Next { kCompare, kTakeBack, kMeasure, kBest, kConvergence, kShrinkTail };

// θ = θ₀ + s.
void placeTrial(std::span<double> theta, const MinimizerState& st) {
  for (std::size_t i = 0; i < theta.size(); ++i) theta[i] = st.theta0[i] + st.step[i];
}

// The trial could not be evaluated: the step is recomputed from the same θ₀
// with the radius reduced by radiusDecreaseFactor. θ and f are set back to
// the best point known in this iteration so that a stop at the evaluation
// limit leaves a consistent point and value.
int oversizedStep(MinimizerState& st, std::span<double> theta) {
  AssessmentState& a = st.assess;
  st.q.radiusFactor = st.settings.radiusDecreaseFactor;
  a.radiusChanges -= 1;
  if (a.bestF < st.f0) {
    for (std::size_t i = 0; i < theta.size(); ++i) theta[i] = st.theta0[i] + st.savedStep[i];
    st.f = a.bestF;
  } else {
    for (std::size_t i = 0; i < theta.size(); ++i) theta[i] = st.theta0[i];
    st.f = st.f0;
  }
  a.code = kAssessRecompute;
  return a.code;
}

// Singular-convergence test (codes 1 to 5 and 12): when the step is short, or
// long but predicting almost no decrease, a step of radius firstStepBound is
// formed (code 6) to see whether the model predicts any decrease at all.
int singularTest(MinimizerState& st, int code) {
  AssessmentState& a = st.assess;
  StepQuantities& q = st.q;
  const MinimizerSettings& s = st.settings;
  const double bound = s.singularStepBound;
  const double singularTol = s.singularConvTol * std::fabs(st.f0);
  if (q.stepNorm > bound) {
    if (0.5 * q.stepNorm <= bound) return code;
    const double x = bound / q.stepNorm;
    if (x * (2.0 - x) * q.predictedReduction >= singularTol) return code;
  } else {
    if (q.predictedReduction >= singularTol) return code;
    if (q.newtonNorm > 0.0 && 0.5 * q.newtonNorm <= bound) return code;
  }
  if (q.newtonReduction >= 0.0) {
    st.savedStep = st.step;
    a.bestStepNorm = code == kAssessFalseConvergence ? -q.stepNorm : q.stepNorm;
    a.bestDirDerivative = q.dirDerivative;
    a.bestPredicted = q.predictedReduction;
    a.codeBeforeTest = code;
    return kAssessSingularTest;
  }
  if (-q.newtonReduction <= s.relFuncTol * std::fabs(st.f0)) code = kAssessSingularConvergence;
  return code;
}

}  // namespace

int assessStep(MinimizerState& st, std::span<double> theta, std::span<const double> d) {
  AssessmentState& a = st.assess;
  StepQuantities& q = st.q;
  const MinimizerSettings& s = st.settings;

  const int entry = a.code;
  int code = entry;
  bool restoreMark = false;
  double lengthRatio = 1.0;  // ε₁: ‖s‖/‖ŝ‖ after a trial is taken back
  int trialIndex = st.funcEvalCount;
  a.evaluatedPoint = true;
  Next next = Next::kMeasure;

  switch (entry) {
    case kAssessAcceptKeep:
    case kAssessAcceptShrink:  // first trial of an iteration
      a.stage = 1;
      a.radiusChanges = 0;
      a.bestF = st.f0;
      if (st.tooBig) {
        a.stage = -1;
        a.rememberedCode = entry;
        return oversizedStep(st, theta);
      }
      next = Next::kMeasure;
      break;
    case kAssessSmallerRadius:  // the previous trial was followed by a smaller radius
      a.stage = 1;
      a.radiusChanges = -1;
      next = Next::kMeasure;
      break;
    case kAssessRecompute:  // step recomputed with the same model
      if (a.stage <= 0) {
        // An oversized step is being recomputed.
        if (st.tooBig) return oversizedStep(st, theta);
        a.stage = -a.stage;
        switch (a.rememberedCode) {
          case kAssessSmallerRadius:
            a.stage = 1;
            a.radiusChanges = -1;
            next = Next::kMeasure;
            break;
          case kAssessAcceptKeep:
          case kAssessAcceptShrink:
            next = Next::kMeasure;
            break;
          default:
            next = Next::kCompare;
            break;
        }
      } else if (st.tooBig) {
        if (a.radiusChanges > 0) {
          next = Next::kTakeBack;  // the step had been lengthened after a good trial
        } else {
          a.stage = -a.stage;
          a.rememberedCode = kAssessRecompute;
          return oversizedStep(st, theta);
        }
      } else {
        next = Next::kCompare;
      }
      break;
    case kAssessSingularTest: {
      // Back from forming the test step: its predicted reduction decides.
      q.dirDerivative = a.bestDirDerivative;
      q.stepNorm = std::fabs(a.bestStepNorm);
      st.step = st.savedStep;
      code = a.bestStepNorm <= 0.0 ? kAssessFalseConvergence : a.codeBeforeTest;
      q.newtonReduction = -q.predictedReduction;
      q.predictedReduction = a.bestPredicted;
      if (-q.newtonReduction <= s.relFuncTol * std::fabs(st.f0)) code = kAssessSingularConvergence;
      a.code = code;
      return code;
    }
    default:
      a.code = kAssessBadEntry;
      return a.code;
  }

  if (next == Next::kCompare) next = st.f < a.bestF ? Next::kMeasure : Next::kTakeBack;
  if (next == Next::kTakeBack) {
    // The new trial is no better than the best one of this iteration; if that
    // one decreased f, go back to it.
    if (a.bestF < st.f0) {
      restoreMark = true;
      st.f = a.bestF;
      q.predictedReduction = a.bestPredicted;
      q.dirDerivative = a.bestDirDerivative;
      lengthRatio = q.stepNorm / a.bestStepNorm;
      q.stepNorm = a.bestStepNorm;
      a.evaluatedPoint = false;
      trialIndex = st.gradEvalIndex;
    }
  }

  // Measure the trial.
  const double evaluatedChange = relativeStepChange(d, theta, st.theta0);
  if (!a.evaluatedPoint) {
    st.step = st.savedStep;
    placeTrial(theta, st);
  }
  const double reduction = st.f0 - st.f;
  a.actualReduction = reduction;

  if (reduction > s.tuner2 * q.predictedReduction) {
    // A non-trivial decrease.
    st.gradEvalIndex = trialIndex;
    lengthRatio = 1.0;
    if (a.evaluatedPoint) a.relChange = evaluatedChange;
    a.bestStepNorm = q.stepNorm;
    if (reduction > s.tuner1 * q.predictedReduction) {
      // A good decrease.
      if (reduction < -s.tuner3 * q.dirDerivative || a.radiusChanges < 0 || restoreMark) {
        q.radiusFactor = 1.0;
        code = kAssessAcceptKeep;
        next = Next::kConvergence;
      } else {
        // Try a longer step: by maxRadiusFactor, or less when the decrease
        // falls short of what that factor would need.
        q.radiusFactor = s.maxRadiusFactor;
        if (reduction < (0.5 / q.radiusFactor - 1.0) * q.dirDerivative) {
          q.radiusFactor = std::fmax(s.radiusIncreaseFactor,
                                     0.5 * q.dirDerivative / (q.dirDerivative + reduction));
        }
        code = kAssessAcceptShrink;
        if (q.stepParam == 0.0) {
          next = Next::kConvergence;  // a full Newton step cannot get longer
        } else {
          a.radiusChanges += 1;
          code = kAssessRecompute;
          next = Next::kBest;
        }
      }
    } else {
      // Much less decrease than predicted: accept with a smaller radius.
      code = kAssessAcceptShrink;
      next = Next::kShrinkTail;
    }
  } else {
    // No or only a trivial decrease: recompute with a smaller radius.
    a.relChange = evaluatedChange;
    if (st.f >= st.f0) {
      a.bestF = st.f;
      st.f = st.f0;
      for (std::size_t i = 0; i < theta.size(); ++i) theta[i] = st.theta0[i];
      restoreMark = true;
    } else {
      st.gradEvalIndex = trialIndex;
    }
    code = kAssessRecompute;
    a.radiusChanges -= 1;
    next = Next::kShrinkTail;
  }

  if (next == Next::kShrinkTail) {
    // Fletcher's decrease factor: ½, or the minimiser of the quadratic
    // interpolating f₀, δ and f when f rose, bounded below by minRadiusFactor.
    q.radiusFactor = 0.5 * lengthRatio;
    if (q.dirDerivative + reduction < q.dirDerivative) {
      q.radiusFactor =
          lengthRatio * std::fmax(s.minRadiusFactor,
                                  0.5 * q.dirDerivative / (q.dirDerivative + reduction));
    }
    if (a.relChange <= s.falseConvTol) {
      // No acceptable decrease although the step is at the rounding level.
      code = kAssessFalseConvergence;
      next = Next::kConvergence;
    } else {
      next = st.f >= st.f0 ? Next::kConvergence : Next::kBest;
    }
  }

  if (next == Next::kBest) {
    a.bestF = st.f;
    st.savedStep = st.step;
    a.bestStepNorm = q.stepNorm;
    a.bestPredicted = q.predictedReduction;
    a.bestDirDerivative = q.dirDerivative;
    st.gradEvalIndex = trialIndex;
  }

  // Convergence tests.
  if (std::fabs(st.f) < s.absFuncTol) code = kAssessAbsFuncConvergence;
  if (0.5 * reduction > q.predictedReduction) {
    // The model badly underestimates the decrease: it cannot be trusted to
    // judge convergence.
    a.code = code;
    return code;
  }
  const double relTol = s.relFuncTol * std::fabs(st.f0);
  const double singularTol = s.singularConvTol * std::fabs(st.f0);
  if (q.stepNorm > s.singularStepBound && q.predictedReduction <= singularTol) code = kAssessSingularConvergence;
  if (q.newtonNorm >= 0.0) {
    const bool relFunc = (q.newtonReduction > 0.0 && q.newtonReduction <= relTol) ||
                         (q.newtonReduction == 0.0 && q.predictedReduction == 0.0);
    const bool x = q.stepParam == 0.0 && a.relChange <= s.xConvTol && a.evaluatedPoint;
    if (relFunc && x) code = kAssessBothConvergence;
    else if (relFunc) code = kAssessRelFuncConvergence;
    else if (x) code = kAssessXConvergence;
  }
  if (code >= kAssessSingularTest && code <= kAssessSingularConvergence) {
    a.code = code;
    return code;
  }
  a.code = singularTest(st, code);
  return a.code;
}

}  // namespace kurv
