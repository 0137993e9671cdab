#pragma once
// Just enough of a host for preparing a run from an in-memory data set:
// variables from `data` (one row per observation), row-vector matrices from
// `rowMatrices`; everything displayed is discarded, every row is selected.

#include <map>
#include <string>
#include <vector>

#include "core/host.h"

namespace kurv::bench {

class BenchHost : public Host {
 public:
  static constexpr double kMissing = 8.98846567431158e307;
  std::vector<std::vector<double>> data;
  std::map<std::string, std::vector<double>> rowMatrices;

  void display(const char*) override {}
  void error(const char*) override {}
  void standardOutput(const char*) override {}
  int macroUse(const char*, char* buffer, int capacity) override {
    if (capacity > 0) buffer[0] = '\0';
    return 1;
  }
  int macroSave(const char*, const char*) override { return 0; }
  int observationCount() override { return static_cast<int>(data.size()); }
  bool isSelected(int) override { return true; }
  bool isMissing(double v) override { return v >= kMissing; }
  double missingValue() override { return kMissing; }
  int readVariable(int variable, int observation, double* out) override {
    const auto& row = data.at(static_cast<std::size_t>(observation - 1));
    if (variable < 1 || variable > static_cast<int>(row.size())) return 1;
    *out = row[static_cast<std::size_t>(variable - 1)];
    return 0;
  }
  int storeVariable(int, int, double) override { return 0; }
  int matrixElement(const char* name, int row, int column, double* out) override {
    auto it = rowMatrices.find(name);
    if (it == rowMatrices.end() || row != 1 || column < 1 || column > static_cast<int>(it->second.size())) return 1;
    *out = it->second[static_cast<std::size_t>(column - 1)];
    return 0;
  }
  int storeMatrixElement(const char*, int, int, double) override { return 0; }
};

}  // namespace kurv::bench
