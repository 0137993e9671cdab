#pragma once
// One run of the command: from the 39 argument strings to the results handed
// back to the host. Returns 0, or 198 after an error shown with Host::error.

#include "plugin/host.h"
#include "plugin/run_summary.h"

namespace kurv {

inline constexpr int kHostErrorCode = 198;

// `summary`, when given, receives the fit's figures for host programs that
// report more than the host matrices (the command-line program).
int runCommand(Host& host, int argc, const char* const* argv, RunSummary* summary = nullptr);

}  // namespace kurv
