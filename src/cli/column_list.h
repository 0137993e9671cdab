#pragma once
// Column lists as the user writes them: names separated by blanks, and
// ranges "y1-y6" of consecutive columns in the file's order. One option
// value may hold several names ("y1 y2 y3") and an option may be repeated.

#include <cstddef>
#include <string>
#include <vector>

#include "cli/data_table.h"

namespace kurv::cli {

// Resolves the words of `words` to column indexes in the order written.
// `option` names the option in messages ("--var"). Throws UserError for an
// unknown column or a range that runs backwards.
std::vector<std::size_t> resolveColumns(const DataTable& table,
                                        const std::vector<std::string>& words,
                                        const std::string& option);

// Splits every value at blanks into words, dropping empty ones.
std::vector<std::string> splitWords(const std::vector<std::string>& values);

}  // namespace kurv::cli
