#pragma once
// One run of the command on a record whose options are decoded: from the
// checks of the options to the results handed back to the host. Returns 0, or
// kHostErrorCode after an error shown with Host::error.

#include "core/host.h"
#include "core/run_summary.h"

namespace kurv {

struct ModelContext;

// The run up to the data: options checked, order matrices read, record
// prepared, parameters laid out, start-value count checked, start and plot
// values read, observations read. 0 or kHostErrorCode.
int prepareDecodedRun(ModelContext& ctx);

// The whole run of a decoded record. `summary`, when given, receives the
// fit's figures for host programs that report more than the host matrices
// (the command-line program).
int runDecoded(ModelContext& ctx, RunSummary* summary = nullptr);

}  // namespace kurv
