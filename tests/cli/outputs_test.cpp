// The output files built from a run record made by hand, the picture, the
// command-line host's bookkeeping and the atomic writing of a set of files.
#include <gtest/gtest.h>

#include <cmath>
#include <nlohmann/json.hpp>

#include "cli/atomic_files.h"
#include "cli/csv_reader.h"
#include "cli/fit_outputs.h"
#include "cli/svg_plot.h"
#include "cli/user_error.h"
#include "cli_support.h"

using namespace kurv::cli;
using namespace kurv::cli::testing;
using nlohmann::json;

namespace {

const DataTable kTable = parseCsv("id,y1,y2,t1,t2,sel,c1,c2\n\"a,1\",1,2,0,1,1,0,1\nb,2,3,0,1,0,1,1\nc,,4,0,1,1,0,0\n", "d.csv");

// A finished single-model run with two parameters, the second without a
// standard error; rows 1 and 3 selected.
struct Finished {
  FitOptions options;
  EngineCall call;
  kurv::RunSummary summary;
  std::ostringstream results, messages;
  std::unique_ptr<CliHost> host;
  explicit Finished(const std::string& extra) {
    std::string error;
    EXPECT_TRUE(parseFitWords(words("d.csv --var y1-y2 --indep t1-t2 --model cnorm --min 0 --max 9 --order 0 1 "
                                    "--if sel --id id " + extra), options, error)) << error;
    call = buildEngineCall(options, kTable);
    host = std::make_unique<CliHost>(kTable, call, results, messages);
    summary.fitted = true;
    summary.nParams = 2;
    summary.nMeasurements = 5;
    summary.names = {"interc1", "sigma"};
    summary.estimates = {1.5, 2.0};
    summary.stdErrors = {0.5, kMissing};
    summary.covariance = {0.25, 0.0, 0.0, 0.01};
  }
  FitRecord record() const { return {options, kTable, call, summary, *host}; }
  int base() const { return static_cast<int>(call.variableColumns.size()); }  // results start one past the inputs
};

}  // namespace

TEST(FitOutputs, JsonTestsOfEstimatesMissingValuesAndGroupShares) {
  Finished run("");
  run.host->storeMatrixElement("groupPct1", 1, 1, 40.0);
  run.host->storeMatrixElement("groupPct1", 1, 2, 60.0);
  json j = json::parse(fitJson(run.record()));
  // t = 1.5 / 0.5 = 3 on nMeasurements = 5 degrees of freedom; the two-sided
  // p-value in closed form for 5 degrees of freedom, with q = atan(t / sqrt 5):
  // 1 - (2/pi) (q + sin q cos q (1 + 2/3 cos^2 q)).
  const double q = std::atan(3.0 / std::sqrt(5.0));
  EXPECT_EQ(j["estimates"][0]["t"], 3.0);
  EXPECT_NEAR(j["estimates"][0]["p"].get<double>(),
              1 - 2 / M_PI * (q + std::sin(q) * std::cos(q) * (1 + 2.0 / 3 * std::pow(std::cos(q), 2))), 1e-12);
  for (const char* key : {"se", "t", "p"}) EXPECT_TRUE(j["estimates"][1][key].is_null()) << key;
  EXPECT_EQ(j["covariance"], json::parse("[[0.25, 0.0], [0.0, 0.01]]"));
  EXPECT_EQ(j["group_pct"], json::parse("[[40.0, 60.0]]"));  // no estimated shares: the posterior ones
  EXPECT_EQ(j["engine_arguments"].size(), 39u);
  EXPECT_EQ(j["options"]["if"], "sel");
  run.summary.groupPct = {{45.0, 55.0}};
  j = json::parse(fitJson(run.record()));
  EXPECT_EQ(j["group_pct"], json::parse("[[45.0, 55.0]]"));
  EXPECT_EQ(j["group_pct_posterior"], json::parse("[[40.0, 60.0]]"));
  Finished novar("--novar");
  j = json::parse(fitJson(novar.record()));
  EXPECT_EQ(j["estimates"][0]["se"], 0.5);
  EXPECT_TRUE(j["estimates"][0]["t"].is_null());
}

