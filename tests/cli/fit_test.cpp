// `kurv fit` from the data file to the output files: the same fit as the
// engine run by hand through the test host, the same results from the CSV
// and .dta versions of one data set, and output files that parse and hold
// what they promise.
#include <gtest/gtest.h>

#include <cmath>

#include "cli/csv_reader.h"
#include "cli/data_file.h"
#include "cli/diagnostics.h"
#include "cli_support.h"
#include "support/run_builder.h"

const std::string kFit = " --var y1-y5 --indep t1-t5";

TEST(FitEndToEnd, SameFitAsTheEngineRunByHandThroughTheTestHost) {
  // small_cov.csv: id, y1-y5, t1-t5, group, r, w, x1-x5, sel. The host gets the
  // engine's layout written out by hand: outcomes, times, risk, weight,
  // covariates; sel as the host's selection. Both paths run the same
  // arithmetic, so everything must agree to the last bit.
  const auto rows = kurv::testing::readNumericCsv(fixture("small_cov.csv")).rows;
  kurv::testing::MemoryHost host;
  for (const auto& row : rows) {
    host.data.emplace_back(row.begin() + 1, row.begin() + 11);
    host.data.back().insert(host.data.back().end(), row.begin() + 12, row.begin() + 19);
    host.selected.push_back(row[19] != 0);
  }
  host.setRowVector("kurv_mat_order1", {1, 2});
  host.macros = {{"_risk1", "r"}, {"_tcov1", "x1 x2 x3 x4 x5"}};
  const int n = 3 + 4 + 1 + 2;  // groups of order 1 and 2 with a covariate each, sigma, membership constant and risk
  for (const auto& [name, rows, columns] :
       {std::tuple{"parmData", 1, n}, {"varData", n, n}, {"groupPct1", 1, 2}, {"outPlot1", 5, 9}})
    host.createMatrix(name, rows, columns);
  const auto args = kurv::testing::argsWith({{2, "5"}, {3, "1"}, {4, "1"}, {6, "5"}, {8, "2"}, {9, "0"}, {10, "30"}, {17, "1"}});
  kurv::RunSummary reference;
  ASSERT_EQ(kurv::testing::runWithArgs(host, args, &reference), 0) << host.errors;

  TempDir dir;
  const CliRun cli = runKurv("fit #small_cov.csv" + kFit + " --model cnorm --order 1 2 --min 0 --max 30 --risk r"
                             " --weight w --tcov x1-x5 --if sel --id id --start default --out @out", &dir);
  ASSERT_EQ(cli.code, 0) << cli.err;
  // The engine's text, then the classification diagnostics.
  EXPECT_EQ(cli.out.substr(0, host.displayed.size()), host.displayed);
  EXPECT_EQ(cli.out.find("\nClassification diagnostics (model 1, "), host.displayed.size());
  EXPECT_NE(cli.out.find("15 excluded by if condition"), std::string::npos) << cli.out;  // 15 rows have sel = 0
  const json fit = json::parse(readFile(dir.file("out/fit.json")));
  json names, estimates, errors;
  for (const json& row : fit["estimates"])
    names.push_back(row["name"]), estimates.push_back(row["estimate"]), errors.push_back(row["se"]);
  EXPECT_EQ(fit["loglik"], reference.logLikelihood);
  EXPECT_EQ(names, json(reference.names));
  EXPECT_EQ(estimates, json(host.matrices["parmData"][0]));
  EXPECT_EQ(errors, json(reference.stdErrors));
  EXPECT_EQ(fit["covariance"], json(host.matrices["varData"]));
  EXPECT_EQ(fit["group_pct_posterior"], json(host.matrices["groupPct1"]));
  EXPECT_TRUE(fit["group_pct"][0][0].is_null() && isMissing(reference.groupPct[0][0]));  // none with a risk factor
  const DataTable plot = readCsvFile(dir.file("out/plot1.csv")), post = readCsvFile(dir.file("out/posteriors.csv"));
  for (int t = 0; t < 5; ++t)
    for (int c = 0; c < 9; ++c) EXPECT_EQ(plot.values[c][t], host.matrices["outPlot1"][t][c]);
  // Posterior variables are stored from variable 18 on, one past the 17 inputs.
  ASSERT_EQ(post.rowCount(), rows.size());
  for (std::size_t i = 0; i < rows.size(); ++i) {
    EXPECT_TRUE(post.values[0][i] == rows[i][0] && isMissing(post.values[1][i]) == (rows[i][19] == 0)) << i;
    for (std::size_t k = 0; k < 3; ++k)
      EXPECT_EQ(post.values[1 + k][i], 17 + k < host.data[i].size() ? host.data[i][17 + k] : kMissing);
  }
}

