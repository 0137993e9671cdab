// The multi-trajectory intake: the if selection and invalid weights exclude
// a subject, usable periods per component, counts, mean times, start ranges,
// weight normalisation over the subjects that take part, the column layout
// and the report lines.

#include <gtest/gtest.h>

#include <cmath>

#include "support/run_builder.h"

namespace kurv {
namespace {

constexpr double M = testing::kHostMissing;

std::unique_ptr<ModelContext> multiIntake(testing::MemoryHost& host, std::vector<std::vector<double>> data,
                                          std::vector<std::pair<int, std::string>> set, std::vector<bool> selected = {}) {
  host.data = std::move(data);
  host.selected = std::move(selected);
  for (const char* name : {"kurv_mat_order1", "kurv_mat_order2", "kurv_mat_order3"}) host.setRowVector(name, {0});
  auto args = testing::defaultArgs();
  for (const auto& [position, value] : set) testing::setArg(args, position, value);
  auto ctx = testing::prepareTestRun(host, args);
  EXPECT_TRUE(ctx) << host.errors;
  return ctx;
}

// The text shown from the intake's first line on (preparation shows a banner before it).
std::string intakeReport(const testing::MemoryHost& host) {
  return host.displayed.substr(host.displayed.find(" \n", host.displayed.find("built")) + 0);
}

TEST(MultiIntake, SelectionWeightsUsablePeriodsCountsAndReport) {
  testing::MemoryHost host;
  // Component 1 (cnorm, 2 periods): y y t t weight; component 2 (logit, 2
  // periods, one covariate): y y t t c c.
  auto ctx = multiIntake(host,
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
  EXPECT_EQ(ctx->nExcluded, 2);
  EXPECT_EQ(ctx->nSubjects, 2);
  EXPECT_EQ(ctx->nMeasurements, 6);
  EXPECT_EQ(ctx->outVarBase, 12);
  // Component 1 outcomes 1, 3, 2; component 2 outcomes 0, 1, 1.
  EXPECT_NEAR(ctx->ySd[0], std::sqrt(2.0 / 3.0), 1e-15);
  EXPECT_NEAR(ctx->yMin[0], 2.0 - 2.0 * std::sqrt(2.0 / 3.0), 1e-15);
  EXPECT_NEAR(ctx->yMax[1], 2.0 / 3.0 + 2.0 * std::sqrt(2.0 / 9.0), 1e-15);
  EXPECT_EQ(ctx->meanTime[0], (std::vector<double>{0.0, 1.0}));
  EXPECT_EQ(ctx->periodN[1], (std::vector<double>{1.0, 2.0}));
  // Weights 1, 2, 3 of the subjects that take part average 1.
  EXPECT_EQ(ctx->weight[0], 0.5);
  EXPECT_EQ(ctx->weight[1], 1.0);
  EXPECT_EQ(ctx->weight[4], 1.5);
  EXPECT_EQ(intakeReport(host),
            " \n5 observations read.\n1 excluded by if condition.\n"
            "Of the remaining 3 observations, 1 had no trajectory data.\n"
            "2 observations used in trajectory model.\n \n");
  EXPECT_EQ(host.stdoutText, " 1 had missing values in risk factors or weights=0.");
}

TEST(MultiIntake, ThreeComponentsConstantOutcomesEverySubjectUsed) {
  testing::MemoryHost host;
  // Three components of one period: y t each; component 1 has an exposure.
  auto ctx = multiIntake(host, {{2, 0, 1, 4, 0, 1, 0}, {2, 1, 1, 4, 1, 0, 1}, {2, 2, M, 4, 2, 1, 2}},
                         {{1, "zip"}, {5, "1"}, {18, "cnorm"}, {19, "1"}, {23, "1"}, {28, "logit"}, {29, "1"},
                          {30, "1"}, {34, "1"}});
  ASSERT_TRUE(ctx);
  EXPECT_EQ(ctx->nExcluded, 0);
  EXPECT_EQ(ctx->nSubjects, 3);
  EXPECT_EQ(ctx->nMeasurements, 8);  // the third subject's exposure is missing
  EXPECT_EQ(ctx->outVarBase, 8);
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