TEST(FitOutputs, PosteriorsAndPlotSeries) {
  Finished run("--dropout 0");
  for (int k = 1; k <= 3; ++k) {
    run.host->storeVariable(run.base() + k, 1, std::vector<double>{2, 0.25, 0.75}[k - 1]);
    run.host->storeVariable(run.base() + k, 3, std::vector<double>{1, 0.875, 0.125}[k - 1]);
  }
  // Quoted identifiers, and the deselected row 2 left empty.
  EXPECT_EQ(posteriorsCsv(run.record()), "id,group,prob1,prob2\n\"a,1\",2,0.25,0.75\nb,,,\nc,1,0.875,0.125\n");
  const double M = kMissing;
  const std::vector<std::vector<double>> rows = {{0.5, 1, 2, 1.1, 2.1, 1, 1.2, 2, 2.2, M, M},
                                                 {1.5, 3, M, 3.1, M, 3, 3.2, M, M, 0.1, 0.2}};
  for (int r = 0; r < 2; ++r)
    for (int c = 0; c < 11; ++c) EXPECT_EQ(run.host->storeMatrixElement("outPlot1", r + 1, c + 1, rows[r][c]), 0);
  EXPECT_EQ(plotCsv(run.record(), 0),
            "time,observed1,observed2,predicted1,predicted2,lower1,upper1,lower2,upper2,dropout1,dropout2\n"
            "0.5,1,2,1.1,2.1,1,1.2,2,2.2,,\n1.5,3,,3.1,,3,3.2,,,0.1,0.2\n");
  const auto files = fitOutputFiles(run.record());
  EXPECT_EQ(files.size(), 4u);
  EXPECT_EQ(xmlError(files.at("trajectories.svg")), "");

  // A joint run adds model 2's columns; a multi-trajectory run is handed the
  // selected rows only (rows 1 and 3 are its observations 1 and 2).
  Finished joint("--var2 c1-c2 --indep2 t1-t2 --model2 logit --order2 0 0 0");
  EXPECT_EQ(posteriorsCsv(joint.record()), "id,group,prob1,prob2,group_model2,prob1_model2,prob2_model2,prob3_model2\n"
                                           "\"a,1\",,,,,,,\nb,,,,,,,\nc,,,,,,,\n");
  Finished mult("--multgroups 2 --var2 c1-c2 --indep2 t1-t2 --model2 logit --order2 0 0");
  mult.host->storeVariable(mult.base() + 1, 2, 2.0);
  EXPECT_EQ(posteriorsCsv(mult.record()), "id,group,prob1,prob2\n\"a,1\",,,\nb,,,\nc,2,,\n");
}

TEST(TrajectoryPicture, WellFormedWithEscapedLabelsBandsSplitAtGapsAndPoints) {
  const double M = kMissing;
  PlotPanel panel{"Model 1 (cnorm)", axisLabel({"age_1", "age_2", "age_3"}), "score <a & b>", 2, {40.0, 60.0},
                  {{1, 1.0, 5.0, 1.1, 5.2, 0.9, 1.3, 5.0, 5.4},  // time, observed, predicted, lower/upper per group
                   {2, 2.0, M, 2.1, M, 1.9, 2.3, M, M},          // group 2 unseen at time 2
                   {3, 3.0, 7.0, 2.9, 7.1, 2.7, 3.1, 6.8, 7.4}}};
  const std::string svg = trajectoriesSvg({panel, panel});
  EXPECT_EQ(xmlError(svg), "");
  for (const char* text : {">age</text>", "score &lt;a &amp; b&gt;", "Group 1: 40.0%", "Group 2: 60.0%"})
    EXPECT_NE(svg.find(text), std::string::npos) << text;
  auto count = [&](const std::string& what) {
    std::size_t n = 0;
    for (auto at = svg.find(what); at != std::string::npos; at = svg.find(what, at + 1)) ++n;
    return n;
  };
  // Per panel: one band for group 1, two for group 2 (split by its gap);
  // five observed points and one legend marker per group.
  EXPECT_EQ(count("<polygon"), 2u * 3u);
  EXPECT_EQ(count("<circle"), 2u * (5u + 2u));
  EXPECT_EQ(xmlError(trajectoriesSvg({})), "");
  EXPECT_EQ(axisLabel({"y1", "y2", "y10"}) + "|" + axisLabel({"a1", "b2"}) + "|" + axisLabel({"1", "2"}), "y|a1 - b2|1 - 2");
  for (const char* bad : {"<a><b></a></b>", "<a x=1/>", "<a x=\"1\" x=\"2\"/>", "<a>&nbsp;</a>", "<a/><b/>", "<a>"})
    EXPECT_NE(xmlError(bad), "") << bad;  // the checker itself rejects what is not XML
}

