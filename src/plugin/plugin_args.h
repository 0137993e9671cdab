#pragma once
// Decoding of the command's 39 positional arguments into the run record.

#include <array>
#include <string>

#include "core/run_description.h"

namespace kurv {

// The run's description from its argument strings, in position order. Only
// `argc` positions are read; a text that does not convert leaves its field
// at its default. Reports nothing: checking is the engine's job.
RunDescription decodePluginArgs(int argc, const char* const* argv);

// Number of positional arguments of a command.
inline constexpr int kPluginArgCount = 39;

// The argument strings that decode into `description` (reals with 17
// significant digits, so that they read back as the same doubles; an absent
// model or outcome analysis as "none"): what a user would pass to the
// plug-in for the same run.
std::array<std::string, kPluginArgCount> encodePluginArgs(const RunDescription& description);

// Argument conversions, exposed for tests: "%d"-like and "%lf"-like reads that
// never overflow (an out-of-range integer saturates at the int limits).
bool parseIntArg(const char* text, int& out);
bool parseRealArg(const char* text, double& out);
// "%s"-like read: the first blank-delimited word of any length.
bool parseNameArg(const char* text, std::string& out);

}  // namespace kurv
