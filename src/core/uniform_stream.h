#pragma once
// The uniform numbers of the multivariate normal lattice rule.
//
// The randomized lattice rule needs random shifts and shuffles, but the
// likelihood that calls it must stay a deterministic function of the
// parameters (the minimizer compares function values and differences them).
// So the numbers are drawn once per run into this stream and every
// probability reads it again from the start: the same inputs give the same
// value at every evaluation. randomeffects/uniform_stream.h fills it.

#include <cstddef>
#include <vector>

namespace kurv {

struct UniformStream {
  std::vector<double> values;  // uniforms on [0, 1), filled once per run
  std::size_t position = 0;    // next value to read

  // Restarts the reading at the first value (before every probability).
  void restart() { position = 0; }

  // The next value; after the last one the reading wraps to the first, so a
  // stream can never be read past its end (the filled size covers every
  // draw one probability can make, see uniform_stream.h).
  double next() {
    if (values.empty()) return 0.0;
    if (position >= values.size()) position = 0;
    return values[position++];
  }
};

}  // namespace kurv
