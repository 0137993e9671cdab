// The output files built from a finished run, checked on a run record made
// by hand (independent of whether the engine fits): what each file holds,
// missing values as empty cells and nulls, excluded rows, joint-model
// columns and the dropout columns of the plot series.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <sstream>

#include "cli/cli_app.h"
#include "cli/cli_host.h"
#include "cli/csv_reader.h"
#include "cli/engine_call.h"
#include "cli/fit_outputs.h"
#include "report/estimate_row.h"
#include "xml_check.h"

using namespace kurv::cli;
using nlohmann::json;

namespace {

const DataTable& table() {
  static const DataTable t = parseCsv(
      "id,y1,y2,t1,t2,sel,c1,c2\n"
      "\"a,1\",1,2,0,1,1,0,1\n"
      "b,2,3,0,1,0,1,1\n"
      "c,,4,0,1,1,0,0\n",
      "d.csv");
  return t;
}

struct Fixture {
  FitOptions options;
  EngineCall call;
  kurv::RunSummary summary;
  std::ostringstream results, messages;
  std::unique_ptr<CliHost> host;

  explicit Fixture(const std::string& extra) {
    std::vector<std::string> words{"d.csv", "--var", "y1-y2", "--indep", "t1-t2", "--model", "cnorm", "--min", "0",
                                   "--max", "9", "--order", "0", "1", "--if", "sel", "--id", "id"};
    std::istringstream more(extra);
    for (std::string w; more >> w;) words.push_back(w);
    std::string error;
    EXPECT_TRUE(parseFitWords(words, options, error)) << error;
    call = buildEngineCall(options, table());
    host = std::make_unique<CliHost>(table(), call, results, messages);
    summary.fitted = true;
    summary.nParams = 2;
    summary.logLikelihood = -12.5;
    summary.aic = -14.5;
    summary.bicMeasurements = -13.9;
    summary.bicSubjects = -13.1;
    summary.nSubjects = 2;
    summary.nMeasurements = 5;
    summary.names = {"interc1", "sigma"};
    summary.estimates = {1.5, 2.0};
    summary.stdErrors = {0.5, kMissing};
    summary.covariance = {0.25, 0.0, 0.0, 0.01};
  }
};

}  // namespace

TEST(FitOutputs, JsonHoldsStatisticsEstimatesCovarianceGroupsAndOptions) {
  Fixture f("");
  f.host->storeMatrixElement("groupPct1", 1, 1, 40.0);
  f.host->storeMatrixElement("groupPct1", 1, 2, 60.0);
  const json j = json::parse(fitJson({f.options, table(), f.call, f.summary, *f.host}));
  EXPECT_EQ(j["loglik"], -12.5);
  EXPECT_EQ(j["aic"], -14.5);
  EXPECT_EQ(j["bic_measurements"], -13.9);
  EXPECT_EQ(j["bic_subjects"], -13.1);
  EXPECT_EQ(j["n_params"], 2);
  EXPECT_EQ(j["n_subjects"], 2);
  EXPECT_EQ(j["n_measurements"], 5);
  EXPECT_EQ(j["minimizer_code"], 0);
  EXPECT_EQ(j["estimates"][0]["name"], "interc1");
  EXPECT_EQ(j["estimates"][0]["t"], 3.0);
  EXPECT_DOUBLE_EQ(j["estimates"][0]["p"].get<double>(), kurv::twoSidedTPValue(3.0, 5));
  EXPECT_TRUE(j["estimates"][1]["se"].is_null());  // missing standard error
  EXPECT_TRUE(j["estimates"][1]["t"].is_null());
  EXPECT_TRUE(j["estimates"][1]["p"].is_null());
  EXPECT_EQ(j["covariance"], json::parse("[[0.25, 0.0], [0.0, 0.01]]"));
  EXPECT_EQ(j["group_pct"], json::parse("[[40.0, 60.0]]"));  // no summary shares: the posterior ones
  EXPECT_EQ(j["group_pct_posterior"], json::parse("[[40.0, 60.0]]"));
  f.summary.groupPct = {{45.0, 55.0}};
  const json k = json::parse(fitJson({f.options, table(), f.call, f.summary, *f.host}));
  EXPECT_EQ(k["group_pct"], json::parse("[[45.0, 55.0]]"));
  EXPECT_EQ(k["group_pct_posterior"], json::parse("[[40.0, 60.0]]"));
  EXPECT_EQ(j["options"]["if"], "sel");
  EXPECT_EQ(j["options"]["models"][0]["min"], "0");
  EXPECT_EQ(j["engine_arguments"].size(), 39u);
}

