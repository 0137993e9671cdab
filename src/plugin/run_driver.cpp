#include "plugin/run_driver.h"

namespace kurv {

int runCommand(Host& host, int argc, const char* const* argv, RunSummary* summary) {
  (void)summary;
  (void)argc;
  (void)argv;
  host.error("fitting is not available yet\n");
  return kHostErrorCode;
}

}  // namespace kurv
