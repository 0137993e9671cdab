#include "support/run_builder.h"

#include "engine/run_driver.h"
#include "plugin/run_command.h"
#include "core/text_format.h"

namespace kurv::testing {

RunDescription defaultDescription() {
  RunDescription d;
  d.models[0] = {.present = true, .name = "cnorm", .periods = 1, .groups = 1, .censorMin = -1e300, .censorMax = 1e300};
  return d;
}

std::unique_ptr<ModelContext> prepareTestRun(MemoryHost& host, const RunDescription& description) {
  auto ctx = std::make_unique<ModelContext>();
  ctx->host = &host;
  if (prepareDescribedRun(*ctx, description) != 0) return nullptr;
  return ctx;
}

std::vector<std::string> defaultArgs() {
  // Positions 1-39; see the argument table of the run record.
  return {"cnorm", "1", "0", "0", "0", "0", "0", "1", "-1e300", "1e300",  // 1-10
          "0",     "0", "0", "0", "0", "none", "0", "none", "0", "0",     // 11-20
          "0",     "0", "0", "0", "0", "0", "0", "none", "0", "0",        // 21-30
          "0",     "0", "0", "0", "0", "0", "0", "0", "0"};               // 31-39
}

void setArg(std::vector<std::string>& args, int position, const std::string& value) {
  args.at(static_cast<std::size_t>(position - 1)) = value;
}

void setArg(std::vector<std::string>& args, int position, double value) {
  args.at(static_cast<std::size_t>(position - 1)) = formatText("%.17g", value);
}

namespace {
std::vector<const char*> pointers(const std::vector<std::string>& args) {
  std::vector<const char*> p;
  for (const auto& s : args) p.push_back(s.c_str());
  return p;
}
}  // namespace

std::unique_ptr<ModelContext> prepareTestRun(MemoryHost& host, const std::vector<std::string>& args) {
  auto ctx = std::make_unique<ModelContext>();
  ctx->host = &host;
  const auto argv = pointers(args);
  if (prepareRunRecord(*ctx, static_cast<int>(argv.size()), argv.data()) != 0) return nullptr;
  return ctx;
}

int runWithArgs(MemoryHost& host, const std::vector<std::string>& args) {
  const auto argv = pointers(args);
  return runCommand(host, static_cast<int>(argv.size()), argv.data());
}

int runWithArgs(MemoryHost& host, const std::vector<std::string>& args, RunSummary* summary) {
  const auto argv = pointers(args);
  return runCommand(host, static_cast<int>(argv.size()), argv.data(), summary);
}

std::vector<std::string> argsWith(const ArgChanges& changes) {
  auto args = defaultArgs();
  for (const auto& [position, value] : changes) setArg(args, position, value);
  return args;
}

}  // namespace kurv::testing
