#include "support/csv_data.h"

#include <fstream>
#include <sstream>
#include <stdexcept>

#include "support/memory_host.h"

namespace kurv::testing {

namespace {
std::vector<std::string> splitCells(const std::string& line) {
  std::vector<std::string> cells;
  std::string cell;
  std::istringstream in(line);
  while (std::getline(in, cell, ',')) {
    if (cell.size() >= 2 && cell.front() == '"' && cell.back() == '"') cell = cell.substr(1, cell.size() - 2);
    cells.push_back(cell);
  }
  if (!line.empty() && line.back() == ',') cells.emplace_back();
  return cells;
}
}  // namespace

CsvData readNumericCsv(const std::string& path) {
  std::ifstream in(path);
  if (!in) throw std::runtime_error("cannot open " + path);
  CsvData data;
  std::string line;
  std::getline(in, line);
  data.names = splitCells(line);
  while (std::getline(in, line)) {
    if (line.empty()) continue;
    std::vector<double> row;
    for (const auto& cell : splitCells(line))
      row.push_back(cell.empty() || cell == "NA" ? kHostMissing : std::stod(cell));
    data.rows.push_back(row);
  }
  return data;
}

std::map<std::string, std::vector<double>> readReferenceFile(const std::string& path) {
  std::ifstream in(path);
  if (!in) throw std::runtime_error("cannot open " + path);
  std::map<std::string, std::vector<double>> ref;
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream words(line);
    std::string name, value;
    words >> name;
    auto& values = ref[name];
    while (words >> value) values.push_back(value == "NA" ? kHostMissing : std::stod(value));
  }
  return ref;
}

std::string readTextFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

}  // namespace kurv::testing
