#pragma once
// `kurv simulate`: data from a group-based trajectory model with given
// group shares and trajectories, one row per subject in wide layout.
//
// Each subject falls in group g with probability share_g (the shares are
// normalised to sum to 1). At each time t_j its linear predictor is the
// group's polynomial mu = b0 + b1 t + b2 t^2 + ...; the measurement is
//   cnorm:   mu + sigma * z, z standard normal, clamped to [min, max]
//            when bounds are given (censoring), rounded to `decimals`;
//   logit:   1 with probability 1 / (1 + exp(-mu)), else 0;
//   zip:     0 with probability `inflation`, else Poisson(exp(mu));
//   poisson: Poisson(exp(mu)).
// A measurement is missing with probability `missing`. The columns are id,
// y1..yT, t1..tT, v1..vT and w1..wT (further outcomes sharing the subject's
// group), the true group, then z1..zT and group2 (a second outcome with
// groups of its own).
//
// Further outcomes of the same subjects (up to two, for multi-trajectory
// data) share their group: each has its own kind, one coefficient list per
// group and, for cnorm, its own sigma (no censoring, no zero inflation).
// A second outcome with groups of its own (joint model data) puts each
// subject in model-2 group k with probability cond[g][k] given its group g,
// and measures it at the same times by its own kind and trajectories.

#include <cstdint>
#include <string>
#include <vector>

#include "cli/data_table.h"

namespace kurv::cli {

struct SimulationGroup {
  double share = 0.0;
  std::vector<double> coefficients;  // b0, b1, ...
};

// The second outcome of joint data: one trajectory per model-2 group, and
// for each group of the first outcome the probabilities of the model-2
// groups (each row normalised to sum to 1).
struct SecondOutcome {
  std::string model;
  std::vector<std::vector<double>> coefficients;  // [k]: b0, b1, ...
  std::vector<std::vector<double>> cond;          // [g][k]
  double sigma = 1.0;
  bool hasMin = false, hasMax = false;
  double min = 0.0, max = 0.0;
  double inflation = 0.0;
};

struct SimulationOutcome {
  std::string model;                              // cnorm, logit, zip, poisson
  std::vector<std::vector<double>> coefficients;  // one list per group
  double sigma = 1.0;
};

struct SimulationPlan {
  std::string model;  // cnorm, logit, zip, poisson
  std::vector<SimulationGroup> groups;
  std::vector<double> times;
  long subjects = 0;
  std::uint64_t seed = 1;
  double sigma = 1.0;
  bool hasMin = false, hasMax = false;
  double min = 0.0, max = 0.0;
  double missing = 0.0;
  double inflation = 0.0;
  int decimals = 3;
  bool hasSecond = false;
  SecondOutcome second;
  std::vector<SimulationOutcome> moreOutcomes;  // the second and third outcome
};

// The text options of `kurv simulate`, as typed.
struct SimulateOptions {
  std::string model;
  std::vector<std::string> groups;  // "SHARE:b0,b1,..." per group
  std::vector<std::string> times;
  std::string n, seed, sigma = "1", min, max, missing = "0", inflation = "0", decimals = "3";
  std::string out;
  // Second and third outcome: kind, cnorm sigma, and one "b0,b1,..." per
  // group (sharing the groups) ...
  std::string model2 = "";
  std::vector<std::string> traj2 = {};
  std::string sigma2 = "1";
  // ... or, for the second, "b0,b1,..." per model-2 group of its own and one
  // row "p1,p2,..." of model-2 group probabilities per group of the first,
  // with bounds and zero inflation.
  std::vector<std::string> groups2{}, cond{};
  std::string min2{}, max2{}, inflation2 = "0";
  std::string model3 = "";
  std::vector<std::string> traj3 = {};
  std::string sigma3 = "1";
};

// Checks the options (UserError on a mistake) and builds the simulation plan.
SimulationPlan parseSimulation(const SimulateOptions& options);

// The simulated data set; the same plan and seed give the same data.
DataTable simulate(const SimulationPlan& plan);

// Writes the data as .csv or .dta (by the extension of `path`), atomically.
void writeDataFile(const DataTable& table, const std::string& path);

// The data set as CSV text (shortest round-trip numbers, empty = missing).
std::string toCsv(const DataTable& table);

}  // namespace kurv::cli
