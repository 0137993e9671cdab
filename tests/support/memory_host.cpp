#include "support/memory_host.h"

#include <cstring>

namespace kurv::testing {

int MemoryHost::macroUse(const char* name, char* buffer, int capacity) {
  if (capacity <= 0) return 1;
  auto it = macros.find(name);
  const std::string text = it == macros.end() ? std::string() : it->second;
  const std::size_t n = std::min<std::size_t>(text.size(), static_cast<std::size_t>(capacity) - 1);
  std::memcpy(buffer, text.data(), n);
  buffer[n] = '\0';
  return it == macros.end() ? 1 : 0;
}

int MemoryHost::macroSave(const char* name, const char* text) {
  macros[name] = text;
  return 0;
}

bool MemoryHost::isSelected(int observation) {
  if (selected.empty()) return true;
  if (observation < 1 || observation > static_cast<int>(selected.size())) return false;
  return selected[observation - 1];
}

int MemoryHost::readVariable(int variable, int observation, double* out) {
  if (observation < 1 || observation > static_cast<int>(data.size())) return 1;
  auto& row = data[observation - 1];
  if (variable < 1 || variable > static_cast<int>(row.size())) return 1;
  *out = row[variable - 1];
  return 0;
}

int MemoryHost::storeVariable(int variable, int observation, double value) {
  if (observation < 1 || observation > static_cast<int>(data.size()) || variable < 1) return 1;
  auto& row = data[observation - 1];
  if (variable > static_cast<int>(row.size())) row.resize(variable, kHostMissing);
  row[variable - 1] = value;
  return 0;
}

int MemoryHost::matrixElement(const char* name, int row, int column, double* out) {
  auto it = matrices.find(name);
  if (it == matrices.end() || row < 1 || row > static_cast<int>(it->second.size()) ||
      column < 1 || column > static_cast<int>(it->second[row - 1].size())) {
    ++matrixReadFailures;
    return 1;
  }
  *out = it->second[row - 1][column - 1];
  return 0;
}

int MemoryHost::storeMatrixElement(const char* name, int row, int column, double value) {
  auto it = matrices.find(name);
  if (it == matrices.end() || row < 1 || row > static_cast<int>(it->second.size()) ||
      column < 1 || column > static_cast<int>(it->second[row - 1].size()))
    return 1;
  it->second[row - 1][column - 1] = value;
  return 0;
}

void MemoryHost::setRowVector(const std::string& name, const std::vector<double>& values) {
  matrices[name] = {values};
}

void MemoryHost::createMatrix(const std::string& name, int rows, int columns, double fill) {
  matrices[name] = std::vector<std::vector<double>>(rows, std::vector<double>(columns, fill));
}

double MemoryHost::value(int variable, int observation) const {
  return data.at(observation - 1).at(variable - 1);
}

}  // namespace kurv::testing
