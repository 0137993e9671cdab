#pragma once
// Filling the run's uniform stream (core/uniform_stream.h).

#include "core/uniform_stream.h"

namespace kurv {

// Evaluations one random-effects probability may use.
inline constexpr int kMvnMaxEvaluations = 500000;
// Relative tolerance of those probabilities.
inline constexpr double kMvnRelativeTolerance = 1e-8;

// Uniforms the stream holds: the most one probability can draw (dimension
// up to 100, so at most 99 lattice coordinates) under kMvnMaxEvaluations,
// see latticeStreamBound: 128 rule values of at most 19 + 99 draws, 15,104
// doubles (about 118 KB) instead of a fixed 8,000,000.
long uniformStreamSize();

// Fills the stream once (nothing happens when it is already filled) from a
// 64-bit Mersenne Twister with a fixed seed, and sets the read position to 0.
void fillUniformStream(UniformStream& stream);

}  // namespace kurv
