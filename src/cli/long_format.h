#pragma once
// Data of one row per measurement (`--long ID`), reshaped into the one row
// per subject the engine reads.
//
// With --long, --var and --indep (and --var2 ... of further models) name one
// outcome and one time column each, --tcov and --dcov one column per
// covariate and --exposure one column. The rows of a subject (same ID) are
// ordered by model 1's time (rows of equal or missing time keep their file
// order, missing times last) and become its periods 1..T, T the most rows of
// any subject; a subject with fewer rows has missing cells after its last.
// Every such column c becomes the wide columns c, c_2, ..., c_T (the first
// keeps its name, by which the engine names a covariate). Subject-level
// columns (--risk, --risk2, --weight, --ovar, --if, --exempt, --id) must hold
// one value per subject and are carried over once; the ID column is kept, so
// posteriors.csv names each subject by it. Subjects keep the order of their
// first row.

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

// The reshaping itself, of a table already read.
FitData reshapeLong(const DataTable& table, const FitOptions& options);

}  // namespace kurv::cli
