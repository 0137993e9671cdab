// Pieces of the output that need no fitted model: the picture, the
// command-line host's bookkeeping and the atomic writing.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <sstream>

#include "cli/atomic_files.h"
#include "cli/cli_host.h"
#include "cli/csv_reader.h"
#include "cli/svg_plot.h"
#include "cli/user_error.h"
#include "cli_test_support.h"
#include "xml_check.h"

using namespace kurv::cli;
using namespace kurv::cli::testing;
namespace fs = std::filesystem;

TEST(TrajectoryPicture, WellFormedWithBandsPointsLegendAndEscapedLabels) {
  const double M = kMissing;
  PlotPanel panel;
  panel.title = "Model 1 (cnorm)";
  panel.xLabel = axisLabel({"age_1", "age_2", "age_3"});
  panel.yLabel = "score <a & b>";
  panel.groups = 2;
  panel.groupPct = {40.0, 60.0};
  // time, observed 1-2, predicted 1-2, lower/upper 1, lower/upper 2; group 2
  // has no subjects at the second time.
  panel.series = {{1, 1.0, 5.0, 1.1, 5.2, 0.9, 1.3, 5.0, 5.4},
                  {2, 2.0, M, 2.1, M, 1.9, 2.3, M, M},
                  {3, 3.0, 7.0, 2.9, 7.1, 2.7, 3.1, 6.8, 7.4}};
  const std::string svg = trajectoriesSvg({panel, panel});
  EXPECT_EQ(xmlWellFormedError(svg), "");
  EXPECT_NE(svg.find(">age</text>"), std::string::npos);
  EXPECT_NE(svg.find("score &lt;a &amp; b&gt;"), std::string::npos);
  EXPECT_NE(svg.find("Group 1: 40.0%"), std::string::npos);
  EXPECT_NE(svg.find("Group 2: 60.0%"), std::string::npos);
  auto count = [&](const std::string& what) {
    std::size_t n = 0;
    for (auto at = svg.find(what); at != std::string::npos; at = svg.find(what, at + 1)) ++n;
    return n;
  };
  // Per panel: group 1 one band, group 2 two (its gap splits it); five
  // observed points plus one legend marker per group.
  EXPECT_EQ(count("<polygon"), 2u * 3u);
  EXPECT_EQ(count("<circle"), 2u * (5u + 2u));
  EXPECT_EQ(xmlWellFormedError(trajectoriesSvg({})), "");
}

TEST(TrajectoryPicture, AxisLabels) {
  EXPECT_EQ(axisLabel({"y1", "y2", "y10"}), "y");
  EXPECT_EQ(axisLabel({"score"}), "score");
  EXPECT_EQ(axisLabel({"a1", "b2"}), "a1 - b2");
  EXPECT_EQ(axisLabel({"1", "2"}), "1 - 2");
  EXPECT_EQ(axisLabel({}), "");
}

TEST(XmlCheck, RejectsWhatIsNotWellFormed) {
  EXPECT_EQ(xmlWellFormedError("<a><b x=\"1\"/></a>"), "");
  EXPECT_NE(xmlWellFormedError("<a><b></a></b>"), "");
  EXPECT_NE(xmlWellFormedError("<a x=1/>"), "");
  EXPECT_NE(xmlWellFormedError("<a x=\"1\" x=\"2\"/>"), "");
  EXPECT_NE(xmlWellFormedError("<a>&nbsp;</a>"), "");
  EXPECT_NE(xmlWellFormedError("<a/><b/>"), "");
  EXPECT_NE(xmlWellFormedError("<a>"), "");
}

