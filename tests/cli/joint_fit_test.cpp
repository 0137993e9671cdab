// Joint data from `kurv simulate` and their fit by `kurv fit`: the fit
// recovers the conditional probabilities of the simulation; its files carry model 2 (shares, conditional and joint
// percentages, posteriors, plot series and a second picture panel).
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
  EXPECT_EQ(j["estimates"][11]["name"], "m2theta2g2");
  // The conditional shares are the simulation's within sampling error; the
  // joint shares are P(j) P(k | j) and sum to 100 like model 2's marginals
  // sum_j P(j) P(k | j).
  EXPECT_NEAR(j["conditional_pct"][0][0].get<double>(), 80, 8);
  EXPECT_NEAR(j["conditional_pct"][1][0].get<double>(), 30, 8);
  double total = 0;
  for (int g = 0; g < 2; ++g)
    for (int k = 0; k < 2; ++k) {
      const double pair = j["joint_pct"][g][k].get<double>();
      EXPECT_NEAR(pair, j["conditional_pct"][g][k].get<double>() * j["group_pct"][0][g].get<double>() / 100, 1e-9);
      total += pair;
    }
  EXPECT_NEAR(total, 100, 1e-9);
  for (int k = 0; k < 2; ++k)
    EXPECT_NEAR(j["group_pct"][1][k].get<double>(), j["joint_pct"][0][k].get<double>() + j["joint_pct"][1][k].get<double>(), 1e-9);

  // posteriors.csv: both models' groups and probabilities, each set summing to 1.
  const std::string posteriors = readFile(dir.file("res/posteriors.csv"));
  EXPECT_EQ(posteriors.substr(0, posteriors.find('\n')), "id,group,prob1,prob2,group_model2,prob1_model2,prob2_model2");
  std::istringstream rows(posteriors);
  std::string line;
  std::getline(rows, line);
  int subjects = 0;
  while (std::getline(rows, line)) {
    double v[7];
    ASSERT_EQ(std::sscanf(line.c_str(), "%lf,%lf,%lf,%lf,%lf,%lf,%lf", v, v + 1, v + 2, v + 3, v + 4, v + 5, v + 6), 7) << line;
    EXPECT_NEAR(v[2] + v[3], 1, 1e-12);
    EXPECT_NEAR(v[5] + v[6], 1, 1e-12);
    EXPECT_EQ(v[4], v[6] > v[5] ? 2 : 1);
    ++subjects;
  }
  EXPECT_EQ(subjects, 400);
  const std::string plot2 = readFile(dir.file("res/plot2.csv"));
  EXPECT_EQ(plot2.substr(0, plot2.find('\n')), "time,observed1,observed2,predicted1,predicted2,lower1,upper1,lower2,upper2");
  EXPECT_EQ(matches(plot2, "\n"), 6);
  const std::string svg = readFile(dir.file("res/trajectories.svg"));
  EXPECT_EQ(matches(svg, "Model 1 \\(cnorm\\)"), 1);
  EXPECT_EQ(matches(svg, "Model 2 \\(logit\\)"), 1);
}

TEST(JointData, SimulationOptionsOfTheSecondOutcomeAreChecked) {
  TempDir dir;
  const std::pair<const char*, const char*> cases[] = {
      {"--model2 probit --groups2 1 --cond 1 1", "kurv: --model2: 'probit' is not cnorm, logit, zip or poisson\n"},
      {"--model2 logit --groups2 1 2 --cond 1,-1 1,0", "kurv: --cond: '1,-1' needs 2 probabilities of at least 0 with a positive sum\n"},
      {"--model2 logit --groups2 1 --cond 1", "kurv: --cond needs one row per group of --groups (2)\n"},
      {"--groups2 1 --cond 1 1", "kurv: --groups2 and --cond need --model2\n"},
  };
  for (const auto& [options, message] : cases) {
    const CliRun r = runKurv(std::string("simulate --model cnorm --groups 50:1 50:2 --times 0 1 --n 5 --seed 1 --out @x.csv ") +
                                 options, &dir);
    EXPECT_EQ(r.code, 1) << options;
    EXPECT_EQ(r.err, message);
  }
  EXPECT_FALSE(std::filesystem::exists(dir.file("x.csv")));
}

}  // namespace
}  // namespace kurv::cli
