#pragma once
// Writing a set of output files so that a reader never sees a half-written
// one: each file is written in full under a temporary name in the target
// folder, flushed to disk, and only then renamed over its final name (a
// rename within one file system is atomic). When any file fails, every
// temporary is removed and nothing of the set is renamed.

#include <map>
#include <string>

namespace kurv::cli {

// Creates `folder` (and the folder part of a name such as "best/fit.json")
// when needed. Throws UserError on failure.
void writeFilesAtomically(const std::string& folder, const std::map<std::string, std::string>& files);

}  // namespace kurv::cli
