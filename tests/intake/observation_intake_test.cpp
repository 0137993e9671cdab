// Observation intake, single, joint and multi-trajectory: exclusion rules,
// usable periods, counts, start-value ranges, weight normalisation and the
// report lines.

#include <gtest/gtest.h>

#include <cmath>

#include "intake/observation_intake.h"
#include "support/run_builder.h"

namespace kurv {
namespace {

constexpr double M = testing::kHostMissing;

// A run of `data` with the arguments `set` (position, value) over the defaults.
std::unique_ptr<ModelContext> intake(testing::MemoryHost& host, std::vector<std::vector<double>> data,
                                     testing::ArgChanges set, std::vector<bool> selected = {}) {
  host.data = std::move(data);
  host.selected = std::move(selected);
  for (const char* name : {"kurv_mat_order1", "kurv_mat_order2", "kurv_mat_order3", "kurv_mat_dropoutorder1"})
    host.setRowVector(name, {0});
  auto ctx = testing::prepareTestRun(host, testing::argsWith(set));
  EXPECT_TRUE(ctx) << host.errors;
  return ctx;
}

// Excluded subjects, subjects used, usable measurements, first variable after the data.
std::vector<int> counts(const ModelContext& ctx) {
  return {ctx.nExcluded, ctx.nSubjects, ctx.nMeasurements, ctx.outVarBase};
}

TEST(Intake, ExclusionsUsablePeriodsCountsAndReport) {
  testing::MemoryHost host;
  // y1 y2 y3 t1 t2 t3 risk weight
  auto ctx = intake(host,
                    {{1, 2, 3, 1, 2, 3, 0, 1},   // complete
                     {1, 2, 3, 1, 2, 3, M, 1},   // missing risk: excluded
                     {1, M, 3, 1, 2, 3, 1, 0},   // weight 0: excluded
                     {M, 5, M, 1, 2, 3, 1, 2},   // one usable period
                     {M, M, M, 1, 2, 3, 1, 1},   // no trajectory data
                     {4, 4, 4, 1, 2, 3, 1, 1},   // not selected
                     {1, 2, 3, 1, 2, 3, 1, M}},  // missing weight: excluded
                    {{2, "3"}, {3, "1"}, {4, "1"}}, {true, true, true, true, true, false, true});
  ASSERT_TRUE(ctx);
  EXPECT_EQ(counts(*ctx), (std::vector<int>{4, 2, 4, 9}));
  EXPECT_EQ(ctx->nNotExcluded, 3);
  EXPECT_EQ(ctx->completeLength, 3);
  EXPECT_EQ(std::vector<int>(ctx->excluded), (std::vector<int>{0, 1, 1, 0, 0, 1, 1}));
  EXPECT_EQ(std::vector<int>(ctx->included), (std::vector<int>{1, 0, 0, 1, 1, 0, 0}));
  // First and last observed periods of subjects 0, 3 and 4, and the counts per period.
  EXPECT_EQ((std::vector<int>{ctx->firstPeriod[0], ctx->firstPeriod[3], ctx->firstPeriod[4]}), (std::vector<int>{0, 1, -1}));
  EXPECT_EQ((std::vector<int>{ctx->lastPeriod[0], ctx->lastPeriod[3], ctx->lastPeriod[4]}), (std::vector<int>{3, 2, 0}));
  EXPECT_EQ(ctx->periodN[0], (std::vector<double>{1, 2, 1}));
  EXPECT_DOUBLE_EQ(ctx->meanTime[0][1], 2.0);
  EXPECT_EQ(host.displayed.substr(host.displayed.find("7 observations")),
            "7 observations read.\n"
            "4 excluded by if condition, missing values in risk variables, or weights = 0.\n"
            "Of the remaining 3 observations, 1 had no trajectory data.\n"
            "2 observations used in trajectory model.\n \n");
  // Weights are scaled to average 1 over all observations: the valid weights
  // 1, 2, 1, 1, 1 (the unselected and the missing-risk subject's count) sum
  // to 6 over 7 observations. When none is valid (read again directly: the
  // run itself would stop for want of data) nothing is scaled.
  EXPECT_DOUBLE_EQ(ctx->weight[3], 2.0 * 7.0 / 6.0);
  const std::vector<double> before = ctx->weight;
  for (auto& row : host.data) row.back() = 0.0;
  readObservations(*ctx);
  EXPECT_EQ(ctx->nExcluded, 7);
  EXPECT_EQ(ctx->weight, before);
}

// Start-value ranges: mean -+ 2 sd of the usable outcomes (population sd,
// 0.01 when it is 0); LOGIT uses the binomial sd and stays within [0, 1]; the
// outcome analysis the same on the log scale (Poisson) or the logit scale.
TEST(Intake, StartValueRanges) {
  const double sd = std::sqrt(26.0 / 3 - 64.0 / 9), p = std::sqrt(0.1875);  // of 1, 3, 4; of 0, 1, 1, 1
  struct Case { std::vector<std::pair<int, std::string>> set; std::vector<std::vector<double>> data; double sd, low, high; };
  const Case cases[] = {
      // y1 y2 t1 t2 c1 c2: the covariate missing in period 2 of subject 1
      {{{2, "2"}, {6, "2"}}, {{1, 2, 0, 1, 5, M}, {3, 4, 0, 1, 5, 6}}, sd, 8.0 / 3 - 2 * sd, 8.0 / 3 + 2 * sd},
      {{}, {{2, 0}, {2, 1}}, 0.01, 1.98, 2.02},
      {{{1, "logit"}}, {{1, 0}, {1, 0}, {1, 0}, {1, 0}, {1, 0}, {1, 0}, {1, 0}, {1, 0}, {1, 0}, {0, 0}}, 0.3, 0.3, 1.0},
      {{{1, "logit"}}, {{0, 0}, {0, 0}, {0, 0}, {0, 0}, {0, 0}, {0, 0}, {0, 0}, {0, 0}, {0, 0}, {1, 0}}, 0.3, 0.0, 0.7},
      {{{16, "poisson"}}, {{1, 0, 1}, {2, 0, 5}, {3, 0, M}}, std::log(2), std::log(3 / 4.0), std::log(12)},
      {{{16, "logit"}}, {{1, 0, 1}, {2, 0, 0}, {3, 0, 1}, {4, 0, 1}}, std::log(p / (1 - p)),
       std::log(3) - 2 * std::log(p / (1 - p)), std::log(3) + 2 * std::log(p / (1 - p))},
  };
  for (const Case& c : cases) {
    testing::MemoryHost host;
    auto ctx = intake(host, c.data, c.set);
    const bool outcome = ctx->hasOutcome;
    EXPECT_NEAR(outcome ? ctx->outcomeSd : ctx->ySd[0], c.sd, 1e-15) << c.data.size();
    EXPECT_NEAR(outcome ? ctx->outcomeMin : ctx->yMin[0], c.low, 1e-15) << c.data.size();
    EXPECT_NEAR(outcome ? ctx->outcomeMax : ctx->yMax[0], c.high, 1e-15) << c.data.size();
  }
}

TEST(Intake, ReportLines) {
  struct Case { bool risk, exclude, dropout; const char* line; };
  const Case cases[] = {
      {false, true, false, "1 excluded by if condition.\n"},
      {true, true, false, "1 excluded by if condition or by missing values in risk variables.\n"},
      {false, false, false, "3 observations read.\n1 had no trajectory data.\n"},
      {false, false, true, "2 observations used in trajectory model.\n \nComplete data length is 2 for dropout model. \n"},
  };
  for (const Case& c : cases) {
    testing::MemoryHost host;
    std::vector<std::vector<double>> data = {{1, 2, M, 0, 1, 2}, {1, M, M, 0, 1, 2}, {M, M, M, 0, 1, 2}};
    for (auto& row : data) row.insert(row.end(), c.risk, 1.0);
    intake(host, data, {{2, "3"}, {3, c.risk ? "1" : "0"}, {13, c.dropout ? "1" : "0"}}, {true, !c.exclude, true});
    EXPECT_NE(host.displayed.find(c.line), std::string::npos) << host.displayed;
    EXPECT_EQ(host.displayed.find("excluded") != std::string::npos, c.exclude) << host.displayed;
    EXPECT_EQ(host.displayed.find("Complete") != std::string::npos, c.dropout) << host.displayed;
  }
}

TEST(Intake, JointModelReadsSecondModelColumns) {
  testing::MemoryHost host;
  // model 1: y t ; risk1 ; model 2: y2a y2b t2a t2b ; risk2
  auto ctx = intake(host, {{1, 0, 5, 10, 20, 0, 1, 7}, {2, 0, 5, 30, M, 0, 1, 7}, {3, 0, 5, 40, 40, 0, 1, M}},
                    {{3, "1"}, {18, "cnorm"}, {19, "2"}, {20, "1"}, {23, "1"}});
  ASSERT_TRUE(ctx);
  // Model 2's risk is missing for the third: excluded; 2 + 3 measurements.
  EXPECT_EQ(counts(*ctx), (std::vector<int>{1, 2, 5, 9}));
  EXPECT_EQ(ctx->outcomeY[1][1][0], 20.0);
  EXPECT_DOUBLE_EQ(ctx->ySd[1], std::sqrt((100 + 400 + 900) / 3.0 - 400));
  EXPECT_DOUBLE_EQ(ctx->yMin[1], 20 - 2 * ctx->ySd[1]);
}

// The text shown from the intake's first line on (preparation shows a banner before it).
std::string intakeReport(const testing::MemoryHost& host) {
  return host.displayed.substr(host.displayed.find(" \n", host.displayed.find("built")) + 0);
}

TEST(MultiIntake, SelectionWeightsUsablePeriodsCountsAndReport) {
  testing::MemoryHost host;
  // Component 1 (cnorm, 2 periods): y y t t weight; component 2 (logit, 2
  // periods, one covariate): y y t t c c.
  auto ctx = intake(host,
                         {{1, 3, 0, 1, 1, /**/ 0, 1, 0, 1, 0.5, 0.5},   // everything usable
                          {2, M, 0, 1, 2, /**/ 1, 1, 0, 1, M, 0.5},     // one period each
                          {5, 5, 0, 1, 0, /**/ 1, 1, 0, 1, 0, 0},       // weight 0: excluded
                          {4, 4, 0, 1, 1, /**/ 0, 0, 0, 1, 0, 0},       // not selected: excluded
                          {M, M, 0, 1, 3, /**/ M, M, 0, 1, 0, 0}},      // no data, takes part
                         {{2, "2"}, {4, "1"}, {18, "logit"}, {19, "2"}, {22, "2"}, {23, "1"}, {34, "1"}},
                         {true, true, true, false, true});
  ASSERT_TRUE(ctx);
  EXPECT_EQ(ctx->excluded, (std::vector<int>{0, 0, 1, 1, 0}));
  EXPECT_EQ(ctx->included, (std::vector<int>{1, 1, 0, 0, 1}));
  EXPECT_EQ(counts(*ctx), (std::vector<int>{2, 2, 6, 12}));
  // Component 1 outcomes 1, 3, 2; component 2 outcomes 0, 1, 1.
  EXPECT_NEAR(ctx->ySd[0], std::sqrt(2.0 / 3.0), 1e-15);
  EXPECT_NEAR(ctx->yMin[0], 2.0 - 2.0 * std::sqrt(2.0 / 3.0), 1e-15);
  EXPECT_NEAR(ctx->yMax[1], 2.0 / 3.0 + 2.0 * std::sqrt(2.0 / 9.0), 1e-15);
  EXPECT_EQ(ctx->meanTime[0], (std::vector<double>{0.0, 1.0}));
  EXPECT_EQ(ctx->periodN[1], (std::vector<double>{1.0, 2.0}));
  // Weights 1, 2, 3 of the subjects that take part average 1.
  EXPECT_EQ((std::vector<double>{ctx->weight[0], ctx->weight[1], ctx->weight[4]}), (std::vector<double>{0.5, 1.0, 1.5}));
  EXPECT_EQ(intakeReport(host),
            " \n5 observations read.\n1 excluded by if condition.\n"
            "Of the remaining 3 observations, 1 had no trajectory data.\n"
            "2 observations used in trajectory model.\n \n");
  EXPECT_EQ(host.stdoutText, " 1 had missing values in risk factors or weights=0.");
}

TEST(MultiIntake, ThreeComponentsConstantOutcomesEverySubjectUsed) {
  testing::MemoryHost host;
  // Three components of one period: y t each; component 1 has an exposure.
  auto ctx = intake(host, {{2, 0, 1, 4, 0, 1, 0}, {2, 1, 1, 4, 1, 0, 1}, {2, 2, M, 4, 2, 1, 2}},
                         {{1, "zip"}, {5, "1"}, {18, "cnorm"}, {19, "1"}, {23, "1"}, {28, "logit"}, {29, "1"},
                          {30, "1"}, {34, "1"}});
  ASSERT_TRUE(ctx);
  // The third subject's exposure is missing: 8 measurements.
  EXPECT_EQ(counts(*ctx), (std::vector<int>{0, 3, 8, 8}));
  // Equal outcomes: deviation 1 and the range mean -2 .. mean + 2, also for
  // a logit component (no clamp to [0, 1]).
  EXPECT_EQ(ctx->ySd[0], 1.0);
  EXPECT_EQ(ctx->yMin[1], 2.0);
  EXPECT_EQ(ctx->yMax[1], 6.0);
  EXPECT_NEAR(ctx->yMin[2], 2.0 / 3.0 - 2.0 * std::sqrt(2.0 / 9.0), 1e-15);
  EXPECT_EQ(ctx->meanTime[2], std::vector<double>{1.0});
  EXPECT_EQ(intakeReport(host), " \n3 observations read.\n3 observations used in trajectory model.\n \n");
  EXPECT_EQ(host.stdoutText, "");
}

}  // namespace
}  // namespace kurv
