#pragma once
// The host's table of services, declared member by member in the published
// order (plug-in interface version 2.0), and the adapter that serves the
// engine's Host interface from it.

#include <cstddef>

#include "core/host.h"

namespace kurv {

extern "C" {
struct HostMatrixInfo {
  int type, nel, m, n;
};

struct HostServiceTable {
  int (*spoutsml)(char*);
  int (*spoutnosml)(char*);
  void (*spoutflush)(void);
  void (*set_outputlevel)(unsigned char);
  int (*get_input)(char*, int);
  int (*pollstd)(void);
  int (*pollnow)(void);
  char* (*safereforms)(char*, char*, double);
  char* (*safereforml)(char*, char*, double, double*);
  char* (*gettok)(char*, int);
  int (*macresave)(char*, char*);
  int (*macuse)(char*, char*, int);
  int (*scalaruse)(char*, double*);
  int (*scalarsave)(char*, double*);
  int (*matrixstore)(char*, int, double*, int, int, int, int, int);
  int (*matrixload)(char*, double*, int);
  void (*matrixinfo)(char*, HostMatrixInfo*);
  int (*matrixel)(char*, int, int, double*);
  int matsize;
  double (*data)(int, int);
  double (*safedata)(int, int);
  int (*nobs)(void);
  int (*nvar)(void);
  double missval;
  unsigned char (*ismissing)(double);
  int (*stfindvar)(char*, int);
  unsigned char (*isstr)(int);
  void (*abvarfcn)(char*, double);
  int* stopflag;
  double (*stround)(double, double);
  double (*stsqrt)(double);
  double (*stpow)(double, double);
  double (*stlog)(double);
  double (*stexp)(double);
  double (*strandom)(void);
  int (*store)(int, int, double);
  int (*safestore)(int, int, double);
  int (*sstore)(int, int, char*);
  unsigned char (*selobs)(int);
  int (*nobs1)(void);
  int (*nobs2)(void);
  int (*nvars)(void);
  int (*spouterr)(char*);
  int (*safematel)(char*, int, int, double*);
  int (*safematstore)(char*, int, int, double);
  int (*matel)(char*, int, int, double*);
  int (*matstore)(char*, int, int, double);
  int (*safevdata)(int, int, double*);
  int (*vdata)(int, int, double*);
  int (*colsof)(char*);
  int (*rowsof)(char*);
  int (*scalsave)(char*, double);
  int (*sdata)(int, int, char*);
};
}

// The C ABI lays the table out as the host does; these checks guard the
// members whose offsets follow the two data members.
static_assert(sizeof(void*) != 8 || offsetof(HostServiceTable, matrixel) == 17 * 8);
static_assert(sizeof(void*) != 8 || offsetof(HostServiceTable, matsize) == 18 * 8);
static_assert(sizeof(void*) != 8 || offsetof(HostServiceTable, data) == 19 * 8);
static_assert(sizeof(void*) != 8 || offsetof(HostServiceTable, missval) == 23 * 8);
static_assert(sizeof(void*) != 8 || offsetof(HostServiceTable, ismissing) == 24 * 8);
static_assert(sizeof(void*) != 8 || offsetof(HostServiceTable, safestore) == 36 * 8);
static_assert(sizeof(void*) != 8 || offsetof(HostServiceTable, selobs) == 38 * 8);
static_assert(sizeof(void*) != 8 || offsetof(HostServiceTable, spouterr) == 42 * 8);
static_assert(sizeof(void*) != 8 || offsetof(HostServiceTable, safevdata) == 47 * 8);
static_assert(sizeof(void*) != 8 || sizeof(HostServiceTable) == 53 * 8);

// Serves the Host interface from the table handed to pginit. Standard-output
// messages go to the process's standard output.
class TableHost : public Host {
 public:
  explicit TableHost(HostServiceTable* table) : table_(table) {}
  void display(const char* text) override;
  void error(const char* text) override;
  void standardOutput(const char* text) override;
  int macroUse(const char* name, char* buffer, int capacity) override;
  int macroSave(const char* name, const char* text) override;
  int observationCount() override;
  bool isSelected(int observation) override;
  bool isMissing(double value) override;
  double missingValue() override;
  int readVariable(int variable, int observation, double* out) override;
  int storeVariable(int variable, int observation, double value) override;
  int matrixElement(const char* name, int row, int column, double* out) override;
  int storeMatrixElement(const char* name, int row, int column, double value) override;

 private:
  HostServiceTable* table_;
};

}  // namespace kurv
