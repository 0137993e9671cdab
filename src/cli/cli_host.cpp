#include "cli/cli_host.h"

#include <algorithm>
#include <cstring>

namespace kurv::cli {

CliHost::CliHost(const DataTable& table, const EngineCall& call, std::ostream& results,
                 std::ostream& messages)
    : table_(table), call_(call), results_(results), messages_(messages) {
  for (const auto& [name, values] : call.matrices) matrices_[name] = Matrix{values};
  for (const auto& [name, shape] : call.resultShapes)
    matrices_[name] = Matrix(shape.rows, std::vector<double>(shape.columns, kMissing));
}

void CliHost::display(const char* text) { results_ << text << std::flush; }

void CliHost::error(const char* text) {
  errorText_ += text;
  messages_ << text << std::flush;
}

void CliHost::standardOutput(const char* text) { messages_ << text << std::flush; }

int CliHost::macroUse(const char* name, char* buffer, int capacity) {
  if (capacity <= 0) return 1;
  const auto it = call_.macros.find(name);
  const std::string text = it == call_.macros.end() ? std::string() : it->second;
  const std::size_t n = std::min<std::size_t>(text.size(), static_cast<std::size_t>(capacity) - 1);
  std::memcpy(buffer, text.data(), n);
  buffer[n] = '\0';
  return it == call_.macros.end() ? 1 : 0;
}

int CliHost::macroSave(const char* name, const char* text) {
  savedMacros_[name] = text;
  return 0;
}

bool CliHost::isSelected(int observation) {
  if (observation < 1 || observation > observationCount()) return false;
  return call_.selected.empty() || call_.selected[observation - 1];
}

int CliHost::readVariable(int variable, int observation, double* out) {
  if (observation < 1 || observation > observationCount() || variable < 1) return 1;
  const auto inputs = static_cast<int>(call_.variableColumns.size());
  if (variable <= inputs) {
    const std::size_t column = call_.variableColumns[variable - 1];
    *out = table_.values[column][call_.rows[observation - 1]];
    return 0;
  }
  *out = result(variable - inputs - 1, observation - 1);
  return 0;
}

int CliHost::storeVariable(int variable, int observation, double value) {
  const auto inputs = static_cast<int>(call_.variableColumns.size());
  // The input columns are the user's data: the engine never writes them.
  if (observation < 1 || observation > observationCount() || variable <= inputs) {
    ++failedStores_;
    return 1;
  }
  const auto k = static_cast<std::size_t>(variable - inputs - 1);
  if (k >= outputs_.size())
    outputs_.resize(k + 1, std::vector<double>(call_.rows.size(), kMissing));
  outputs_[k][observation - 1] = value;
  return 0;
}

int CliHost::matrixElement(const char* name, int row, int column, double* out) {
  const auto it = matrices_.find(name);
  if (it == matrices_.end() || row < 1 || row > static_cast<int>(it->second.size()) || column < 1 ||
      column > static_cast<int>(it->second[row - 1].size()))
    return 1;
  *out = it->second[row - 1][column - 1];
  return 0;
}

int CliHost::storeMatrixElement(const char* name, int row, int column, double value) {
  const std::string key = name;
  auto it = matrices_.find(key);
  if (row >= 1 && column >= 1 && (key == "parmData" || key == "varData")) {
    Matrix& m = matrices_[key];
    if (static_cast<int>(m.size()) < row) m.resize(row);
    for (auto& r : m)
      if (static_cast<int>(r.size()) < column) r.resize(column, 0.0);
    m[row - 1][column - 1] = value;
    return 0;
  }
  if (it == matrices_.end() || call_.matrices.count(key) || row < 1 ||
      row > static_cast<int>(it->second.size()) || column < 1 ||
      column > static_cast<int>(it->second[row - 1].size())) {
    ++failedStores_;
    return 1;
  }
  it->second[row - 1][column - 1] = value;
  return 0;
}

const Matrix* CliHost::matrix(const std::string& name) const {
  const auto it = matrices_.find(name);
  return it == matrices_.end() ? nullptr : &it->second;
}

double CliHost::result(int k, int observation) const {
  if (k < 0 || k >= static_cast<int>(outputs_.size())) return kMissing;
  return outputs_[k].at(observation);
}

}  // namespace kurv::cli
