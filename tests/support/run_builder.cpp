#include "support/run_builder.h"

#include "plugin/run_driver.h"
#include "plugin/text_format.h"

namespace kurv::testing {

std::vector<std::string> defaultArgs() {
  std::vector<std::string> a(kPluginArgCount, "0");
  a[0] = "cnorm";
  a[1] = "1";
  a[7] = "1";
  a[8] = "-1e300";
  a[9] = "1e300";
  a[15] = "none";
  a[17] = "none";
  a[27] = "none";
  return a;
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

}  // namespace kurv::testing
