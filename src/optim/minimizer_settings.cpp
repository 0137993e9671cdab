// Default settings of the minimizer and their validation on a fresh start.

#include <algorithm>
#include <cfloat>
#include <cmath>

#include "optim/minimizer.h"

namespace kurv {
namespace {

// One real setting: its workspace slot (the code reported when it is out of
// range), where it lives, and its allowed closed range.
struct SettingRange {
  int slot;
  double MinimizerSettings::*member;
  double low;
  double high;
};

constexpr double kEps = DBL_EPSILON;  // 2⁻⁵²
constexpr double kTiny = DBL_MIN;     // smallest normal double
constexpr double kBig = DBL_MAX;

// The 25 validated slots, 19 to 43, in the order they are checked.
const SettingRange kRanges[] = {
    {19, &MinimizerSettings::modelTol, 0.001, 0.9},
    {20, &MinimizerSettings::minStepParamFactor, -0.99, -0.001},
    {21, &MinimizerSettings::maxStepParamFactor, 0.001, 10.0},
    {22, &MinimizerSettings::radiusDecreaseFactor, 0.01, 0.8},
    {23, &MinimizerSettings::radiusIncreaseFactor, 1.2, 100.0},
    {24, &MinimizerSettings::minRadiusFactor, 0.01, 0.8},
    {25, &MinimizerSettings::maxRadiusFactor, 1.2, 100.0},
    {26, &MinimizerSettings::tuner1, 0.0, 0.5},
    {27, &MinimizerSettings::tuner2, 0.0, 0.5},
    {28, &MinimizerSettings::tuner3, 0.001, 1.0},
    {29, &MinimizerSettings::tuner4, -1.0, 1.0},
    {30, &MinimizerSettings::tuner5, kEps, kBig},
    {31, &MinimizerSettings::absFuncTol, kTiny, kBig},
    {32, &MinimizerSettings::relFuncTol, kEps, 0.1},
    {33, &MinimizerSettings::xConvTol, 0.0, 1.0},
    {34, &MinimizerSettings::falseConvTol, 0.0, 1.0},
    {35, &MinimizerSettings::firstStepBound, kTiny, kBig},
    {36, &MinimizerSettings::singularStepBound, kTiny, kBig},
    {37, &MinimizerSettings::singularConvTol, 0.0, 1.0},
    {38, &MinimizerSettings::scaleInit, -10.0, kBig},
    {39, &MinimizerSettings::scaleTol, 0.0, kBig},
    {40, &MinimizerSettings::scaleInitFloor, 0.0, kBig},
    {41, &MinimizerSettings::scaleFactor, 0.0, 1.0},
    {42, &MinimizerSettings::funcErrorBound, kEps, 1.0},
    {43, &MinimizerSettings::doglegBias, 0.0, 1.0},
};

}  // namespace

int setMinimizerDefaults(int algorithmKind, int realWorkLength, MinimizerState& state) {
  if (algorithmKind != kGeneralMinimization) {
    state.returnCode = kUnknownAlgorithm;
    return state.returnCode;
  }
  if (realWorkLength < kMinRealWork) {
    state.returnCode = kShortRealWork;
    return state.returnCode;
  }
  MinimizerSettings& s = state.settings;
  s.modelTol = 0.1;
  s.minStepParamFactor = -0.1;
  s.maxStepParamFactor = 0.1;
  s.radiusDecreaseFactor = 0.5;
  s.radiusIncreaseFactor = 2.0;
  s.minRadiusFactor = 0.1;
  s.maxRadiusFactor = 4.0;
  s.tuner1 = 0.1;
  s.tuner2 = 1e-4;
  s.tuner3 = 0.75;
  s.tuner4 = 0.5;
  s.tuner5 = 0.75;
  s.absFuncTol = 1e-20;
  // Relative function convergence: about two thirds of the digits of f.
  s.relFuncTol = std::fmax(1e-10, std::pow(kEps, 2.0 / 3.0));
  // x-convergence: half of the digits of θ.
  s.xConvTol = std::sqrt(kEps);
  // False convergence: a step at the rounding level of θ.
  s.falseConvTol = 100.0 * kEps;
  s.firstStepBound = 1.0;
  s.singularStepBound = 1.0;
  s.singularConvTol = s.relFuncTol;
  s.scaleInit = -1.0;
  s.scaleTol = 1e-6;
  s.scaleInitFloor = 1.0;
  s.scaleFactor = 0.6;
  // Relative error of f assumed by the difference gradient.
  s.funcErrorBound = 1000.0 * kEps;
  s.doglegBias = 0.8;
  s.scratch44 = std::sqrt(kEps);
  state.algorithmKind = algorithmKind;
  return 0;
}

void setMinimizerIntegerSettings(MinimizerState& state) {
  state.returnCode = kFreshStart;
  state.tooBig = 0;
  state.maxFuncEvals = 1000000;
  state.maxIterations = 1000000;
  state.printLevel = 1;
  state.initialHessian = 1;
  state.scaleType = 0;
  state.firstFreeRealSlot = kMinRealWork + 1;
  state.lastIntSetting = kMinIntWork;
  state.lastRealSetting = kMinRealWork;
  state.settingsCount = kSettingsCount;
  state.algorithmKind = kGeneralMinimization;
}

int checkMinimizerSettings(MinimizerState& state, int n, std::span<const double> d,
                           int intWorkLength, int realWorkLength, int entryCode) {
  if (entryCode == kFreshStart || entryCode == kLayoutOnly) {
    const int intNeed = std::max(kMinIntWork, state.lastIntSetting) + std::max(state.intStorageNeed, 0);
    const int realNeed =
        std::max(kMinRealWork, state.firstFreeRealSlot - 1) + std::max(state.realStorageNeed, 0);
    state.intStorageNeed = 0;
    state.realStorageNeed = 0;
    if (intWorkLength < kMinIntWork || intWorkLength < intNeed) return kShortIntWork;
    if (realWorkLength < kMinRealWork || realWorkLength < realNeed) return kShortRealWork;
  }
  if (state.algorithmKind != kGeneralMinimization) return kChangedAlgorithm;
  if (n < 1) return kBadN;
  if (state.settingsCount != kSettingsCount) return kBadSettingsCount;
  int code = 0;
  if (state.scaleType <= 0 && state.settings.scaleInit < 0.0) {
    if (d.size() < static_cast<std::size_t>(n)) {
      code = kBadScale;
    } else {
      for (int i = 0; i < n; ++i) {
        if (!(d[i] > 0.0)) code = kBadScale;
      }
    }
  }
  // The last setting found out of range gives the code.
  for (const SettingRange& r : kRanges) {
    const double v = state.settings.*r.member;
    if (!(v >= r.low && v <= r.high)) code = r.slot;
  }
  return code;
}

}  // namespace kurv
