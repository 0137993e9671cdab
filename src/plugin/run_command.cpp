#include "plugin/run_command.h"

#include "core/model_context.h"
#include "engine/run_driver.h"
#include "plugin/plugin_args.h"

namespace kurv {

int prepareRunRecord(ModelContext& ctx, int argc, const char* const* argv) {
  return prepareDescribedRun(ctx, decodePluginArgs(argv == nullptr ? 0 : argc, argv));
}

int runCommand(Host& host, int argc, const char* const* argv, RunSummary* summary) {
  return runDescribed(host, decodePluginArgs(argv == nullptr ? 0 : argc, argv), summary);
}

}  // namespace kurv
