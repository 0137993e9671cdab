#pragma once
// Randomized Korobov lattice rules with antithetic points over the unit
// cube, extended by Richtmyer points above 20 dimensions.

#include <functional>

#include "core/uniform_stream.h"

namespace kurv {

// Number of lattice sizes of the rule's table.
inline constexpr int kLatticeSizes = 25;
// Coordinates taken from the Korobov lattice; beyond, Richtmyer points.
inline constexpr int kKorobovDimensions = 20;
// Randomized rule values (samples) of each pass, at least.
inline constexpr int kMinSamples = 8;
// Most coordinates of the Richtmyer extension (one per prime of its table).
inline constexpr int kRichtmyerDimensions = 80;

// The lattice sizes p_k.
extern const int kLatticeSize[kLatticeSizes];

using CubeIntegrand = std::function<double(const double* w)>;

struct LatticeResult {
  double value = 0.0;
  double error = 0.0;   // three standard errors of the randomized estimate
  int status = 0;       // 0: error within tolerance; 1: evaluation limit reached first
  int evaluations = 0;  // integrand evaluations used
};

// Integrates f over [0, 1]^d (1 <= d < kKorobovDimensions +
// kRichtmyerDimensions) until the error estimate is at most
// max(absTolerance, relTolerance |value|) or the next pass would exceed
// maxEvaluations. minEvaluations chooses the first lattice size (0: the
// smallest, with kMinSamples samples). Random shifts and shuffles come from
// `stream`, read from its current position.
LatticeResult latticeIntegrate(int d, int minEvaluations, int maxEvaluations, double absTolerance,
                               double relTolerance, const CubeIntegrand& f, UniformStream& stream);

// The most uniform numbers one integration of dimension d can draw under
// maxEvaluations (with minEvaluations 0): the stream must hold this many.
long latticeStreamBound(int d, int maxEvaluations);

}  // namespace kurv
