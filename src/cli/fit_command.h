#pragma once
// `kurv fit`: read the data, translate the options, run the engine through
// the command-line host, and write the outputs.

#include <ostream>

#include <string>
#include <vector>

#include "cli/data_table.h"
#include "cli/diagnostics.h"
#include "cli/fit_options.h"
#include "cli/multi_start.h"
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

// After the fit: the kept fit's text (buffered when there were several
// starts), the exit status of its outcome, the diagnostics and the starts
// printed, and the output files written. `diagnostics`, when given,
// receives the diagnostics.
int finishFit(const FitOptions& options, const DataTable& table, MultiStartFit& fit, std::ostream& results,
              std::ostream& messages, std::vector<ClassificationDiagnostics>* diagnostics);

// The results line of a fit from several starts; empty for one start.
std::string startsText(const StartsReport& report);

}  // namespace kurv::cli
