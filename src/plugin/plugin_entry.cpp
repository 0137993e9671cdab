// The plug-in module's exported entries. The host hands its table of services
// to pginit once; stata_call then runs one command per call. The table
// pointer is the only state that outlives a call.

#include <exception>
#include <new>
#include <stdexcept>
#include <string>

#include "plugin/host_table.h"
#include "plugin/run_command.h"

namespace {
kurv::HostServiceTable* g_hostTable = nullptr;
constexpr int kInterfaceVersion = 2;  // (minor 0 << 16) | major 2
}  // namespace

extern "C" {

__attribute__((visibility("default"))) int pginit(kurv::HostServiceTable* table) {
  g_hostTable = table;
  return kInterfaceVersion;
}

__attribute__((visibility("default"))) int stata_call(int argc, char* argv[]) {
  if (g_hostTable == nullptr) return kurv::kHostErrorCode;
  kurv::TableHost host(g_hostTable);
  // No C++ exception may cross into the host.
  try {
    return kurv::runCommand(host, argc, argv);
  } catch (const std::bad_alloc&) {
    try {
      host.error("Not enough memory for this model.\n");
    } catch (...) {
    }
  } catch (const std::length_error&) {
    // A size beyond what a vector can hold: memory exhaustion as well.
    try {
      host.error("Not enough memory for this model.\n");
    } catch (...) {
    }
  } catch (const std::exception& e) {
    try {
      std::string text = std::string("Internal error: ") + e.what() + "\n";
      host.error(text.c_str());
    } catch (...) {
    }
  } catch (...) {
    try {
      host.error("Internal error.\n");
    } catch (...) {
    }
  }
  return kurv::kHostErrorCode;
}

}  // extern "C"
