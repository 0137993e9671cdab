// Joint data from `kurv simulate` and their fit by `kurv fit`: the fit
// recovers the conditional probabilities of the simulation; its files carry
// model 2 (shares, conditional and joint percentages, posteriors, plot series
// and a second picture panel). The simulation's option errors are in
// fixtures/cli/user_errors.txt.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "cli/csv_reader.h"
#include "cli_support.h"

namespace kurv::cli {
namespace {

using namespace kurv::cli::testing;

constexpr const char* kSimulation =
    "simulate --model cnorm --groups 50:2,1 50:6,0.5 --times 0 1 2 3 4 --sigma 1.5 --model2 logit "
    "--groups2 -2,0.3 1,-0.2 --cond 0.8,0.2 0.3,0.7 --n 400 --seed 5 --missing 0.05 --out @joint.csv";

TEST(JointData, SecondOutcomeGroupsFollowTheConditionalProbabilitiesAndTheFitRecoversThem) {
  TempDir dir;
  ASSERT_EQ(runKurv(kSimulation, &dir).code, 0);
  const std::string csv = readFile(dir.file("joint.csv"));
  EXPECT_EQ(csv.substr(0, csv.find('\n')), "id,y1,y2,y3,y4,y5,t1,t2,t3,t4,t5,group,z1,z2,z3,z4,z5,group2");

  const CliRun fit = runKurv("fit @joint.csv --var y1-y5 --indep t1-t5 --model cnorm --order 1 1 --min -100 --max 100 "
                             "--var2 z1-z5 --indep2 t1-t5 --model2 logit --order2 1 1 --id id --out @res",
                             &dir);
  ASSERT_EQ(fit.code, 0) << fit.err;
  const auto j = nlohmann::json::parse(readFile(dir.file("res/fit.json")));
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

}  // namespace
}  // namespace kurv::cli
