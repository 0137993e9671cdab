#pragma once
// The command line of the program: `kurv fit` and `kurv simulate`, parsed
// with CLI11. Help and results go to `out`, messages and errors to `err`.

#include <ostream>
#include <string>
#include <vector>

namespace kurv::cli {

int runCli(int argc, const char* const* argv, std::ostream& out, std::ostream& err);

struct FitOptions;
// Parses the words after "kurv fit" as the program does; false with the
// parser's message in `error` when they do not parse.
bool parseFitWords(const std::vector<std::string>& words, FitOptions& options, std::string& error);

}  // namespace kurv::cli
