#pragma once
// Data of one row per measurement (`--long ID`), reshaped into the one row
// per subject the engine reads.

#include <string>

#include "cli/data_table.h"
#include "cli/fit_options.h"

namespace kurv::cli {

// The data a fit runs on and the options that name its columns: the file as
// read, or with --long its wide reshaping and the options rewritten to name
// the wide columns.
struct FitData {
  DataTable table;
  FitOptions options;
};

// Reads options.data; with --long reshapes it (UserError on a bad file).
FitData readFitData(const FitOptions& options);

}  // namespace kurv::cli
