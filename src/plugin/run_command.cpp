#include "plugin/run_command.h"

#include "core/model_context.h"
#include "engine/run_driver.h"
#include "plugin/plugin_args.h"

namespace kurv {

int prepareRunRecord(ModelContext& ctx, int argc, const char* const* argv) {
  parsePluginArgs(argv == nullptr ? 0 : argc, argv, ctx);
  return prepareDecodedRun(ctx);
}

int runCommand(Host& host, int argc, const char* const* argv, RunSummary* summary) {
  ModelContext ctx;
  ctx.host = &host;
  parsePluginArgs(argv == nullptr ? 0 : argc, argv, ctx);
  return runDecoded(ctx, summary);
}

}  // namespace kurv
