#pragma once
// The options of `kurv fit` as the user typed them. Numbers stay text here
// so that each can be checked with a message naming its option; the
// translation into the engine's arguments is buildEngineCall's job.

#include <array>
#include <string>
#include <vector>

namespace kurv::cli {

// One trajectory model: model 1, model 2 of a joint run, or a component of
// a multi-trajectory run. An empty text or list means "not given".
struct ModelOptions {
  std::vector<std::string> var;       // outcome columns, one per period
  std::vector<std::string> indep;     // time columns, one per period
  std::string model;                  // cnorm, logit, zip or poisson
  std::vector<std::string> order;     // polynomial order per group
  std::string min, max;               // censoring bounds (cnorm)
  std::vector<std::string> iorder;    // zero-inflation orders (zip)
  std::vector<std::string> risk;      // membership risk factor columns
  std::vector<std::string> tcov;      // time-varying covariate columns
  std::vector<std::string> exposure;  // exposure columns, one per period
  std::string refgroup;               // reference group of the membership model

  bool any() const {
    return !var.empty() || !indep.empty() || !model.empty() || !order.empty() || !min.empty() ||
           !max.empty() || !iorder.empty() || !risk.empty() || !tcov.empty() ||
           !exposure.empty() || !refgroup.empty();
  }
};

struct FitOptions {
  std::string data;                  // the .csv or .dta file
  std::array<ModelOptions, 3> models;
  std::vector<std::string> plottcov; // covariate values for the plot series
  std::vector<std::string> start;    // start values
  std::vector<std::string> dropout;  // dropout-model orders
  std::vector<std::string> dcov;     // dropout covariate columns
  std::vector<std::string> rorder;   // random-effects orders
  std::string weight;                // weight column
  std::string exempt;                // dropout-exemption column
  std::string omodel;                // outcome-analysis distribution
  std::string ovar;                  // outcome-analysis column
  std::string ifColumn;              // rows with a non-zero value are used
  std::string multgroups;            // groups shared by a multi-trajectory run
  std::string id;                    // identifier column for posteriors.csv
  std::string out;                   // output folder
  std::string starts;                // number of starting points (--starts)
  std::string seed;                  // seed of the perturbed starts (--seed)
  std::string longId;                // subject column of long-format data (--long)
  std::string threads;               // threads of the evaluations (default: one per core)
  bool trace = false;
  bool debug = false;
  bool novar = false;
};

}  // namespace kurv::cli
