#pragma once
// What a finished run leaves for a host program that wants more than the
// host matrices and variables (the command-line program writes it as JSON).

#include <string>
#include <vector>

namespace kurv {

struct RunSummary {
  bool fitted = false;          // the run reached the results
  int minimizerCode = 0;        // final code of the minimizer
  double logLikelihood = 0.0;   // L = -f at the estimates
  double aic = 0.0;
  double bicMeasurements = 0.0;
  double bicSubjects = 0.0;
  int nParams = 0;
  int nSubjects = 0;
  int nMeasurements = 0;
  int nObs = 0;
  int nModels = 1;
  std::vector<std::string> names;    // one output name per parameter, from the layout
  std::vector<double> estimates;     // scales exponentiated
  std::vector<double> stdErrors;     // missing value where unavailable
  std::vector<double> covariance;    // nParams*nParams row-major, as written to "varData"
  std::vector<std::vector<double>> groupPct;  // per model, per group
  // Joint runs: [j][k] the percentage of model-2 group k among the subjects
  // of model-1 group j (groupPct[1] holds model 2's marginal shares).
  std::vector<std::vector<double>> conditionalPct{};
  double missingValue = 0.0;         // the host's missing value used above
};

}  // namespace kurv
