#pragma once
// Secant (quasi-Newton) trust-region minimizer of the negative log-likelihood.
//
// The method is the general unconstrained minimizer of Dennis, Gay and
// Welsch: the Hessian approximation H = L·Lᵀ is kept as a packed lower
// Cholesky factor and updated by the (Powell-damped) BFGS formula through
// Goldfarb's factored recurrence; candidate steps are double-dogleg steps
// inside a trust region whose radius the step assessment shrinks and grows.
//
// The core, `minimizerIteration`, works by reverse communication: it never
// calls the model, it returns a request in `returnCode` (1: put f(θ) in the
// function-value cell, 2: put ∇f(θ) in `state.gradient`) and is called again
// once the answer is in place. Two drivers wrap it:
//   * `minimizeWithGradient` calls the model's likelihood and gradient itself;
//   * `minimizeWithDifferences` forms gradients by Stewart's finite
//     differences and hands every function value back to its caller.
//
// How a caller drives a fit
// -------------------------
//   MinimizerState state;                         // zero-filled, as created
//   state.host = host;                            // iteration log (may be null)
//   std::vector<double> scale(n, 1.0);
//   setMinimizerDefaults(kGeneralMinimization, realWorkLength(n), state);
//   setMinimizerIntegerSettings(state);           // table values, printLevel 1
//   if (showTrace) state.printLevel = -1;         // one log line per iteration
//   state.returnCode = kFreshStart;               // 12
//   minimizeWithGradient(state, scale, params, objective, kIntWorkLength, realWorkLength(n));
//   // or, from function values alone:
//   minimizeWithDifferences(state, scale, params, objective, kIntWorkLength, realWorkLength(n));
//   // false convergence (8): restart from the point reached by setting
//   // state.returnCode = kFreshStart and calling the same driver again
//   // (iterationCount keeps counting, the log numbering continues).
// Afterwards `state.f` is the final function value, `state.returnCode` the
// final code, and `funcEvalCount`, `gradEvalCount`, `iterationCount` the
// counters; `params` holds the final point.

#include <span>
#include <vector>

#include <string>

#include "core/host.h"
#include "optim/objective.h"

