#pragma once
// The engine's one window on its host.
//
// Every service the engine needs from whatever runs it (the statistics
// package through its plug-in table, the command-line program, or the
// in-memory host of the tests) goes through this interface. Observation and
// variable numbers are 1-based, as the host counts them. A returned status is
// 0 on success and non-zero on failure (for example a matrix that does not
// exist or an element outside it).

namespace kurv {

// The code a run returns after an error shown with Host::error.
inline constexpr int kHostErrorCode = 198;

class Host {
 public:
  virtual ~Host() = default;

  // Text for the user's results window.
  virtual void display(const char* text) = 0;
  // An error text; the run then ends with code 198.
  virtual void error(const char* text) = 0;
  // Messages that the engine writes to the process's standard output
  // (minimizer outcomes, start-value checks, debug traces).
  virtual void standardOutput(const char* text) = 0;

  virtual int macroUse(const char* name, char* buffer, int capacity) = 0;
  virtual int macroSave(const char* name, const char* text) = 0;

  virtual int observationCount() = 0;
  virtual bool isSelected(int observation) = 0;
  virtual bool isMissing(double value) = 0;
  virtual double missingValue() = 0;

  virtual int readVariable(int variable, int observation, double* out) = 0;
  virtual int storeVariable(int variable, int observation, double value) = 0;

  virtual int matrixElement(const char* name, int row, int column, double* out) = 0;
  virtual int storeMatrixElement(const char* name, int row, int column, double value) = 0;
};

}  // namespace kurv
