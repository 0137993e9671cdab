// The output files built from a run record made by hand, the picture, the
// command-line host's bookkeeping and the atomic writing of a set of files.
#include <gtest/gtest.h>

#include <cmath>

#include "cli/atomic_files.h"
#include "cli/csv_reader.h"
#include "cli/fit_outputs.h"
#include "cli/svg_plot.h"
#include "cli/user_error.h"
#include "cli_support.h"

namespace {

const DataTable kTable =
    parseCsv("id,y1,y2,t1,t2,sel,c1,c2\n\"a,1\",1,2,0,1,1,0,1\nb,2,3,0,1,0,1,1\nc,,4,0,1,1,0,0\n", "d");

// A finished run of two parameters, the second without a standard error, on
// the rows selected by sel (1 and 3).
struct Finished {
  FitOptions options;
  EngineCall call;
  kurv::RunSummary summary{.fitted = true, .nParams = 2, .nMeasurements = 5, .names = {"interc1", "sigma"},
                           .estimates = {1.5, 2.0}, .stdErrors = {0.5, kMissing}, .covariance = {0.25, 0, 0, 0.01},
                           .groupPct = {}, .missingValue = kMissing};
  std::ostringstream results, messages;
  std::unique_ptr<CliHost> host;
  explicit Finished(const std::string& extra)
      : options(fitOptions("d --var y1-y2 --indep t1-t2 --model cnorm --min 0 --max 9 --order 0 1 --if sel --id id " + extra)) {
    call = buildEngineCall(options, kTable);
    host = std::make_unique<CliHost>(kTable, call, results, messages);
  }
  FitRecord record() const { return {options, kTable, call, summary, *host}; }
  void store(int k, int obs, double v) { host->storeVariable(static_cast<int>(call.variableColumns.size()) + k, obs, v); }
};

}  // namespace

TEST(FitOutputs, JsonPosteriorsAndPlotSeries) {
  Finished run("--dropout 0");
  run.host->storeMatrixElement("groupPct1", 1, 1, 40.0);
  run.host->storeMatrixElement("groupPct1", 1, 2, 60.0);
  json j = json::parse(fitJson(run.record()));
  // t = 1.5 / 0.5 = 3 on 5 degrees of freedom (the measurements); its two-sided
  // p in closed form: 1 - (2/pi)(q + sin q cos q (1 + 2/3 cos^2 q)), q = atan(3 / sqrt 5).
  const double q = std::atan(3 / std::sqrt(5.0)), c = std::cos(q);
  EXPECT_EQ(j["estimates"][0]["t"], 3.0);
  EXPECT_NEAR(j["estimates"][0]["p"].get<double>(), 1 - 2 / M_PI * (q + std::sin(q) * c * (1 + 2 * c * c / 3)), 1e-12);
  for (const char* key : {"se", "t", "p"}) EXPECT_TRUE(j["estimates"][1][key].is_null()) << key;
  EXPECT_EQ(j["group_pct"], json::parse("[[40.0, 60.0]]"));  // no estimated shares: the posterior ones
  run.summary.groupPct = {{45.0, 55.0}};
  j = json::parse(fitJson(run.record()));
  EXPECT_EQ(j["group_pct"].dump() + j["group_pct_posterior"].dump(), "[[45.0,55.0]][[40.0,60.0]]");
  j = json::parse(fitJson(Finished("--novar").record()))["estimates"][0];
  EXPECT_TRUE(j["se"] == 0.5 && j["t"].is_null());

  const double stored[2][3] = {{2, 0.25, 0.75}, {1, 0.875, 0.125}};  // group and probabilities of observations 1 and 3
  for (int k = 0; k < 3; ++k) run.store(k + 1, 1, stored[0][k]), run.store(k + 1, 3, stored[1][k]);
  // Identifiers quoted where needed, the deselected row 2 left empty.
  EXPECT_EQ(posteriorsCsv(run.record()), "id,group,prob1,prob2\n\"a,1\",2,0.25,0.75\nb,,,\nc,1,0.875,0.125\n");
  const double M = kMissing;
  const std::vector<std::vector<double>> rows = {{0.5, 1, 2, 1.1, 2.1, 1, 1.2, 2, 2.2, M, M},
                                                 {1.5, 3, M, 3.1, M, 3, 3.2, M, M, 0.1, 0.2}};
  for (int r = 0; r < 2; ++r)
    for (int c = 0; c < 11; ++c) EXPECT_EQ(run.host->storeMatrixElement("outPlot1", r + 1, c + 1, rows[r][c]), 0);
  EXPECT_EQ(plotCsv(run.record(), 0),
            "time,observed1,observed2,predicted1,predicted2,lower1,upper1,lower2,upper2,dropout1,dropout2\n"
            "0.5,1,2,1.1,2.1,1,1.2,2,2.2,,\n1.5,3,,3.1,,3,3.2,,,0.1,0.2\n");
}