namespace kurv {

// ---- Request, entry and final codes ------------------------------------------
// The codes are the numbers the minimizer's state holds and its messages
// print; an unscoped enumeration with an int base keeps them usable as such.
enum MinimizerCode : int {
  kFillDefaults = 0,       // entry: fill the defaults, then as 12
  kRequestFunction = 1,    // request: f(θ) into the cell
  kRequestGradient = 2,    // request: gradient at θ
  kFirstFinalCode = 3,
  kXConvergence = 3,
  kRelFuncConvergence = 4,
  kBothConvergence = 5,
  kAbsFuncConvergence = 6,
  kSingularConvergence = 7,
  kFalseConvergence = 8,
  kEvalLimit = 9,
  kIterationLimit = 10,
  kFreshStart = 12,        // entry: start with the settings in place
  kLayoutOnly = 13,        // entry: lay out the arrays, answer 14
  kLaidOut = 14,           // answer to 13; as an entry: start, arrays in place
  kStartNotComputable = 63,
  kBadAssessment = 64,
  kGradientNotComputable = 65,
};

// Validation codes of checkMinimizerSettings (slots 19-43 report themselves).
enum SettingsError : int {
  kShortIntWork = 15,
  kShortRealWork = 16,
  kChangedN = 17,
  kBadScale = 18,
  kBadSettingsCount = 51,
  kUnknownAlgorithm = 67,
  kBadEntryCode = 80,
  kBadN = 81,
  kChangedAlgorithm = 82,
};

inline constexpr int kGeneralMinimization = 2;  // the only algorithm kind
inline constexpr int kIntWorkLength = 500;
inline constexpr int kMinIntWork = 59;   // last integer setting slot
inline constexpr int kMinRealWork = 71;  // last real setting slot
inline constexpr int kSettingsCount = 25;
inline constexpr int kFirstSettingSlot = 19;

// Length of the real workspace a run provides: (n+17)·n + 77 doubles.
constexpr int realWorkLength(int n) { return (n + 17) * n + 77; }

// The real settings, named; their workspace slots (the codes reported when a
// setting is out of range) are listed in minimizer_settings.cpp.
struct MinimizerSettings {
  double modelTol = 0.0;              // 19
  double minStepParamFactor = 0.0;    // 20
  double maxStepParamFactor = 0.0;    // 21
  double radiusDecreaseFactor = 0.0;  // 22 radius factor after a non-computable f
  double radiusIncreaseFactor = 0.0;  // 23 least growth on an increase
  double minRadiusFactor = 0.0;       // 24 lower bound of a decrease factor
  double maxRadiusFactor = 0.0;       // 25 factor tried first after a very good step
  double tuner1 = 0.0;                // 26 decrease much smaller than predicted
  double tuner2 = 0.0;                // 27 least relative decrease to accept
  double tuner3 = 0.0;                // 28 decrease that makes an increase worth trying
  double tuner4 = 0.0;                // 29 gradient test for an increase
  double tuner5 = 0.0;                // 30 gradient test for an increase
  double absFuncTol = 0.0;            // 31
  double relFuncTol = 0.0;            // 32
  double xConvTol = 0.0;              // 33
  double falseConvTol = 0.0;          // 34
  double firstStepBound = 0.0;        // 35
  double singularStepBound = 0.0;     // 36
  double singularConvTol = 0.0;       // 37
  double scaleInit = 0.0;             // 38
  double scaleTol = 0.0;              // 39
  double scaleInitFloor = 0.0;        // 40
  double scaleFactor = 0.0;           // 41
  double funcErrorBound = 0.0;        // 42 relative error of f for differences
  double doglegBias = 0.0;            // 43
  double scratch44 = 0.0;             // 44, √ε by default, scratch
};

// Quantities of the current candidate step (all in the plain coordinates,
// the scale being one).
struct StepQuantities {
  double radius = 0.0;              // Δ
  double stepNorm = 0.0;            // ‖s‖
  double newtonNorm = 0.0;          // ν = ‖H⁻¹g‖
  double gradNorm = 0.0;            // γ = ‖g‖
  double rho = 0.0;                 // ρ = ‖Lᵀg‖, ρ² = gᵀHg
  double newtonReduction = 0.0;     // π_N = ½·gᵀH⁻¹g (negated after a test step)
  double predictedReduction = 0.0;  // π
  double dirDerivative = 0.0;       // δ = gᵀs
  double stepParam = 0.0;           // τ: 0 for the full Newton step
  double radiusFactor = 0.0;        // φ
};

// What the step assessment carries from one trial of an iteration to the next.
struct AssessmentState {
  int code = 0;              // code of the previous call (entry code of the next)
  int stage = 0;             // 1 normally; negative while an oversized step is recomputed
  int radiusChanges = 0;     // k: increases positive, decreases negative
  int rememberedCode = 0;    // entry code saved while recomputing an oversized step
  int codeBeforeTest = 0;    // code held back while the singular test step is formed
  double bestF = 0.0;        // f̂
  double bestPredicted = 0.0;   // π̂
  double bestDirDerivative = 0.0;  // δ̂
  double bestStepNorm = 0.0;    // ‖ŝ‖, negated to mark a pending false convergence
  double relChange = 0.0;       // r of the last evaluated trial
  double actualReduction = 0.0; // Δf = f₀ − f
  bool evaluatedPoint = true;   // θ is the point at which f was evaluated
};

// Reverse-communication state of the finite-difference gradient.
struct DifferenceGradientState {
  int component = 0;  // 0 idle, +i forward difference pending, −i central pending
  double eps = 0.0;          // machine epsilon
  double sqrtEps = 0.0;      // h₀
  double fPlus = 0.0;        // f at the forward-perturbed point of a central difference
  double f0 = 0.0;           // f at θ
  double h = 0.0;            // current perturbation
  double savedTheta = 0.0;   // θᵢ before perturbation
};

struct MinimizerState {
  // ---- Integer settings, requests and counters ----------------------------
  int returnCode = 0;
  int tooBig = 0;
  int funcEvalCount = 0;
  int gradEvalIndex = 0;
  int gradEvalCount = 0;
  int iterationCount = 0;
  int maxFuncEvals = 0;
  int maxIterations = 0;
  int printLevel = 0;
  int initialHessian = 0;
  int scaleType = 0;
  // Bookkeeping the validation reads.
  int firstFreeRealSlot = 0;  // 72
  int lastIntSetting = 0;     // 59
  int lastRealSetting = 0;    // 71
  int settingsCount = 0;      // 25
  int algorithmKind = 0;      // 2
  int realStorageNeed = 0;    // extra real storage asked for on a fresh start
  int intStorageNeed = 0;

