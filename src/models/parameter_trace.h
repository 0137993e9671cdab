#pragma once
// Debug-trace lines of the likelihoods and gradients: a vector shown six
// values to a line on the process's standard output.

#include "core/host.h"

namespace kurv {

// Writes n / 6 + 1 lines (integer division), each `rowFormat` (six %f
// conversions) followed by a newline; places at or beyond n show the host's
// missing value.
void traceVector(Host& host, int n, const double* values, const char* rowFormat);

inline constexpr const char* kTraceRowFormat = "%12.6f %12.6f %12.6f %12.6f %12.6f %12.6f";
inline constexpr const char* kGradientRowFormat =
    "%18.16f %18.16f %18.16f %18.16f %18.16f %18.16f";

}  // namespace kurv
