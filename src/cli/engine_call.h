#pragma once
// The translation of `kurv fit` options into what the engine reads: the run's
// description (and, for the record, the plug-in arguments that decode into
// it), the host matrices of orders,
// start values and plot covariates, the macros of covariate names, and the
// data set's variables in the order the engine expects them.
//
// Every user error is found here, before the engine runs, and reported as
// a UserError naming the option and the problem.

#include <array>
#include <cstddef>
#include <map>
#include <string>
#include <vector>

#include "cli/data_table.h"
#include "cli/fit_options.h"
#include "core/run_description.h"
#include "plugin/plugin_args.h"

namespace kurv::cli {

// Shape of a result matrix the engine writes.
struct MatrixShape {
  int rows = 0;
  int columns = 0;
};

struct EngineCall {
  RunDescription description;
  std::array<std::string, kPluginArgCount> args;       // the same as plug-in arguments (1..39 at 0..38)
  std::map<std::string, std::vector<double>> matrices;  // 1 x n row vectors the engine reads
  std::map<std::string, std::string> macros;            // "_risk1", "_tcov1", ...
  std::vector<std::size_t> variableColumns;  // host variable v is table column [v - 1]
  std::vector<std::size_t> rows;             // host observation i is table row [i - 1]
  std::vector<bool> selected;                // per host observation; empty: all selected

  // What the run will write back.
  int nModels = 1;
  bool isMult = false;
  bool isJoint = false;
  std::array<int, 3> nGroups{};
  std::array<int, 3> nPeriods{};
  std::array<std::string, 3> modelKind;  // as the user named it: cnorm, logit, zip, poisson
  std::map<std::string, MatrixShape> resultShapes;  // "groupPct1", "outPlot1", ...
  int nPosteriorVariables = 0;  // stored from variable outVarBase on
  std::array<std::vector<std::string>, 3> outcomeNames;
  std::array<std::vector<std::string>, 3> timeNames;
  std::string idColumn;  // empty: the row number identifies a subject
};

EngineCall buildEngineCall(const FitOptions& options, const DataTable& table);

// Reads a decimal number written by the user; throws UserError naming
// `option` when the text is not one.
double parseNumber(const std::string& text, const std::string& option);

}  // namespace kurv::cli