TEST(TrajectoryPicture, WellFormedWithEscapedLabelsBandsSplitAtGapsAndPoints) {
  const double M = kMissing;
  const PlotPanel panel{"Model 1 (cnorm)", axisLabel({"age_1", "age_2", "age_3"}), "score <a & b>", 2, {40.0, 60.0},
                        {{1, 1.0, 5.0, 1.1, 5.2, 0.9, 1.3, 5.0, 5.4},  // time, observed, predicted, lower/upper
                         {2, 2.0, M, 2.1, M, 1.9, 2.3, M, M},          // group 2 unseen at time 2
                         {3, 3.0, 7.0, 2.9, 7.1, 2.7, 3.1, 6.8, 7.4}}};
  const std::string svg = trajectoriesSvg({panel, panel});
  EXPECT_EQ(xmlError(svg) + xmlError(trajectoriesSvg({})), "");
  for (const char* text : {">age</text>", "score &lt;a &amp; b&gt;", "Group 1: 40.0%", "Group 2: 60.0%"})
    EXPECT_NE(svg.find(text), std::string::npos) << text;
  // Per panel: one band for group 1 and two for group 2 (split at its gap);
  // five observed points and one legend marker per group.
  EXPECT_EQ(std::pair(matches(svg, "<polygon"), matches(svg, "<circle")), std::pair(2L * 3, 2L * (5 + 2)));
  EXPECT_EQ(axisLabel({"y1", "y2", "y10"}) + "|" + axisLabel({"a1", "b2"}) + "|" + axisLabel({"1", "2"}), "y|a1 - b2|1 - 2");
  for (const char* bad : {"<a><b></a></b>", "<a x=1/>", "<a x=\"1\" x=\"2\"/>", "<a>&nbsp;</a>", "<a/><b/>", "<a>"})
    EXPECT_NE(xmlError(bad), "") << bad;  // the checker itself rejects what is not XML
}

TEST(CliHost, ReadsThroughTheCallsColumnsAndRowsAndKeepsInputsReadOnly) {
  const DataTable table = parseCsv("a,b,c\n1,2,3\n4,,6\n7,8,9\n", "d");
  EngineCall call;  // variable 1 is column c, variable 2 column a; observations 1 and 2 are rows 1 and 3
  call.variableColumns = {2, 0}, call.rows = {0, 2}, call.selected = {true, false};
  call.matrices["kurv_mat_order1"] = {1, 2}, call.resultShapes["groupPct1"] = {1, 2};
  std::ostringstream results, messages;
  CliHost host(table, call, results, messages);
  double v[2];
  EXPECT_EQ(host.readVariable(1, 2, &v[0]) + host.readVariable(2, 2, &v[1]), 0);
  EXPECT_TRUE(v[0] == 9 && v[1] == 7 && host.readVariable(1, 3, v) && host.isSelected(1) && !host.isSelected(2));
  // Refused and counted: a store into an input variable or matrix, or outside a result matrix.
  EXPECT_TRUE(host.storeVariable(2, 1, 5) && host.storeMatrixElement("kurv_mat_order1", 1, 1, 0) &&
              host.storeMatrixElement("groupPct1", 1, 3, 1) && host.failedStores() == 3);
  EXPECT_EQ(host.storeVariable(4, 2, 0.25) + host.storeMatrixElement("varData", 3, 2, 1.5), 0);
  EXPECT_EQ(host.result(1, 1) + host.matrix("varData")->at(2).at(1), 1.75);  // varData grows with the writes
}

TEST(AtomicFiles, AllFilesOrNone) {
  TempDir dir;
  writeFilesAtomically(dir.file("a/b"), {{"x.txt", "one"}, {"y.txt", std::string(100000, 'z')}});
  writeFilesAtomically(dir.file("a/b"), {{"x.txt", "two"}});  // replaces
  EXPECT_EQ(readFile(dir.file("a/b/x.txt")) + std::to_string(readFile(dir.file("a/b/y.txt")).size()), "two100000");
  EXPECT_THROW(writeFilesAtomically(dir.file("a/b/x.txt"), {{"z.txt", "one"}}), UserError);  // a file, not a folder
  // A folder in the way of y.txt fails the set: x.txt is not written either.
  std::filesystem::create_directories(dir.file("out/y.txt"));
  EXPECT_THROW(writeFilesAtomically(dir.file("out"), {{"x.txt", "one"}, {"y.txt", "two"}}), UserError);
  using std::filesystem::directory_iterator;
  EXPECT_EQ(std::distance(directory_iterator(dir.file("out")), directory_iterator()), 1);  // nor any temporary
}
