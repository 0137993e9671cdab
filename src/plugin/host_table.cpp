#include "plugin/host_table.h"

#include <cstdio>
#include <string>

namespace kurv {

namespace {
// The table's services take mutable strings; hand them a private copy so the
// engine's texts stay const.
std::string mutableCopy(const char* text) { return std::string(text ? text : ""); }
}  // namespace

void TableHost::display(const char* text) {
  std::string copy = mutableCopy(text);
  table_->spoutsml(copy.data());
}

void TableHost::error(const char* text) {
  std::string copy = mutableCopy(text);
  table_->spouterr(copy.data());
}

void TableHost::standardOutput(const char* text) {
  std::fputs(text, stdout);
  std::fflush(stdout);
}

int TableHost::macroUse(const char* name, char* buffer, int capacity) {
  std::string copy = mutableCopy(name);
  return table_->macuse(copy.data(), buffer, capacity);
}

int TableHost::macroSave(const char* name, const char* text) {
  std::string n = mutableCopy(name);
  std::string t = mutableCopy(text);
  return table_->macresave(n.data(), t.data());
}

int TableHost::observationCount() { return table_->nobs(); }
bool TableHost::isSelected(int observation) { return table_->selobs(observation) != 0; }
bool TableHost::isMissing(double value) { return table_->ismissing(value) != 0; }
double TableHost::missingValue() { return table_->missval; }

int TableHost::readVariable(int variable, int observation, double* out) {
  return table_->safevdata(variable, observation, out);
}

int TableHost::storeVariable(int variable, int observation, double value) {
  return table_->safestore(variable, observation, value);
}

int TableHost::matrixElement(const char* name, int row, int column, double* out) {
  std::string copy = mutableCopy(name);
  return table_->safematel(copy.data(), row, column, out);
}

int TableHost::storeMatrixElement(const char* name, int row, int column, double value) {
  std::string copy = mutableCopy(name);
  return table_->safematstore(copy.data(), row, column, value);
}

}  // namespace kurv
