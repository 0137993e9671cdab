// `kurv fit --multgroups`: the same fit as the engine run by hand through
// the test host, with the --if selection honoured by the engine (every row
// handed over, the deselected ones excluded and left without posteriors),
// one plot file per component and one picture panel per component in the
// same group colours.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "cli/csv_reader.h"
#include "cli/simulate.h"
#include "cli/user_error.h"
#include "cli_support.h"
#include "plugin/run_command.h"
#include "support/csv_data.h"
#include "support/memory_host.h"

using namespace kurv::cli;
using namespace kurv::cli::testing;
using nlohmann::json;

TEST(MultiFitEndToEnd, SameFitAsTheEngineWithTheSelectionPlotsAndPanels) {
  // tests/fixtures/fits/multi_mixed.csv (make_multi_fits.R): a normal, a
  // binary and a count outcome of four periods each, every one with its own
  // time columns; every tenth row is deselected.
  const std::string source = std::string(KURV_FIXTURE_DIR) + "/fits/multi_mixed.csv";
  const auto data = kurv::testing::readNumericCsv(source);
  TempDir dir;
  {
    std::ofstream out(dir.file("m.csv"));
    for (const auto& name : data.names) out << name << ",";
    out << "keep\n";
    for (std::size_t r = 0; r < data.rows.size(); ++r) {
      for (double v : data.rows[r]) out << v << ",";
      out << (r % 10 == 0 ? 0 : 1) << "\n";
    }
  }
  const auto rows = kurv::testing::readNumericCsv(dir.file("m.csv")).rows;
  kurv::testing::MemoryHost host;
  for (const auto& row : rows) {
    host.data.emplace_back(row.begin(), row.begin() + 24);
    host.selected.push_back(row[24] != 0);
  }
  for (const char* name : {"kurv_mat_order1", "kurv_mat_order2", "kurv_mat_order3"}) host.setRowVector(name, {1, 1});
  const int n = 14;
  for (const auto& [name, r, c] : {std::tuple{"parmData", 1, n}, {"varData", n, n}, {"groupPct1", 1, 2},
                                   {"groupPct2", 1, 2}, {"groupPct3", 1, 2}, {"outPlot1", 4, 9}, {"outPlot2", 4, 9},
                                   {"outPlot3", 4, 9}})
    host.createMatrix(name, r, c);
  const char* args[39] = {"cnorm", "4", "0", "0", "0", "0", "0", "2", "-100", "100", "0", "0", "0", "0", "0", "none",
                          "0", "logit", "4", "0", "0", "0", "2", "0", "0", "0", "0", "poisson", "4", "2", "0", "0",
                          "0", "2", "0", "0", "0", "0", "0"};
  kurv::RunSummary reference;
  ASSERT_EQ(kurv::runCommand(host, 39, args, &reference), 0) << host.errors;
  ASSERT_TRUE(reference.fitted) << host.stdoutText;

  const CliRun cli = runKurv("fit @m.csv --multgroups 2 --var n1-n4 --indep t1-t4 --model cnorm --min -100 --max 100"
                             " --order 1 1 --var2 b1-b4 --indep2 u1-u4 --model2 logit --order2 1 1 --var3 p1-p4"
                             " --indep3 v1-v4 --model3 poisson --order3 1 1 --if keep --out @out", &dir);
  ASSERT_EQ(cli.code, 0) << cli.err;
  EXPECT_EQ(cli.out, host.displayed);
  EXPECT_NE(cli.out.find("15 excluded by if condition.\n135 observations used"), std::string::npos) << cli.out;

  const json fit = json::parse(readFile(dir.file("out/fit.json")));
  EXPECT_EQ(fit["loglik"], reference.logLikelihood);
  EXPECT_EQ(fit["n_params"], n);
  EXPECT_EQ(fit["covariance"], json(host.matrices["varData"]));
  json estimates;
  for (const json& row : fit["estimates"]) estimates.push_back(row["estimate"]);
  EXPECT_EQ(estimates, json(host.matrices["parmData"][0]));
  // Every component shows the shared shares.
  ASSERT_EQ(fit["group_pct"].size(), 3u);
  EXPECT_TRUE(fit["group_pct"][1] == fit["group_pct"][0] && fit["group_pct"][2] == fit["group_pct"][0]);
  for (int m = 0; m < 3; ++m) {
    const std::string name = "plot" + std::to_string(m + 1);
    const DataTable plot = readCsvFile(dir.file("out/" + name + ".csv"));
    for (int t = 0; t < 4; ++t)
      for (int c = 0; c < 9; ++c)
        EXPECT_EQ(plot.values[c][t], host.matrices["outPlot" + std::to_string(m + 1)][t][c]) << name;
  }
  const DataTable post = readCsvFile(dir.file("out/posteriors.csv"));
  ASSERT_EQ(post.rowCount(), rows.size());
  for (std::size_t i = 0; i < rows.size(); ++i) {
    EXPECT_EQ(isMissing(post.values[1][i]), rows[i][24] == 0) << i;
    EXPECT_EQ(post.values[2][i], isMissing(post.values[1][i]) ? kMissing : host.data[i][25]) << i;
  }
  // One panel per component; each group keeps its colour in every panel.
  const std::string svg = readFile(dir.file("out/trajectories.svg"));
  EXPECT_EQ(xmlError(svg), "");
  for (const char* title : {"Model 1 (cnorm)", "Model 2 (logit)", "Model 3 (poisson)"})
    EXPECT_NE(svg.find(title), std::string::npos) << title;
  const std::size_t second = svg.find("Model 2 (logit)"), third = svg.find("Model 3 (poisson)");
  const std::string panels[] = {svg.substr(0, second), svg.substr(second, third - second), svg.substr(third)};
  for (const std::string& panel : panels)
    EXPECT_EQ(matches(panel, "<polyline[^>]*stroke=\"#0072B2\""), matches(panels[0], "<polyline[^>]*stroke=\"#0072B2\""));
  EXPECT_GT(matches(panels[2], "stroke=\"#D55E00\""), 0);
}

// Further outcomes share the subject's group and draw from their own
// stream: the first outcome's data for a seed stay as they were.
TEST(MultiSimulate, OutcomesShareTheGroupAndLeaveTheFirstOutcomeAsItWas) {
  SimulateOptions o{.model = "cnorm", .groups = {"50:0", "50:10"}, .times = {"1 2 3"}, .n = "2000", .seed = "3",
                    .min = "", .max = "", .out = ""};
  const DataTable alone = simulate(parseSimulation(o));
  o.model2 = "logit", o.traj2 = {"-3", "3"}, o.model3 = "poisson", o.traj3 = {"0", "2"};
  const DataTable t = simulate(parseSimulation(o));
  ASSERT_EQ(t.names, words("id y1 y2 y3 t1 t2 t3 v1 v2 v3 w1 w2 w3 group"));
  for (std::size_t c = 0; c < 7; ++c) EXPECT_EQ(t.values[c], alone.values[c]) << c;
  EXPECT_EQ(t.values[13], alone.values[7]);
  // The binary outcome follows the group: P(1) = 0.047 in group 1, 0.953 in group 2.
  double agree = 0;
  for (std::size_t i = 0; i < t.rowCount(); ++i) agree += t.values[7][i] == t.values[13][i] - 1.0;
  EXPECT_GT(agree / t.rowCount(), 0.9);
  o.traj3 = {"1"};
  EXPECT_THROW(parseSimulation(o), UserError);
}
