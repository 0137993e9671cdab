#pragma once
// Reading a comma-separated file (RFC 4180) into a DataTable.
//
// The first non-blank record is the header of column names. Fields may be
// quoted with double quotes; inside quotes a doubled quote stands for one
// and commas and line breaks are part of the field. Records end at LF or
// CRLF. Blank lines are skipped. A cell that is empty, "." or "NA" (after
// trimming blanks) is missing; any other cell must be a finite decimal
// number, else the column remembers it as its first bad cell.

#include <string>
#include <string_view>

#include "cli/data_table.h"

namespace kurv::cli {

// Parses CSV text; `source` names the file in messages. Throws UserError on
// a malformed file (unclosed quote, wrong number of fields, bad header).
DataTable parseCsv(std::string_view text, const std::string& source);

// Reads and parses a file; throws UserError when it cannot be read.
DataTable readCsvFile(const std::string& path);

// The number a cell holds: a finite decimal below the missing value, or
// kMissing for a missing marker. Returns false for anything else.
bool parseCell(std::string_view cell, double& value);

}  // namespace kurv::cli
