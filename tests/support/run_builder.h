#pragma once
// Building prepared runs for tests: the 39 arguments with neutral defaults,
// and a run record taken through the real preparation and intake.

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "core/model_context.h"
#include "core/run_summary.h"
#include "core/run_description.h"
#include "support/memory_host.h"

namespace kurv::testing {

// A run description with neutral defaults: model 1 "cnorm" with 1 period and
// 1 group, censoring bounds -1e300/1e300, every count 0, no other model.
RunDescription defaultDescription();
// The run up to the data from a description (see prepareTestRun below).
std::unique_ptr<ModelContext> prepareTestRun(MemoryHost& host, const RunDescription& description);

// The plug-in's path: 39 argument strings: model 1 "cnorm" with 1 period and 1 group, every count
// 0, censoring bounds -1e300/1e300, every other model and the outcome "none".
std::vector<std::string> defaultArgs();
// Sets argument `position` (1-based).
void setArg(std::vector<std::string>& args, int position, const std::string& value);
void setArg(std::vector<std::string>& args, int position, double value);

// Runs the preparation phases (arguments, order matrices, preparation, layout,
// start values, intake) on `host`. Returns the record, or null when the run
// ended with an error (the host then holds the error text).
std::unique_ptr<ModelContext> prepareTestRun(MemoryHost& host, const std::vector<std::string>& args);

// Calls the engine's run entry with the argument strings.
int runWithArgs(MemoryHost& host, const std::vector<std::string>& args);
// The same, with the run's summary (results, counts) written to *summary.
int runWithArgs(MemoryHost& host, const std::vector<std::string>& args, RunSummary* summary);

// The default arguments with some changed: {position (1-based), value} pairs, in order.
using ArgChanges = std::vector<std::pair<int, std::string>>;
std::vector<std::string> argsWith(const ArgChanges& changes);

}  // namespace kurv::testing
