#pragma once
// Decoding of the command's 39 positional arguments into the run record.

#include "core/model_context.h"

namespace kurv {

// Fills the option fields and presence flags in position order. Only `argc`
// positions are read; a text that does not convert leaves its field as it
// was. Reports nothing: checking is the job of validateRunArguments.
void parsePluginArgs(int argc, const char* const* argv, ModelContext& ctx);

// Argument conversions, exposed for tests: "%d"-like and "%lf"-like reads that
// never overflow (an out-of-range integer saturates at the int limits).
bool parseIntArg(const char* text, int& out);
bool parseRealArg(const char* text, double& out);
// "%s"-like read: the first blank-delimited word of any length.
bool parseNameArg(const char* text, std::string& out);

}  // namespace kurv