TEST(CliHost, ReadsTheCallsColumnsAndKeepsResultsApart) {
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
  double v = 0;
  EXPECT_EQ(host.observationCount(), 2);
  ASSERT_EQ(host.readVariable(1, 2, &v), 0);
  EXPECT_EQ(v, 9.0);
  ASSERT_EQ(host.readVariable(2, 2, &v), 0);
  EXPECT_EQ(v, 7.0);
  EXPECT_TRUE(host.isSelected(1));
  EXPECT_FALSE(host.isSelected(2));
  EXPECT_FALSE(host.isSelected(3));
  EXPECT_NE(host.readVariable(1, 3, &v), 0);
  // Results go past the input variables; the inputs cannot be overwritten.
  EXPECT_NE(host.storeVariable(1, 1, 5.0), 0);
  EXPECT_EQ(host.storeVariable(4, 2, 0.25), 0);
  EXPECT_EQ(host.result(1, 1), 0.25);
  EXPECT_EQ(host.result(0, 1), kMissing);
  // Input matrices read, result matrices stored within their shapes;
  // "parmData" and "varData" grow with the engine's writes.
  ASSERT_EQ(host.matrixElement("kurv_mat_order1", 1, 2, &v), 0);
  EXPECT_EQ(v, 2.0);
  EXPECT_NE(host.matrixElement("kurv_mat_order1", 1, 3, &v), 0);
  EXPECT_NE(host.storeMatrixElement("kurv_mat_order1", 1, 1, 0.0), 0);
  EXPECT_EQ(host.storeMatrixElement("groupPct1", 1, 2, 55.0), 0);
  EXPECT_NE(host.storeMatrixElement("groupPct1", 1, 3, 1.0), 0);
  EXPECT_EQ(host.storeMatrixElement("varData", 3, 2, 1.5), 0);
  EXPECT_EQ(host.matrix("varData")->size(), 3u);
  EXPECT_EQ((*host.matrix("varData"))[2][1], 1.5);
  EXPECT_EQ(host.failedStores(), 3);
  char buffer[4];
  EXPECT_EQ(host.macroUse("_risk1", buffer, sizeof buffer), 0);
  EXPECT_STREQ(buffer, "a b");
  EXPECT_NE(host.macroUse("_tcov1", buffer, sizeof buffer), 0);
  host.display("shown");
  host.error("bad\n");
  host.standardOutput("note");
  EXPECT_EQ(results.str(), "shown");
  EXPECT_EQ(messages.str(), "bad\nnote");
  EXPECT_TRUE(host.isMissing(kMissing * 2));
  EXPECT_FALSE(host.isMissing(8.98e307));
}

TEST(AtomicFiles, WritesAllFilesAndLeavesNoTemporaries) {
  TempDir dir;
  const std::string folder = dir.file("a/b");
  writeFilesAtomically(folder, {{"x.txt", "one"}, {"y.txt", std::string(100000, 'z')}});
  EXPECT_EQ(readFile(folder + "/x.txt"), "one");
  EXPECT_EQ(readFile(folder + "/y.txt").size(), 100000u);
  writeFilesAtomically(folder, {{"x.txt", "two"}});  // replaces
  EXPECT_EQ(readFile(folder + "/x.txt"), "two");
  std::size_t files = 0;
  for (const auto& entry : fs::directory_iterator(folder)) files += entry.is_regular_file();
  EXPECT_EQ(files, 2u);
}

TEST(AtomicFiles, FailureLeavesNothingNew) {
  TempDir dir;
  writeFile(dir.file("plain"), "a file, not a folder");
  EXPECT_THROW(writeFilesAtomically(dir.file("plain"), {{"x.txt", "one"}}), UserError);
  // A target that is a folder cannot be replaced by a file: the set fails
  // and the other file of the set is not written either.
  fs::create_directories(dir.file("out/y.txt"));
  EXPECT_THROW(writeFilesAtomically(dir.file("out"), {{"x.txt", "one"}, {"y.txt", "two"}}), UserError);
  EXPECT_FALSE(fs::exists(dir.file("out/x.txt")));
  std::size_t entries = 0;
  for (const auto& entry : fs::directory_iterator(dir.file("out"))) entries += !entry.path().filename().empty();
  EXPECT_EQ(entries, 1u);  // only the folder y.txt
}
