#pragma once
// Stata .dta files through ReadStat: reading into a DataTable, and writing
// one (used by `kurv simulate` and to make test fixtures).
//
// Every kind of Stata missing value (the system missing "." and the
// extended ".a" to ".z") becomes the host's missing value. String variables
// are kept as text and flagged, so that using one where numbers are needed
// is reported by name.

#include <string>

#include "cli/data_table.h"

namespace kurv::cli {

// Throws UserError when the file cannot be opened or is not a .dta file.
DataTable readDtaFile(const std::string& path);

// Writes numeric columns as doubles (missing cells as system missing) and
// string columns (isString) as text. Throws UserError on failure.
void writeDtaFile(const DataTable& table, const std::string& path);

}  // namespace kurv::cli