  MinimizerSettings settings;
  Host* host = nullptr;  // receives the iteration log; may be null

  // ---- Results and working state ---------------------------------------------
  int n = 0;        // dimension fixed at the fresh start
  double f = 0.0;   // current function value
  double f0 = 0.0;  // value at the start of the iteration
  std::vector<double> factor;      // packed lower-triangular L, by rows
  std::vector<double> theta0;      // θ₀
  std::vector<double> step;        // s
  std::vector<double> savedStep;   // ŝ; also t = H·s for the gradient tests
  std::vector<double> grad0;       // g₀, then y = g − g₀
  std::vector<double> newtonStep;  // v = H⁻¹g
  std::vector<double> scaledGrad;  // g/d
  std::vector<double> gradient;    // g
  std::vector<double> work;        // scratch
  std::vector<double> work2;       // scratch; t = H·s for the gradient tests
  std::vector<double> updateWork;  // 3n scratch of the secant update
  std::vector<double> scale;       // copy of d taken at the fresh start
  // Difference mode.
  std::vector<double> hessianDiagonal;  // αᵢ = Σⱼ Lᵢⱼ²
  DifferenceGradientState diff;
  bool differencing = false;  // a difference gradient is being formed

  StepQuantities q;
  AssessmentState assess;
  int pendingCode = 0;       // convergence code waiting for the final gradient
  bool firstPoint = false;   // the starting point's f/gradient are being formed
  bool newtonReady = false;  // Newton step of this iteration computed
  bool awaitingTestStep = false;  // code 6: the next step is the singular test step
  int printCounter = 0;      // iterations since the last log line
};

// Fills the real settings of the general-minimization kind. Returns 0, or 67
// for an unknown kind, or 16 when realWorkLength is below 71 (the code is then
// also left in state.returnCode).
int setMinimizerDefaults(int algorithmKind, int realWorkLength, MinimizerState& state);
// Sets the integer settings to the values a run uses (limits 1,000,000,
// printLevel 1, initial Hessian = diag(d), no scale updating) and the
// bookkeeping of the validation; returnCode becomes 12.
void setMinimizerIntegerSettings(MinimizerState& state);
// Validation of a fresh start; returns 0 or the failure code.
int checkMinimizerSettings(MinimizerState& state, int n, std::span<const double> d,
                           int intWorkLength, int realWorkLength, int entryCode);

// The reverse-communication core. `f` is the function-value cell (read when
// returnCode is 1); the gradient is read from state.gradient (returnCode 2).
void minimizerIteration(MinimizerState& state, int n, std::span<const double> d, double f,
                        std::span<double> theta, int intWorkLength, int realWorkLength);

// Gradient mode: asks `objective` for values and gradients until returnCode
// is final (3 or more).
void minimizeWithGradient(MinimizerState& state, std::span<const double> d, std::span<double> theta,
                          Objective& objective, int intWorkLength, int realWorkLength);

// Difference mode: asks `objective` for values only, forming gradients by
// Stewart's finite differences, until returnCode is final.
void minimizeWithDifferences(MinimizerState& state, std::span<const double> d, std::span<double> theta,
                             Objective& objective, int intWorkLength, int realWorkLength);

// One reverse-communication step of difference mode, for callers that keep
// the loop themselves: returns with returnCode 1 or 2 whenever f is needed at
// theta (the caller stores it in `f`, sets tooBig when it cannot be computed,
// and calls again), or with a final code.
void differenceModeStep(MinimizerState& state, std::span<const double> d, double& f, int intWorkLength,
                        int realWorkLength, int n, std::span<double> theta);

// What a final code means to the run: the message it leaves on standard
// output ("" for a plain convergence) and whether results follow.
struct FinalCodeOutcome {
  std::string message;
  bool goOn = false;
};
FinalCodeOutcome finalCodeOutcome(int code);

// The iteration log (Host::display, only when printLevel < 0).
void reportIteration(MinimizerState& state);

}  // namespace kurv