TEST(FitEndToEnd, CsvAndDtaGiveTheSameResultsAndFilesHoldTheListedFields) {
  // cnorm from the committed pair of files, the others simulated into both
  // formats with one seed. Within a format the files are checked for
  // identities of a fit: AIC and BIC from L, posterior probabilities summing
  // to 1 with the group their argmax. (The values the engine hands over are
  // checked against it above; t and p, shares and plot series from a run
  // record made by hand in outputs_test.cpp.)
  const std::vector<std::tuple<std::string, std::string, int>> cases = {
      {"", " --model cnorm --order 1 2 --min 0 --max 30", 7},
      {" --model logit --groups 60:-2,0.3 40:1,-0.2", " --model logit --order 1 1", 5},
      {" --model zip --groups 60:-1,0.2 40:1.5 --inflation 0.2", " --model zip --order 1 0 --iorder 0", 5},
      {" --model poisson --groups 50:0.5 50:2", " --model poisson --order 0 0", 3}};
  for (const auto& [simulation, model, n] : cases) {
    SCOPED_TRACE(model);
    TempDir dir;
    std::vector<CliRun> runs;
    for (const std::string ext : {"csv", "dta"}) {
      const std::string data = (simulation.empty() ? "#small." : "@sim.") + ext;
      if (!simulation.empty()) {
        const std::string simulate = "simulate --times 1 2 3 4 5 --n 120 --seed 4 --missing 0.05 --out ";
        ASSERT_EQ(runKurv(simulate + data + simulation, &dir).code, 0);
      }
      runs.push_back(runKurv("fit " + data + kFit + model + " --out @" + ext, &dir));
      ASSERT_EQ(runs.back().code, 0) << runs.back().err;
    }
    EXPECT_TRUE(simulation.empty() || readDataFile(dir.file("sim.csv")).values == readDataFile(dir.file("sim.dta")).values);
    EXPECT_EQ(runs[0].out, runs[1].out);
    for (const char* file : {"fit.json", "posteriors.csv", "plot1.csv", "trajectories.svg"}) {  // all but the data's name
      const std::string dta = std::regex_replace(readFile(dir.file("dta/") + file), std::regex("\\.dta\""), ".csv\"");
      EXPECT_EQ(readFile(dir.file("csv/") + file), dta) << file;
    }
    using std::filesystem::directory_iterator;
    EXPECT_EQ(std::distance(directory_iterator(dir.file("csv")), directory_iterator()), 4);  // and nothing else

    const json fit = json::parse(readFile(dir.file("csv/fit.json")));
    ASSERT_EQ(fit["n_params"], n);
    ASSERT_EQ(fit["estimates"].size() + fit["covariance"].size(), 2u * n);
    const double L = fit["loglik"];
    EXPECT_DOUBLE_EQ(fit["aic"], L - n);
    EXPECT_DOUBLE_EQ(fit["bic_subjects"], L - 0.5 * n * std::log(fit["n_subjects"].get<double>()));

    // Posteriors summing to 1, the group their argmax; the classification
    // diagnostics those of this file and the estimated shares (their
    // definitions are checked in diagnostics_test.cpp).
    const DataTable post = readCsvFile(dir.file("csv/posteriors.csv"));
    EXPECT_EQ(post.rowCount(), simulation.empty() ? 150u : 120u);
    std::vector<std::vector<double>> posteriors;
    for (std::size_t i = 0; i < post.rowCount(); ++i) {
      EXPECT_NEAR(post.values[2][i] + post.values[3][i], 1.0, 1e-12);
      EXPECT_EQ(post.values[1][i], post.values[3][i] > post.values[2][i] ? 2.0 : 1.0);
      posteriors.push_back({post.values[2][i], post.values[3][i]});
    }
    EXPECT_EQ(fit["diagnostics"], diagnosticsJson({classify(posteriors, fit["group_pct"][0].get<std::vector<double>>())}));
    EXPECT_EQ(xmlError(readFile(dir.file("csv/trajectories.svg"))), "");
  }
}
