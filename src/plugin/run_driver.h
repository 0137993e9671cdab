#pragma once
// One run of the command: from the 39 argument strings to the results handed
// back to the host. Returns 0, or 198 after an error shown with Host::error.

#include "plugin/host.h"

namespace kurv {

inline constexpr int kHostErrorCode = 198;

int runCommand(Host& host, int argc, const char* const* argv);

}  // namespace kurv
