#pragma once
// One run of the command from its description: from the checks of the
// options to the results handed back to the host. Returns 0, or
// kHostErrorCode after an error shown with Host::error.

#include "core/host.h"
#include "core/run_description.h"
#include "core/run_summary.h"

namespace kurv {

struct ModelContext;

// The run up to the data: options checked, order matrices read, record
// prepared, parameters laid out, start-value count checked, start and plot
// values read, observations read. 0 or kHostErrorCode.
// `ctx`'s host must be set.
int prepareDescribedRun(ModelContext& ctx, const RunDescription& description);

// The whole run. `summary`, when given, receives the
// fit's figures for host programs that report more than the host matrices
// (the command-line program).
int runDescribed(Host& host, const RunDescription& description, RunSummary* summary = nullptr);

}  // namespace kurv
