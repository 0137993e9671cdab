#pragma once
// The files `kurv fit --out DIR` writes, built in memory from a finished
// run so that they can be written all at once.

#include <map>
#include <string>

#include "cli/cli_host.h"
#include "cli/data_table.h"
#include "cli/engine_call.h"
#include "cli/fit_options.h"
#include "core/run_summary.h"

namespace kurv::cli {

struct StartsReport;

struct FitRecord {
  const FitOptions& options;
  const DataTable& table;
  const EngineCall& call;
  const RunSummary& summary;
  const CliHost& host;
  const StartsReport* starts = nullptr;  // with --starts: fit.json's "starts"
};

// fit.json: fit statistics, estimates with standard errors, t and p,
// covariance, group percentages per model and the options of the run.
std::string fitJson(const FitRecord& fit);

// posteriors.csv: identifier, most likely group and posterior probabilities
// (and those of model 2 of a joint run); empty cells for excluded rows.
std::string posteriorsCsv(const FitRecord& fit);

// plot%d.csv for model m (0-based): the plot series with named columns.
std::string plotCsv(const FitRecord& fit, int m);

// The estimated share of each group of model m (0-based) in percent, as the
// estimates table prints it (from the membership model); where the run's
// summary has none, the posterior shares.
std::vector<double> groupPercentages(const FitRecord& fit, int m);
// The shares of the posterior probabilities ("groupPct%d" of the host):
// 100 times the sum of each group's posteriors over the subjects used.
std::vector<double> posteriorGroupPercentages(const FitRecord& fit, int m);

// Every output file by name.
std::map<std::string, std::string> fitOutputFiles(const FitRecord& fit);

}  // namespace kurv::cli
