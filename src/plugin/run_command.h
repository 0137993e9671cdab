#pragma once
// One command from its 39 argument strings: decoded into a run record, then
// run by the engine. Returns 0, or kHostErrorCode after an error shown with
// Host::error.

#include "core/host.h"
#include "core/run_summary.h"

namespace kurv {

struct ModelContext;

// Decodes the arguments into `ctx` (whose host is set) and runs the phases up
// to the data. 0 or kHostErrorCode.
int prepareRunRecord(ModelContext& ctx, int argc, const char* const* argv);

// `summary`, when given, receives the fit's figures.
int runCommand(Host& host, int argc, const char* const* argv, RunSummary* summary = nullptr);

}  // namespace kurv
