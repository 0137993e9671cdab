#include "randomeffects/uniform_stream.h"

#include <random>

#include "randomeffects/lattice_integrate.h"
#include "randomeffects/mvn_prepare.h"

namespace kurv {

namespace {
// Any fixed seed: the stream only has to be the same in every run and at
// every evaluation. std::mt19937_64's output sequence is fixed by the C++
// standard, so every platform draws the same numbers.
constexpr std::uint64_t kStreamSeed = 20140601;
}  // namespace

long uniformStreamSize() { return latticeStreamBound(kMvnMaxDimension - 1, kMvnMaxEvaluations); }

void fillUniformStream(UniformStream& stream) {
  stream.position = 0;
  if (!stream.values.empty()) return;
  std::mt19937_64 engine(kStreamSeed);
  stream.values.resize(static_cast<std::size_t>(uniformStreamSize()));
  // The top 53 bits as a double in [0, 1).
  for (double& u : stream.values) u = static_cast<double>(engine() >> 11) * 0x1.0p-53;
}

}  // namespace kurv
