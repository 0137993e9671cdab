#pragma once
// `kurv fit`: read the data, translate the options, run the engine through
// the command-line host, and write the outputs.

#include <ostream>

#include "cli/fit_options.h"
#include "core/run_summary.h"

namespace kurv::cli {

// Exit statuses of the program.
inline constexpr int kExitOk = 0;
inline constexpr int kExitUserError = 1;    // bad data or options, found before the run
inline constexpr int kExitUsage = 2;        // the command line itself does not parse
inline constexpr int kExitEngineError = 3;  // the engine refused the run (its message says why)
inline constexpr int kExitNoResults = 4;    // the minimizer stopped without results

// Results text goes to `results`, every other message to `messages`.
// `summary`, when given, receives the engine's summary of the fit.
int runFit(const FitOptions& options, std::ostream& results, std::ostream& messages,
           RunSummary* summary = nullptr);

}  // namespace kurv::cli
