// The iteration log: one line per |printLevel| iterations when printLevel is
// negative, through the host's display.

#include <cmath>
#include <cstdlib>

#include "optim/minimizer.h"
#include "core/text_format.h"

namespace kurv {

void reportIteration(MinimizerState& state) {
  int code = state.returnCode;
  if (code > 62) code -= 51;  // 63-65 fold onto 12-14, which print nothing
  if (code < 2 || code >= 12) return;
  const bool show = state.printLevel < 0 && state.host != nullptr;
  if (code == kRequestGradient && state.iterationCount == 0) {
    if (show) state.host->display(formatText("     0  %18.7f\n", state.f).c_str());
    return;
  }
  if (state.printLevel == 0) return;
  // The iteration and evaluation limits add a line only when the last
  // iteration's line was skipped.
  if (code >= kIterationLimit && state.printCounter == 0) return;
  if (code == kRequestGradient) {
    state.printCounter += 1;
    if (state.printCounter < std::abs(state.printLevel)) return;
  }
  state.printCounter = 0;
  if (!show) return;
  // Percent decrease of f over the iteration, relative to the larger of the
  // two values.
  const double larger = std::fmax(std::fabs(state.f0), std::fabs(state.f));
  const double percent = larger > 0.0 ? 100.0 * (state.f0 - state.f) / larger : 0.0;
  state.host->display(
      formatText("%6d  %18.7f  %11.8f\n", state.iterationCount, state.f, percent).c_str());
}

}  // namespace kurv
