// `kurv fit --multgroups`: the --if selection applied by the engine (every
// row handed over, the deselected ones excluded and left without
// posteriors), one plot file and one picture panel per component in the
// same group colours; `kurv simulate` with several outcomes.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "cli/csv_reader.h"
#include "cli/simulate.h"
#include "cli/user_error.h"
#include "cli_support.h"
#include "support/csv_data.h"

using namespace kurv::cli;
using namespace kurv::cli::testing;
using nlohmann::json;

TEST(MultiFitEndToEnd, TheEngineAppliesTheSelectionAndEachComponentHasItsPlotAndPanel) {
  // tests/fixtures/fits/multi_mixed.csv (make_multi_fits.R): a normal, a
  // binary and a count outcome of four periods each, every one with its own
  // time columns; every tenth row is deselected.
  const auto data = kurv::testing::readNumericCsv(std::string(KURV_FIXTURE_DIR) + "/fits/multi_mixed.csv");
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
  const CliRun cli = runKurv("fit @m.csv --multgroups 2 --var n1-n4 --indep t1-t4 --model cnorm --min -100 --max 100"
                             " --order 1 1 --var2 b1-b4 --indep2 u1-u4 --model2 logit --order2 1 1 --var3 p1-p4"
                             " --indep3 v1-v4 --model3 poisson --order3 1 1 --if keep --out @out", &dir);
  ASSERT_EQ(cli.code, 0) << cli.err;
  EXPECT_NE(cli.out.find("150 observations read.\n15 excluded by if condition.\n135 observations used"),
            std::string::npos) << cli.out;
  const json fit = json::parse(readFile(dir.file("out/fit.json")));
  EXPECT_EQ(fit["n_subjects"], 135);
  ASSERT_EQ(fit["group_pct"].size(), 3u);  // the shared shares, once per component
  EXPECT_TRUE(fit["group_pct"][1] == fit["group_pct"][0] && fit["group_pct"][2] == fit["group_pct"][0]);
  for (const char* name : {"plot1.csv", "plot2.csv", "plot3.csv"})
    EXPECT_EQ(readCsvFile(dir.file("out/") + name).values[0], (std::vector<double>{0, 1, 2, 3})) << name;
  const DataTable post = readCsvFile(dir.file("out/posteriors.csv"));
  ASSERT_EQ(post.rowCount(), data.rows.size());
  for (std::size_t i = 0; i < post.rowCount(); ++i) EXPECT_EQ(isMissing(post.values[1][i]), i % 10 == 0) << i;
  // One panel per component; each group keeps its colour in every panel.
  const std::string svg = readFile(dir.file("out/trajectories.svg"));
  EXPECT_EQ(xmlError(svg), "");
  const std::size_t second = svg.find("Model 2 (logit)"), third = svg.find("Model 3 (poisson)");
  ASSERT_TRUE(svg.find("Model 1 (cnorm)") < second && second < third && third != std::string::npos);
  for (const std::string& panel : {svg.substr(0, second), svg.substr(second, third - second), svg.substr(third)})
    for (const char* colour : {"#0072B2", "#D55E00"})
      EXPECT_EQ(matches(panel, std::string("<polyline[^>]*stroke=\"") + colour), 1) << colour;
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
