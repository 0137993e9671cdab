#pragma once
// One run of the command: from the 39 argument strings to the results handed
// back to the host. Returns 0, or 198 after an error shown with Host::error.

#include "plugin/host.h"
#include "plugin/run_summary.h"

namespace kurv {

inline constexpr int kHostErrorCode = 198;

struct ModelContext;

// The run up to the data: arguments decoded and checked, order matrices read,
// record prepared, parameters laid out, start-value count checked, start and
// plot values read, observations read. 0 or 198.
int prepareRunRecord(ModelContext& ctx, int argc, const char* const* argv);

// `summary`, when given, receives the fit's figures for host programs that
// report more than the host matrices (the command-line program).
int runCommand(Host& host, int argc, const char* const* argv, RunSummary* summary = nullptr);

}  // namespace kurv
