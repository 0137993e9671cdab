// The estimates table of single-trajectory runs: lines, names, the rescaled
// covariance of scales and the membership percentages.
#include <gtest/gtest.h>

#include <cmath>

#include "report/estimates_table.h"
#include "report/outcome_means.h"
#include "report_test_context.h"

namespace kurv {
namespace {

using testing::MemoryHost;
using testing::splitLines;
using testing::splitNames;

const std::vector<std::string> kHeading = {
    " \n",
    "\t\t\tMaximum Likelihood Estimates\n",
    "\t\t\tModel: Censored Normal (CNORM)\n",
    "\n",
    "\t\t\t       Standard       T for H0:\n",
    " Group   Parameter        Estimate        Error     Parameter=0   Prob > |T|\n",
    " \n"};

std::vector<std::string> withHeading(std::vector<std::string> rows, std::size_t at = 3) {
  std::vector<std::string> lines = kHeading;
  lines.insert(lines.begin() + at, rows.begin(), rows.end());
  return lines;
}

TEST(EstimatesTable, TwoGroupCnormLineByLine) {
  MemoryHost host;
  ModelContext ctx = testing::twoGroupCnorm(host);
  printEstimatesTable(ctx);
  // p-values from R: 2 * (1 - pt(c(5, 2, 0, 10), 100)) = 2.5e-06, 0.0482, 1, 0.
  const std::vector<std::string> expected = {
      " \n",
      "\t\t\tMaximum Likelihood Estimates\n",
      "\t\t\tModel: Censored Normal (CNORM)\n",
      "\n",
      "\t\t\t       Standard       T for H0:\n",
      " Group   Parameter        Estimate        Error     Parameter=0   Prob > |T|\n",
      " \n",
      " 1       Intercept        10.00000      2.00000           5.000       0.0000\n",
      "         Linear            0.50000      0.25000           2.000       0.0482\n",
      " \n",
      " 2       Intercept        20.00000            .           0.000       1.0000\n",
      "         Linear           -1.00000      0.50000          -2.000       0.0482\n",
      "         Quadratic         0.05000      0.02500           2.000       0.0482\n",
      " \n",
      "         Sigma             2.00000      0.20000          10.000       0.0000\n",
      " \n",
      "  Group membership\n",
      " \n",
      " 1       (%)              50.00000      5.00000          10.000       0.0000\n",
      " 2       (%)              50.00000      5.00000          10.000       0.0000\n",
      " \n"};
  EXPECT_EQ(splitLines(host.displayed), expected);
  EXPECT_EQ(host.macros["_outvars"], "interc1 linear1 interc2 linear2 quadra2 sigma theta2 ");
  EXPECT_EQ(ctx.outVarsText, host.macros["_outvars"]);
  EXPECT_DOUBLE_EQ(ctx.groupPct[0] + ctx.groupPct[1], 100.0);
}

TEST(EstimatesTable, ScaleCovarianceRefersToSigmaAfterTheTable) {
  MemoryHost host;
  ModelContext ctx = testing::twoGroupCnorm(host);
  const std::vector<double> before = ctx.covariance;
  printEstimatesTable(ctx);
  const int n = ctx.nParams;
  const double sigma = 2.0;
  for (int r = 0; r < n; ++r)
    for (int c = 0; c < n; ++c) {
      const double factor = (r == 5 && c == 5) ? sigma * sigma : (r == 5 || c == 5) ? sigma : 1.0;
      EXPECT_DOUBLE_EQ(ctx.covariance[r * n + c], before[r * n + c] * factor) << r << "," << c;
    }
  // The parameters themselves stay on the log scale.
  EXPECT_DOUBLE_EQ(ctx.params[5], std::log(2.0));
}

TEST(EstimatesTable, MissingStandardErrorsShowBlankTests) {
  MemoryHost host;
  ModelContext ctx = testing::twoGroupCnorm(host);
  ctx.covFailCode = 3;
  ctx.stdErrors.assign(ctx.nParams, host.missingValue());
  printEstimatesTable(ctx);
  const std::vector<std::string> lines = splitLines(host.displayed);
  EXPECT_EQ(lines[3], "Unable to calculate standard errors.  Check model.\n");
  EXPECT_EQ(lines[8], " 1       Intercept        10.00000                        \n");
  EXPECT_EQ(lines[15], "         Sigma             2.00000                        \n");
  EXPECT_EQ(lines[19], " 1       (%)              50.00000                        \n");
  EXPECT_TRUE(host.isMissing(ctx.groupPctSe[1]));

  MemoryHost host2;
  ModelContext ctx2 = testing::twoGroupCnorm(host2);
  ctx2.noStdErrors = 1;
  ctx2.covFailCode = 1;
  printEstimatesTable(ctx2);
  EXPECT_EQ(splitLines(host2.displayed)[3], "Standard error calculations omitted by NOVAR option.\n");
}

TEST(EstimatesTable, GroupWithoutTrajectoryAndCovariates) {
  MemoryHost host;
  ModelContext ctx = testing::handBuiltModel(host, kLogit, {-1, 0});
  ctx.nPeriods[0] = 2;
  ctx.nTcov[0] = 2;
  ctx.tcovPerPeriod[0] = 1;
  ctx.tcovNames = {"age", "age"};
  ctx.nMeasurements = 50;
  testing::setFit(ctx, {1.5, 0.25, 0.0}, {0.5, 0.125, 0.1});
  // p-values from R: 2 * (1 - pt(c(3, 2), 50)) = 0.0042, 0.0509.
  printEstimatesTable(ctx);
  const std::vector<std::string> expected = withHeading(
      {"\t\t\tModel: Logistic (LOGIT)\n", "\n", "\t\t\t       Standard       T for H0:\n",
       " Group   Parameter        Estimate        Error     Parameter=0   Prob > |T|\n", " \n",
       "\n", " 1 N/A . . . . \n",
       " 2       Intercept         1.50000      0.50000           3.000       0.0042\n",
       "         age               0.25000      0.12500           2.000       0.0509\n", " \n"},
      2);
  const std::vector<std::string> lines = splitLines(host.displayed);
  ASSERT_GE(lines.size(), 12u);
  EXPECT_EQ(std::vector<std::string>(lines.begin(), lines.begin() + 12),
            std::vector<std::string>(expected.begin(), expected.begin() + 12));
  EXPECT_EQ(host.macros["_outvars"], "interc2 age2 theta2 ");
}

TEST(EstimatesTable, ThreeGroupPercentagesFromConstantsZeroAndLn2) {
  MemoryHost host;
  ModelContext ctx = testing::handBuiltModel(host, kLogit, {0, 0, 0});
  ctx.nMeasurements = 60;
  testing::setFit(ctx, {-1.0, 0.0, 1.0, 0.0, std::log(2.0)}, {0.1, 0.1, 0.1, 0.3, 0.4});
  printEstimatesTable(ctx);
  EXPECT_NEAR(ctx.groupPct[0], 25.0, 1e-12);
  EXPECT_NEAR(ctx.groupPct[1], 25.0, 1e-12);
  EXPECT_NEAR(ctx.groupPct[2], 50.0, 1e-12);
  EXPECT_EQ(host.macros["_outvars"], "interc1 interc2 interc3 theta2 theta3 ");
}

TEST(EstimatesTable, ReferenceGroupOtherThanFirstOwnsNoConstant) {
  // Reference group 2: the constants belong to groups 1 and 3 in order.
  MemoryHost host;
  ModelContext ctx = testing::handBuiltModel(host, kLogit, {0, 0, 0});
  ctx.refGroup[0] = 1;
  ctx.hasRefGroup[0] = true;
  ctx.nMeasurements = 60;
  testing::setFit(ctx, {-1.0, 0.0, 1.0, std::log(2.0), 0.0}, {0.1, 0.1, 0.1, 0.3, 0.4});
  printEstimatesTable(ctx);
  EXPECT_NEAR(ctx.groupPct[0], 50.0, 1e-12);
  EXPECT_NEAR(ctx.groupPct[1], 25.0, 1e-12);
  EXPECT_NEAR(ctx.groupPct[2], 25.0, 1e-12);
  // Shares p = (1/2, 1/4, 1/4); with independent constants the variance of
  // the reference share is p_r^2 (p_1^2 var_1 + p_3^2 var_3).
  const double vRef = 0.25 * 0.25 * (0.25 * 0.09 + 0.0625 * 0.16);
  EXPECT_NEAR(ctx.groupPctSe[1], 100.0 * std::sqrt(vRef), 1e-12);
  EXPECT_EQ(host.macros["_outvars"], "interc1 interc2 interc3 theta1 theta3 ");
}

TEST(EstimatesTable, RiskFactorsDropoutAndZeroInflationNameEveryParameter) {
  MemoryHost host;
  ModelContext ctx = testing::handBuiltModel(host, kZip, {1, 0});
  ctx.nPeriods[0] = 2;
  ctx.nDropoutOrder = 2;
  ctx.dropoutOrder = {1, -1};
  ctx.nDcov = 2;
  ctx.dcovPerPeriod = 1;
  ctx.dcovNames = {"dc", "dc"};
  ctx.nInflOrder[0] = 1;
  ctx.inflOrder[0] = {2};
  ctx.singleInflOrder[0] = 1;
  ctx.nRisk[0] = 2;
  ctx.riskNames[0] = {"male", "income"};
  ctx.nMeasurements = 40;
  // interc1 linear1 interc2 | drop0g1 drop1g1 dc1 | alpha0 alpha1 alpha2 | const2 male2 income2
  testing::setFit(ctx, std::vector<double>(12, 0.5), std::vector<double>(12, 0.25));
  printEstimatesTable(ctx);
  const std::vector<std::string> names = splitNames(host.macros["_outvars"]);
  EXPECT_EQ(names, (std::vector<std::string>{"interc1", "linear1", "interc2", "drop0g1", "drop1g1",
                                             "dc1", "alpha0", "alpha1", "alpha2", "const2", "male2",
                                             "income2"}));
  const std::string& text = host.displayed;
  EXPECT_NE(text.find("\t\t\tModel: Zero Inflated Poisson (ZIP)\n"), std::string::npos);
  EXPECT_NE(text.find(" 1       Drop0             0.50000      0.25000           2.000"), std::string::npos);
  EXPECT_NE(text.find("         Drop1             0.50000"), std::string::npos);
  EXPECT_NE(text.find("         Alpha2            0.50000"), std::string::npos);
  EXPECT_NE(text.find(" 1       Constant         (0.00000)           .               .            . \n"),
            std::string::npos);
  EXPECT_NE(text.find(" 2       Constant          0.50000"), std::string::npos);
  EXPECT_NE(text.find("         income            0.50000"), std::string::npos);
  EXPECT_TRUE(host.isMissing(ctx.groupPct[0]));
}

TEST(EstimatesTable, OutcomeAnalysisRowsIntervalsAndScale) {
  MemoryHost host;
  ModelContext ctx = testing::twoGroupCnorm(host);
  // Normal outcome: two group constants and the log-scale after them.
  ctx.hasOutcome = true;
  ctx.omodelName = "normal";
  ctx.omodelKind = kCnorm;
  ctx.nOutcomeParams = 3;
  ctx.outcomeStart = 7;
  testing::setFit(ctx, {10.0, 0.5, 20.0, -1.0, 0.05, std::log(2.0), 0.0, 1.0, 3.0, std::log(0.5)},
                  {2.0, 0.25, 2e6, 0.5, 0.025, 0.1, 0.2, 0.5, 0.5, 0.1});
  outcomeGroupMeans(ctx);
  printEstimatesTable(ctx);
  const std::vector<std::string> lines = splitLines(host.displayed);
  const std::vector<std::string> tail(lines.end() - 12, lines.end());
  // Uncensored: the mean is the constant and the limits are constant -+ 1.96 se.
  const std::vector<std::string> expected = {
      " \n",
      "Outcome analysis:  normal model\n",
      " \n",
      "         GROUP1            1.00000      0.50000           2.000       0.0482\n",
      "95% CI (Mean): (       0.020,        1.000,        1.980)\n",
      " \n",
      "         GROUP2            3.00000      0.50000           6.000       0.0000\n",
      "95% CI (Mean): (       2.020,        3.000,        3.980)\n",
      " \n",
      "         Sigma             0.50000      0.05000          10.000       0.0000\n",
      " \n",
      " \n"};
  EXPECT_EQ(tail, expected);
  const std::vector<std::string> names = splitNames(host.macros["_outvars"]);
  EXPECT_EQ(static_cast<int>(names.size()), ctx.nParams);
  EXPECT_EQ(names.back(), "osigma");
  EXPECT_NEAR(ctx.covariance[9 * 10 + 9], 0.01 * 0.25, 1e-15);
}

TEST(EstimatesTable, RandomEffectsScalesAndExponentiatedIndexes) {
  MemoryHost host;
  ModelContext ctx;
  ctx.host = &host;
  ctx.modelKind[0] = kCnorm;
  ctx.hasRandomEffects = true;
  ctx.nReOrder = 1;
  ctx.reOrder = {1};
  ctx.nGroups[0] = 1;
  ctx.polyOrder[0] = {0};
  ctx.scaleIndex[0] = 1;
  ctx.reStart = 2;
  ctx.nMeasurements = 30;
  testing::setFit(ctx, {5.0, 0.0, std::log(3.0), std::log(0.5)}, {1.0, 0.1, 0.1, 0.2});
  EXPECT_EQ(scaleParameterIndexes(ctx), (std::vector<int>{1, 2, 3}));
  printEstimatesTable(ctx);
  EXPECT_EQ(host.macros["_outvars"], "interc1 sigma rSigma rSigma1 ");
  const std::string& text = host.displayed;
  EXPECT_NE(text.find("\t\tModel: Censored Normal (CNORM) Random Effects\n"), std::string::npos);
  EXPECT_NE(text.find("         rSigma0           3.00000      0.30000          10.000"), std::string::npos);
  EXPECT_NE(text.find("         rSigma1           0.50000      0.10000           5.000"), std::string::npos);
  EXPECT_NEAR(ctx.covariance[3 * 4 + 3], 0.04 * 0.25, 1e-15);
}

}  // namespace
}  // namespace kurv
