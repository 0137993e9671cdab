#pragma once
// The typed description of one run: the models, their orders' counts, the
// options and the variable layout, as a host hands them to the engine.
//
// The plug-in decodes its 39 argument strings into it (plugin/plugin_args.h);
// the command-line program fills it directly from its options. The engine
// takes it into the run record (engine/run_driver.h) and checks it there,
// once, with the same rules and messages for both hosts. The lists of orders,
// start values and plot covariates stay host matrices ("kurv_mat_order1",
// "kurv_start", ...): the description gives their lengths.
//
// Defaults are those of a run record that no argument has touched. Counts
// are as given (a negative count is the engine's to refuse); a model takes
// part when `present`, which the plug-in derives from its name ("none" and
// words starting with it are absent).

#include <array>
#include <string>

namespace kurv {

struct ModelDescription {
  bool present = false;
  std::string name;      // "cnorm", "logit", "zip" or "poisson" (as given)
  int periods = 0;       // outcome (and time) variables
  int risk = 0;          // risk-factor variables (models 1 and 2)
  int exposure = 0;      // exposure variables (models 1 and 2)
  int tcov = 0;          // time-varying covariate variables (models 1 and 2)
  int groups = 0;        // length of the order matrix "kurv_mat_order<m>"
  double censorMin = 0;  // censoring bounds (CNORM)
  double censorMax = 0;
  int inflOrders = 0;    // length of "kurv_mat_iorder<m>"
  int refGroup = 0;      // 1-based reference group; 0 or below: the first (models 1 and 2)
  bool operator==(const ModelDescription&) const = default;
};

struct RunDescription {
  std::array<ModelDescription, 3> models;
  bool weights = false;         // a weight variable follows model 1's risk factors
  int plotTcov = 0;             // length of "kurv_plottcov1"
  int reOrders = 0;             // length of "kurv_mat_rorder1"
  int dropoutOrders = 0;        // length of "kurv_mat_dropoutorder1"
  int dcov = 0;                 // dropout covariate variables
  bool dropoutExempt = false;   // a dropout-exemption variable
  bool outcome = false;         // an outcome analysis ...
  std::string outcomeModel;     // ... of this model ("normal", "cnorm", "logit", "zip", "poisson")
  int multGroups = 0;           // groups shared by a multi-trajectory run; 0: none
  int startValues = 0;          // length of "kurv_start"
  bool trace = false;           // iteration log
  bool debug = false;           // evaluation traces
  bool noStdErrors = false;     // skip the covariance
  bool option39 = false;        // accepted and without effect
  int threads = 0;              // threads of the likelihood evaluations; 0: one per core
  bool dataStartValues = false; // without start values, guess them from the data (else the defaults)
  bool operator==(const RunDescription&) const = default;
};

}  // namespace kurv
