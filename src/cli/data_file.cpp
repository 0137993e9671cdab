#include "cli/data_file.h"

#include <algorithm>
#include <cctype>
#include <filesystem>

#include "cli/csv_reader.h"
#include "cli/dta_file.h"
#include "cli/user_error.h"

namespace kurv::cli {

DataTable readDataFile(const std::string& path) {
  std::string extension = std::filesystem::path(path).extension().string();
  std::transform(extension.begin(), extension.end(), extension.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  if (extension != ".csv" && extension != ".dta")
    throw UserError("DATA must be a .csv or .dta file: " + path);
  std::error_code ec;
  if (std::filesystem::is_directory(path, ec))
    throw UserError("cannot read " + path + ": it is a directory");
  return extension == ".csv" ? readCsvFile(path) : readDtaFile(path);
}

}  // namespace kurv::cli
