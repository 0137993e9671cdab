#pragma once
// Reading the numeric fixtures of the tests: a CSV file with a header row
// (cells "NA" or empty are the host's missing value), and reference files of
// "name value value ..." lines written by the R scripts beside them.

#include <map>
#include <string>
#include <vector>

namespace kurv::testing {

struct CsvData {
  std::vector<std::string> names;
  std::vector<std::vector<double>> rows;
};

CsvData readNumericCsv(const std::string& path);
std::map<std::string, std::vector<double>> readReferenceFile(const std::string& path);
// A fixture's whole text, byte for byte (empty when it cannot be read).
std::string readTextFile(const std::string& path);

}  // namespace kurv::testing
