// Observation intake: exclusions, usable periods, counts, ranges, weights and
// the report lines.

#include <gtest/gtest.h>

#include <cmath>

#include "intake/observation_intake.h"
#include "support/run_builder.h"

namespace kurv {
namespace {

using testing::defaultArgs;
using testing::kHostMissing;
using testing::MemoryHost;
using testing::prepareTestRun;
using testing::setArg;

constexpr double M = kHostMissing;

// Three periods, outcomes y1-y3 then times t1-t3, plus `extra` columns.
std::vector<std::string> threePeriodArgs() {
  auto args = defaultArgs();
  setArg(args, 2, "3");
  return args;
}

TEST(Intake, ExclusionsUsablePeriodsAndCounts) {
  MemoryHost host;
  // y1 y2 y3 t1 t2 t3 risk weight
  host.data = {
      {1, 2, 3, 1, 2, 3, 0, 1},  // complete
      {1, 2, 3, 1, 2, 3, M, 1},  // missing risk: excluded
      {1, M, 3, 1, 2, 3, 1, 0},  // weight 0: excluded
      {M, 5, M, 1, 2, 3, 1, 2},  // one usable period
      {M, M, M, 1, 2, 3, 1, 1},  // no trajectory data
      {4, 4, 4, 1, 2, 3, 1, 1},  // not selected
  };
  host.selected = {true, true, true, true, true, false};
  host.setRowVector("kurv_mat_order1", {0});
  auto args = threePeriodArgs();
  setArg(args, 3, "1");
  setArg(args, 4, "1");
  auto ctx = prepareTestRun(host, args);
  ASSERT_TRUE(ctx) << host.errors;
  EXPECT_EQ(ctx->nExcluded, 3);
  EXPECT_EQ(ctx->nSubjects, 2);
  EXPECT_EQ(ctx->nMeasurements, 4);
  EXPECT_EQ(ctx->nNotExcluded, 3);
  EXPECT_EQ(std::vector<int>(ctx->excluded), (std::vector<int>{0, 1, 1, 0, 0, 1}));
  EXPECT_EQ(std::vector<int>(ctx->included), (std::vector<int>{1, 0, 0, 1, 1, 0}));
  EXPECT_EQ(ctx->risk[0][0][1], M);  // an excluded subject's values are still stored
  EXPECT_EQ(ctx->firstPeriod[3], 1);
  EXPECT_EQ(ctx->firstPeriod[4], -1);
  EXPECT_EQ(ctx->lastPeriod[3], 2);
  EXPECT_EQ(ctx->lastPeriod[0], 3);
  EXPECT_EQ(ctx->lastPeriod[4], 0);
  EXPECT_EQ(ctx->completeLength, 3);
  EXPECT_EQ(ctx->outVarBase, 9);
  // Valid weights 1, 2, 1, 1 (and 1 for the unselected subject) sum to 6 over
  // 6 observations: the scale is 1; the invalid weight was never added.
  EXPECT_DOUBLE_EQ(ctx->weight[3], 2.0);
  EXPECT_EQ(host.displayed.substr(host.displayed.find("6 observations")),
            "6 observations read.\n"
            "3 excluded by if condition, missing values in risk variables, or weights = 0.\n"
            "Of the remaining 3 observations, 1 had no trajectory data.\n"
            "2 observations used in trajectory model.\n"
            " \n");
  // Mean times over the subjects usable in each period.
  EXPECT_DOUBLE_EQ(ctx->meanTime[0][0], 1.0);
  EXPECT_EQ(ctx->periodN[0][1], 2.0);
}

TEST(Intake, WeightsAverageOneOverAllObservations) {
  MemoryHost host;
  host.data = {{1, 0, 2}, {2, 0, 4}, {3, 0, 0}, {4, 0, M}};
  host.setRowVector("kurv_mat_order1", {0});
  auto args = defaultArgs();
  setArg(args, 4, "1");
  auto ctx = prepareTestRun(host, args);
  ASSERT_TRUE(ctx);
  // Sum of valid weights 6 over 4 observations: each divided by 1.5.
  EXPECT_DOUBLE_EQ(ctx->weight[0], 2.0 / 1.5);
  EXPECT_DOUBLE_EQ(ctx->weight[1], 4.0 / 1.5);
  EXPECT_EQ(ctx->nExcluded, 2);
}

TEST(Intake, MissingCovariateMakesPeriodUnusable) {
  MemoryHost host;
  // y1 y2 t1 t2 c(1) c(2)
  host.data = {{1, 2, 0, 1, 5, M}, {3, 4, 0, 1, 5, 6}};
  host.setRowVector("kurv_mat_order1", {0});
  auto args = defaultArgs();
  setArg(args, 2, "2");
  setArg(args, 6, "2");
  auto ctx = prepareTestRun(host, args);
  ASSERT_TRUE(ctx);
  EXPECT_EQ(ctx->nMeasurements, 3);
  EXPECT_EQ(ctx->periodN[0][1], 1.0);
  // Usable outcomes 1, 3, 4: mean 8/3.
  const double mean = 8.0 / 3.0;
  const double sd = std::sqrt((1 + 9 + 16) / 3.0 - mean * mean);
  EXPECT_DOUBLE_EQ(ctx->ySd[0], sd);
  EXPECT_DOUBLE_EQ(ctx->yMin[0], mean - 2 * sd);
  EXPECT_DOUBLE_EQ(ctx->yMax[0], mean + 2 * sd);
}

TEST(Intake, RangesFallbacksAndLogitClamp) {
  {
    MemoryHost host;
    host.data = {{2, 0}, {2, 1}};
    host.setRowVector("kurv_mat_order1", {0});
    auto ctx = prepareTestRun(host, defaultArgs());
    ASSERT_TRUE(ctx);
    EXPECT_DOUBLE_EQ(ctx->ySd[0], 0.01);
    EXPECT_DOUBLE_EQ(ctx->yMin[0], 2 - 0.02);
  }
  {
    MemoryHost host;
    for (int i = 0; i < 10; ++i) host.data.push_back({i < 9 ? 1.0 : 0.0, 0.0});
    host.setRowVector("kurv_mat_order1", {0});
    auto args = defaultArgs();
    setArg(args, 1, "logit");
    auto ctx = prepareTestRun(host, args);
    ASSERT_TRUE(ctx);
    EXPECT_DOUBLE_EQ(ctx->yMax[0], 1.0);  // 0.9 + 2*0.3 clamped
    EXPECT_NEAR(ctx->yMin[0], 0.3, 1e-15);
  }
}

TEST(Intake, OutcomeAnalysisRangeOnLogScale) {
  MemoryHost host;
  // y t outcome
  host.data = {{1, 0, 1}, {2, 0, 3}, {3, 0, M}};
  host.setRowVector("kurv_mat_order1", {0});
  auto args = defaultArgs();
  setArg(args, 16, "poisson");
  auto ctx = prepareTestRun(host, args);
  ASSERT_TRUE(ctx);
  const double mean = std::log(2.0), sd = std::log(1.0);
  EXPECT_DOUBLE_EQ(ctx->outcomeSd, sd);
  EXPECT_DOUBLE_EQ(ctx->outcomeMin, mean - 2 * sd);
  EXPECT_DOUBLE_EQ(ctx->outcomeMax, mean + 2 * sd);
}

TEST(Intake, ReportVariants) {
  struct Case {
    bool weights;
    int risk;
    bool exclude;
    const char* line;
  };
  const Case cases[] = {
      {false, 0, true, "1 excluded by if condition.\n"},
      {false, 1, true, "1 excluded by if condition or by missing values in risk variables.\n"},
      {true, 0, true, "1 excluded by if condition, missing values in risk variables, or weights = 0.\n"},
      {false, 0, false, "1 had no trajectory data.\n"},
  };
  for (const Case& c : cases) {
    MemoryHost host;
    host.data = {{1, 0}, {2, 1}, {M, 2}};
    for (auto& row : host.data) {
      for (int r = 0; r < c.risk; ++r) row.push_back(0.0);
      if (c.weights) row.push_back(1.0);
    }
    host.selected = {true, !c.exclude, true};
    host.setRowVector("kurv_mat_order1", {0});
    auto args = defaultArgs();
    setArg(args, 3, std::to_string(c.risk));
    setArg(args, 4, c.weights ? "1" : "0");
    auto ctx = prepareTestRun(host, args);
    ASSERT_TRUE(ctx);
    EXPECT_NE(host.displayed.find(c.line), std::string::npos) << c.line << host.displayed;
    if (!c.exclude) {
      EXPECT_EQ(host.displayed.find("excluded"), std::string::npos);
    }
  }
}

TEST(Intake, DropoutCompleteLengthLine) {
  MemoryHost host;
  host.data = {{1, 2, M, 0, 1, 2}, {1, M, M, 0, 1, 2}};
  host.setRowVector("kurv_mat_order1", {0});
  host.setRowVector("kurv_mat_dropoutorder1", {0});
  auto args = threePeriodArgs();
  setArg(args, 13, "1");
  auto ctx = prepareTestRun(host, args);
  ASSERT_TRUE(ctx);
  EXPECT_EQ(ctx->completeLength, 2);
  const std::string tail = "2 observations used in trajectory model.\n \nComplete data length is 2 for dropout model. \n";
  EXPECT_EQ(host.displayed.substr(host.displayed.size() - tail.size()), tail);
}

TEST(Intake, JointModelReadsSecondModelColumns) {
  MemoryHost host;
  // model 1: y t ; risk1 ; model 2: y2a y2b t2a t2b ; risk2
  host.data = {{1, 0, 5, 10, 20, 0, 1, 7}, {2, 0, 5, 30, M, 0, 1, 7}, {3, 0, 5, 40, 40, 0, 1, M}};
  host.setRowVector("kurv_mat_order1", {0});
  host.setRowVector("kurv_mat_order2", {0});
  auto args = defaultArgs();
  setArg(args, 3, "1");
  setArg(args, 18, "cnorm");
  setArg(args, 19, "2");
  setArg(args, 20, "1");
  setArg(args, 23, "1");
  auto ctx = prepareTestRun(host, args);
  ASSERT_TRUE(ctx) << host.errors;
  EXPECT_EQ(ctx->nExcluded, 1);  // model 2's risk is missing for the third
  EXPECT_EQ(ctx->nMeasurements, 2 + 3);
  EXPECT_EQ(ctx->outcomeY[1][1][0], 20.0);
  const double mean = 20.0;
  EXPECT_DOUBLE_EQ(ctx->ySd[1], std::sqrt((100 + 400 + 900) / 3.0 - mean * mean));
  EXPECT_EQ(ctx->outVarBase, 9);
}

}  // namespace
}  // namespace kurv
