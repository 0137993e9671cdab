// The model families through `kurv fit` and `kurv simulate` (their option
// errors are in fixtures/cli/user_errors.txt). --multgroups: the --if selection
// applied by the engine, one plot file and one picture panel per component in
// the same group colours; simulated data with several outcomes. Joint data: the
// fit recovers the conditional probabilities of the simulation; its files carry
// model 2. --rorder: a random-effects fit written to its files.
#include <gtest/gtest.h>

#include "cli/csv_reader.h"
#include "cli/simulate.h"
#include "cli/user_error.h"
#include "cli_support.h"

TEST(MultiFitEndToEnd, TheEngineAppliesTheSelectionAndEachComponentHasItsPlotAndPanel) {
  // tests/fixtures/fits/multi_mixed.csv (make_multi_fits.R): a normal, a
  // binary and a count outcome of four periods each, every one with its own
  // time columns; every tenth row is deselected.
  TempDir dir;
  std::istringstream in(readFile(std::string(KURV_FIXTURE_DIR) + "/fits/multi_mixed.csv"));
  std::ofstream out(dir.file("m.csv"));
  int row = -1;  // the header
  for (std::string line; std::getline(in, line); ++row) out << line << (row < 0 ? ",keep" : row % 10 ? ",1" : ",0") << "\n";
  out.close();
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
  ASSERT_EQ(post.rowCount(), 150u);
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

TEST(JointData, SecondOutcomeGroupsFollowTheConditionalProbabilitiesAndTheFitRecoversThem) {
  TempDir dir;
  ASSERT_EQ(runKurv("simulate --model cnorm --groups 50:2,1 50:6,0.5 --times 0 1 2 3 4 --sigma 1.5 --model2 logit "
                    "--groups2 -2,0.3 1,-0.2 --cond 0.8,0.2 0.3,0.7 --n 400 --seed 5 --missing 0.05 --out @joint.csv",
                    &dir).code, 0);
  const std::string csv = readFile(dir.file("joint.csv"));
  EXPECT_EQ(csv.substr(0, csv.find('\n')), "id,y1,y2,y3,y4,y5,t1,t2,t3,t4,t5,group,z1,z2,z3,z4,z5,group2");

  const CliRun fit = runKurv("fit @joint.csv --var y1-y5 --indep t1-t5 --model cnorm --order 1 1 --min -100 --max 100 "
                             "--var2 z1-z5 --indep2 t1-t5 --model2 logit --order2 1 1 --id id --out @res",
                             &dir);
  ASSERT_EQ(fit.code, 0) << fit.err;
  const auto j = json::parse(readFile(dir.file("res/fit.json")));
  ASSERT_EQ(j["group_pct"].size(), 2u);
  ASSERT_EQ(j["estimates"].size(), 12u);
  // The conditional shares are the simulation's within sampling error; the
  // joint shares P(j) P(k | j), whose sums over j are model 2's marginals.
  EXPECT_NEAR(j["conditional_pct"][0][0].get<double>(), 80, 8);
  EXPECT_NEAR(j["conditional_pct"][1][0].get<double>(), 30, 8);
  for (int g = 0; g < 2; ++g)
    for (int k = 0; k < 2; ++k)
      EXPECT_NEAR(j["joint_pct"][g][k].get<double>(),
                  j["conditional_pct"][g][k].get<double>() * j["group_pct"][0][g].get<double>() / 100, 1e-9);
  EXPECT_NEAR(j["group_pct"][1][0].get<double>(), j["joint_pct"][0][0].get<double>() + j["joint_pct"][1][0].get<double>(), 1e-9);

  // posteriors.csv: both models' groups and probabilities, each set summing to 1.
  const DataTable post = readCsvFile(dir.file("res/posteriors.csv"));
  ASSERT_EQ(post.names, words("id group prob1 prob2 group_model2 prob1_model2 prob2_model2"));
  ASSERT_EQ(post.rowCount(), 400u);
  for (std::size_t i = 0; i < 400; ++i) {
    EXPECT_NEAR(post.values[2][i] + post.values[3][i], 1, 1e-12);
    EXPECT_NEAR(post.values[5][i] + post.values[6][i], 1, 1e-12);
    EXPECT_EQ(post.values[4][i], post.values[6][i] > post.values[5][i] ? 2 : 1);
  }
  EXPECT_EQ(readCsvFile(dir.file("res/plot2.csv")).values[0], (std::vector<double>{0, 1, 2, 3, 4}));
  const std::string svg = readFile(dir.file("res/trajectories.svg"));
  EXPECT_EQ(matches(svg, "Model 1 \\(cnorm\\)") + matches(svg, "Model 2 \\(logit\\)"), 2);
}

TEST(RandomEffectsFit, WritesEstimatesAndPlotSeries) {
  TempDir dir;
  const CliRun run = runKurv("fit #../randomeffects/two_groups.csv --var y1-y5 --indep t1-t5 --order 1 1 --rorder 1 0"
                             " --model cnorm --min 0 --max 7 --out " + dir.path);
  ASSERT_EQ(run.code, 0) << run.err;
  const std::string json = readFile(dir.file("fit.json"));
  EXPECT_EQ(matches(json, "\"name\": ?\"(rSigmag1|rSigma1g1|rSigmag2)\""), 3) << json.substr(0, 400);
  // The header and one row per period.
  EXPECT_EQ(matches(readFile(dir.file("plot1.csv")), "\n"), 6);
}
