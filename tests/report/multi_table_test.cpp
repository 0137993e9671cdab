// The estimates table of a multi-trajectory run, line by line: a censored
// normal component with a linear and a constant group, then a ZIP component
// whose first group has a linear zero-inflation block and whose second has
// none, then the shared membership.

#include <gtest/gtest.h>

#include <cmath>

#include "report/multi_table.h"
#include "support/run_builder.h"

namespace kurv {
namespace {

TEST(MultiTable, RowsPerComponentThenSharedPercentages) {
  testing::MemoryHost host;
  host.data = {{1, 0, 2, 0}, {2, 1, 0, 1}};
  host.setRowVector("kurv_mat_order1", {1, 0});
  host.setRowVector("kurv_mat_order2", {0, 0});
  host.setRowVector("kurv_mat_iorder2", {1, -1});
  auto args = testing::defaultArgs();
  for (const auto& [position, value] : std::vector<std::pair<int, std::string>>{
           {8, "2"}, {18, "zip"}, {19, "1"}, {23, "2"}, {26, "2"}, {34, "2"}})
    testing::setArg(args, position, value);
  auto ctx = testing::prepareTestRun(host, args);
  ASSERT_TRUE(ctx) << host.errors;
  ASSERT_EQ(ctx->nParams, 9);
  ctx->params = {1, 2, 3, std::log(2.0), 0.5, 0.6, -1, 0.2, std::log(3.0)};
  ctx->stdErrors = {0.1, 0.2, 0.3, 0.4, 0.5, 0.6, 0.7, 0.8, 0.9};
  ctx->covariance.assign(81, 1.0);
  ctx->covFailCode = 1;
  host.displayed.clear();
  printMultiEstimatesTable(*ctx);

  auto heading = [](const char* model) {
    return std::string(" \n\t\t\tMaximum Likelihood Estimates\n") + model +
           "Unable to calculate standard errors.  Check model.\n\n\t\t\t       Standard       T for H0:\n"
           " Group   Parameter        Estimate        Error     Parameter=0   Prob > |T|\n \n";
  };
  const std::string expected =
      heading("\t\t\tModel: Censored Normal (CNORM)\n") +
      " 1       Intercept         1.00000      0.10000           \n"
      "         Linear            2.00000      0.20000           \n"
      " \n"
      " 2       Intercept         3.00000      0.30000           \n"
      " \n"
      "         Sigma             2.00000      0.80000           \n" +
      heading("\t\t\tModel: Zero Inflated Poisson (ZIP)\n") +
      " 1       Intercept         0.50000      0.50000           \n"
      " \n"
      " 2       Intercept         0.60000      0.60000           \n"
      " \n"
      " 1       Alpha0           -1.00000      0.70000           \n"
      "         Alpha1            0.20000      0.80000           \n"
      " \n"
      " \n"
      "  Group membership\n"
      " \n"
      " 1       (%)              25.00000                        \n"
      " 2       (%)              75.00000                        \n"
      " \n";
  EXPECT_EQ(host.displayed, expected);
  EXPECT_EQ(host.macros["_outvars"],
            "interc1 linear1 interc2 sigma1 m2interc1 m2interc2 m2alpha0g1 m2alpha1g1 mtheta2 ");
  // Sigma's row and column now refer to sigma = 2 itself.
  EXPECT_EQ(ctx->covariance[3 * 9 + 3], 4.0);
  EXPECT_EQ(ctx->covariance[3 * 9 + 8], 2.0);
  EXPECT_EQ(ctx->covariance[0], 1.0);
  EXPECT_NEAR(ctx->groupPct[1], 75.0, 1e-12);
}

}  // namespace
}  // namespace kurv
