#pragma once
// Reading a data file of either kind the program accepts, chosen by its
// extension: ".csv" (comma-separated text) or ".dta" (Stata).

#include <string>

#include "cli/data_table.h"

namespace kurv::cli {

// Throws UserError for an unknown extension or an unreadable file.
DataTable readDataFile(const std::string& path);

}  // namespace kurv::cli
