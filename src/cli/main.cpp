// kurv: group-based trajectory models fitted to CSV or Stata .dta files.
#include <iostream>

#include "cli/cli_app.h"

int main(int argc, char** argv) { return kurv::cli::runCli(argc, argv, std::cout, std::cerr); }
