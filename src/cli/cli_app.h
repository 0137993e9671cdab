#pragma once
// The command line of the program: `kurv fit` and `kurv simulate`, parsed
// with CLI11. Help and results go to `out`, messages and errors to `err`.

#include <ostream>

namespace kurv::cli {

int runCli(int argc, const char* const* argv, std::ostream& out, std::ostream& err);

}  // namespace kurv::cli