TEST(CliHost, ReadsThroughTheCallsColumnsAndRowsAndKeepsInputsReadOnly) {
  const DataTable table = parseCsv("a,b,c\n1,2,3\n4,,6\n7,8,9\n", "d.csv");
  EngineCall call;
  call.variableColumns = {2, 0};  // variable 1 is column c, variable 2 column a
  call.rows = {0, 2};             // observations 1 and 2 are rows 1 and 3
  call.selected = {true, false};
  call.matrices["kurv_mat_order1"] = {1, 2};
  call.macros["_risk1"] = "a b";
  call.resultShapes["groupPct1"] = {1, 2};
  std::ostringstream results, messages;
  CliHost host(table, call, results, messages);
  double v = 0, w = 0;
  EXPECT_EQ(host.readVariable(1, 2, &v) + host.readVariable(2, 2, &w), 0);
  EXPECT_EQ(v * 10 + w, 97.0);
  EXPECT_NE(host.readVariable(1, 3, &v), 0);
  EXPECT_TRUE(host.isSelected(1) && !host.isSelected(2) && !host.isSelected(3));
  EXPECT_NE(host.storeVariable(2, 1, 5.0), 0);  // an input
  EXPECT_EQ(host.storeVariable(4, 2, 0.25), 0);
  EXPECT_EQ(host.result(1, 1), 0.25);
  EXPECT_EQ(host.result(0, 1), kMissing);
  EXPECT_NE(host.storeMatrixElement("kurv_mat_order1", 1, 1, 0.0), 0);  // an input matrix
  EXPECT_EQ(host.storeMatrixElement("groupPct1", 1, 2, 55.0), 0);
  EXPECT_NE(host.storeMatrixElement("groupPct1", 1, 3, 1.0), 0);
  EXPECT_EQ(host.storeMatrixElement("varData", 3, 2, 1.5), 0);  // grows with the engine's writes
  EXPECT_EQ((*host.matrix("varData"))[2][1], 1.5);
  EXPECT_EQ(host.failedStores(), 3);
  char buffer[4];
  EXPECT_EQ(host.macroUse("_risk1", buffer, sizeof buffer), 0);
  EXPECT_STREQ(buffer, "a b");
  EXPECT_NE(host.macroUse("_tcov1", buffer, sizeof buffer), 0);
  EXPECT_TRUE(host.isMissing(kMissing * 2) && !host.isMissing(8.98e307));
}

TEST(AtomicFiles, AllFilesOrNone) {
  TempDir dir;
  writeFilesAtomically(dir.file("a/b"), {{"x.txt", "one"}, {"y.txt", std::string(100000, 'z')}});
  writeFilesAtomically(dir.file("a/b"), {{"x.txt", "two"}});  // replaces
  EXPECT_EQ(readFile(dir.file("a/b/x.txt")) + std::to_string(readFile(dir.file("a/b/y.txt")).size()), "two100000");
  writeFile(dir.file("plain"), "a file, not a folder");
  EXPECT_THROW(writeFilesAtomically(dir.file("plain"), {{"x.txt", "one"}}), UserError);
  // A folder in the way of y.txt fails the set: x.txt is not written either.
  std::filesystem::create_directories(dir.file("out/y.txt"));
  EXPECT_THROW(writeFilesAtomically(dir.file("out"), {{"x.txt", "one"}, {"y.txt", "two"}}), UserError);
  const auto entries = std::distance(std::filesystem::directory_iterator(dir.file("out")), {});
  EXPECT_EQ(entries, 1);
}
