#pragma once
// An in-memory host for tests: a data set of doubles (with the host's missing
// value 2^1023), a selection mask, named matrices and macros, and captured
// display, error and standard-output text.

#include <map>
#include <string>
#include <vector>

#include "core/host.h"

namespace kurv::testing {

inline constexpr double kHostMissing = 8.98846567431158e307;  // 2^1023

class MemoryHost : public Host {
 public:
  // data[obs][var], both 0-based here; the host interface is 1-based.
  std::vector<std::vector<double>> data;
  std::vector<bool> selected;  // empty: every observation selected
  std::map<std::string, std::vector<std::vector<double>>> matrices;  // [row][col]
  std::map<std::string, std::string> macros;
  std::string displayed;
  std::string errors;
  std::string stdoutText;
  int matrixReadFailures = 0;

  void display(const char* text) override { displayed += text; }
  void error(const char* text) override { errors += text; }
  void standardOutput(const char* text) override { stdoutText += text; }

  int macroUse(const char* name, char* buffer, int capacity) override;
  int macroSave(const char* name, const char* text) override;
  int observationCount() override { return static_cast<int>(data.size()); }
  bool isSelected(int observation) override;
  bool isMissing(double value) override { return value >= kHostMissing; }
  double missingValue() override { return kHostMissing; }
  int readVariable(int variable, int observation, double* out) override;
  int storeVariable(int variable, int observation, double value) override;
  int matrixElement(const char* name, int row, int column, double* out) override;
  int storeMatrixElement(const char* name, int row, int column, double value) override;

  // Helpers for building tests.
  void setRowVector(const std::string& name, const std::vector<double>& values);
  void createMatrix(const std::string& name, int rows, int columns, double fill = 0.0);
  double value(int variable, int observation) const;  // 1-based, as stored
};

}  // namespace kurv::testing
