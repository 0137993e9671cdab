#pragma once
// The candidate step of the minimizer: the Newton step of the quadratic
// model, the double-dogleg step inside the trust region, the relative step
// change, and the step assessment that accepts, shortens or lengthens a step
// and applies the convergence tests.

#include <span>

#include "optim/minimizer.h"

namespace kurv {

// Newton step v = H⁻¹g with H = L·Lᵀ: solve L·w = g, then Lᵀ·v = w. Sets
// q.newtonNorm = ‖v‖ and q.rho = ‖Lᵀg‖. `work` holds n doubles.
void computeNewtonStep(int n, std::span<const double> packedL, std::span<const double> g,
                       std::span<double> v, std::span<double> work, StepQuantities& q);

// Double-dogleg step of Dennis and Mei for the radius q.radius, from the
// gradient g (norm q.gradNorm), the Newton step v (norm q.newtonNorm) and
// ρ = q.rho. Writes s and q.stepNorm, q.stepParam, q.dirDerivative,
// q.predictedReduction and q.newtonReduction.
void doubleDoglegStep(std::span<const double> g, std::span<const double> v,
                      std::span<double> s, double doglegBias, StepQuantities& q);

// max_i |d_i(θ_i − θ0_i)| / max_i d_i(|θ_i| + |θ0_i|); 0 when the denominator is 0.
double relativeStepChange(std::span<const double> d, std::span<const double> theta,
                          std::span<const double> theta0);

// Assessment codes.
enum StepAssessment : int {
  kAssessSmallerRadius = 1,   // never produced here (one model)
  kAssessAccept = 2,          // never produced here
  kAssessAcceptKeep = 3,      // accept, radius factor φ (≥ 1)
  kAssessAcceptShrink = 4,    // accept with a smaller radius
  kAssessRecompute = 5,       // recompute with radius φ·‖s‖
  kAssessSingularTest = 6,    // form the singular-convergence test step
  // Convergence found by the assessment; the minimizer's final code is the
  // assessment code less kAssessToFinalCode (7 -> 3, ..., 12 -> 8).
  kAssessXConvergence = 7,
  kAssessRelFuncConvergence = 8,
  kAssessBothConvergence = 9,
  kAssessAbsFuncConvergence = 10,
  kAssessSingularConvergence = 11,
  kAssessFalseConvergence = 12,
  kAssessBadEntry = 13,
};
inline constexpr int kAssessToFinalCode = 4;

// Assesses the trial at theta (value state.f; state.f0 at state.theta0) for
// the step state.step, entering with state.assess.code. May take θ, f and the
// step back to the best trial of the iteration or to θ0. Returns the new code
// (also left in state.assess.code).
int assessStep(MinimizerState& state, std::span<double> theta, std::span<const double> d);

}  // namespace kurv