TEST(FitOutputs, NoVarLeavesTestsOut) {
  Fixture f("--novar");
  const json j = json::parse(fitJson({f.options, table(), f.call, f.summary, *f.host}));
  EXPECT_EQ(j["estimates"][0]["se"], 0.5);
  EXPECT_TRUE(j["estimates"][0]["t"].is_null());
}

TEST(FitOutputs, PosteriorsKeepIdsAndLeaveExcludedRowsEmpty) {
  Fixture f("");
  const int base = static_cast<int>(f.call.variableColumns.size());  // results start one past the inputs
  for (int obs : {1, 3}) {
    f.host->storeVariable(base + 1, obs, obs == 1 ? 2.0 : 1.0);
    f.host->storeVariable(base + 2, obs, obs == 1 ? 0.25 : 0.875);
    f.host->storeVariable(base + 3, obs, obs == 1 ? 0.75 : 0.125);
  }
  for (int k = 1; k <= 3; ++k) f.host->storeVariable(base + k, 2, kMissing);
  EXPECT_EQ(posteriorsCsv({f.options, table(), f.call, f.summary, *f.host}),
            "id,group,prob1,prob2\n"
            "\"a,1\",2,0.25,0.75\n"
            "b,,,\n"
            "c,1,0.875,0.125\n");
}

TEST(FitOutputs, JointRunsAddModelTwoColumnsAndMultiRunsSkipUnselectedRows) {
  Fixture joint("--var2 c1-c2 --indep2 t1-t2 --model2 logit --order2 0 0 0");
  EXPECT_EQ(posteriorsCsv({joint.options, table(), joint.call, joint.summary, *joint.host}),
            "id,group,prob1,prob2,group_model2,prob1_model2,prob2_model2,prob3_model2\n"
            "\"a,1\",,,,,,,\nb,,,,,,,\nc,,,,,,,\n");
  Fixture mult("--multgroups 2 --var2 c1-c2 --indep2 t1-t2 --model2 logit --order2 0 0");
  // Rows 1 and 3 are the engine's observations 1 and 2; row 2 was never seen.
  const int base = static_cast<int>(mult.call.variableColumns.size());
  mult.host->storeVariable(base + 1, 2, 2.0);
  const std::string csv = posteriorsCsv({mult.options, table(), mult.call, mult.summary, *mult.host});
  EXPECT_EQ(csv, "id,group,prob1,prob2\n\"a,1\",,,\nb,,,\nc,2,,\n");
}

TEST(FitOutputs, PlotSeriesWithNamedColumnsAndDropoutRates) {
  Fixture f("--dropout 0");
  const double M = kMissing;
  const std::vector<std::vector<double>> rows = {{0.5, 1, 2, 1.1, 2.1, 1, 1.2, 2, 2.2, M, M},
                                                 {1.5, 3, M, 3.1, M, 3, 3.2, M, M, 0.1, 0.2}};
  for (int r = 0; r < 2; ++r)
    for (int c = 0; c < 11; ++c) EXPECT_EQ(f.host->storeMatrixElement("outPlot1", r + 1, c + 1, rows[r][c]), 0);
  const FitRecord record{f.options, table(), f.call, f.summary, *f.host};
  EXPECT_EQ(plotCsv(record, 0),
            "time,observed1,observed2,predicted1,predicted2,lower1,upper1,lower2,upper2,dropout1,dropout2\n"
            "0.5,1,2,1.1,2.1,1,1.2,2,2.2,,\n"
            "1.5,3,,3.1,,3,3.2,,,0.1,0.2\n");
  const auto files = fitOutputFiles(record);
  EXPECT_EQ(files.size(), 4u);
  EXPECT_EQ(kurv::cli::testing::xmlWellFormedError(files.at("trajectories.svg")), "");
}
