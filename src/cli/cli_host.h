#pragma once
// The command-line program's host: the engine's window onto a data file.
//
// Observations are the rows the call selected, variables the columns in the
// engine's order. Results-window text goes to one stream (standard output),
// error and standard-output messages of the engine to another (standard
// error). The input matrices and macros come from the EngineCall; result
// matrices exist with the shapes the engine writes ("groupPct%d",
// "outPlot%d"), and "parmData" and "varData", whose size only the engine
// knows, grow as they are written. Variables past the input columns hold the
// posterior results.

#include <map>
#include <ostream>
#include <string>
#include <vector>

#include "cli/data_table.h"
#include "cli/engine_call.h"
#include "core/host.h"

namespace kurv::cli {

using Matrix = std::vector<std::vector<double>>;  // [row][column]

class CliHost : public Host {
 public:
  CliHost(const DataTable& table, const EngineCall& call, std::ostream& results,
          std::ostream& messages);

  void display(const char* text) override;
  void error(const char* text) override;
  void standardOutput(const char* text) override;
  int macroUse(const char* name, char* buffer, int capacity) override;
  int macroSave(const char* name, const char* text) override;
  int observationCount() override { return static_cast<int>(call_.rows.size()); }
  bool isSelected(int observation) override;
  bool isMissing(double value) override { return value >= kMissing; }
  double missingValue() override { return kMissing; }
  int readVariable(int variable, int observation, double* out) override;
  int storeVariable(int variable, int observation, double value) override;
  int matrixElement(const char* name, int row, int column, double* out) override;
  int storeMatrixElement(const char* name, int row, int column, double value) override;

  // After the run.
  const Matrix* matrix(const std::string& name) const;
  // Result variable k (0-based, counted from the first variable past the
  // input columns) at observation i (0-based); missing when never stored.
  double result(int k, int observation) const;
  const std::map<std::string, std::string>& savedMacros() const { return savedMacros_; }
  const std::string& errorText() const { return errorText_; }
  int failedStores() const { return failedStores_; }

 private:
  const DataTable& table_;
  const EngineCall& call_;
  std::ostream& results_;
  std::ostream& messages_;
  std::map<std::string, Matrix> matrices_;
  std::vector<std::vector<double>> outputs_;  // [result variable][observation]
  std::map<std::string, std::string> savedMacros_;
  std::string errorText_;
  int failedStores_ = 0;
};

}  // namespace kurv::cli
