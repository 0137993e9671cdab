// Whole joint runs through the plug-in's entry: a fit whose results are
// checked against their definitions (posteriors by Bayes' rule from the
// independent evaluation, shares as mean posteriors, conditional and marginal
// percentages from the estimates, plot series as posterior-weighted means);
// risk factors of both models with weights. R's maximum: tests/engine/run_test.cpp.
#include <gtest/gtest.h>

#include <cmath>

#include "core/text_format.h"
#include "models/joint_scenario.h"
#include "report/estimate_row.h"
#include "support/run_builder.h"

namespace kurv {
namespace {

using namespace modeltest;

TEST(JointRun, FitWritesBothModelsResultsByTheirDefinitions) {
  const JointScenario s = withJointData(
      {.model = {ModelSpec{.T = 5, .orders = {1, 1}}, ModelSpec{.T = 4, .orders = {0, 1}, .censorMin = 0}}}, 11, 120);
  testing::MemoryHost host;
  putJointData(s, host);
  const int nVars = static_cast<int>(host.data[0].size());
  const int G1 = 2, G2 = 2, T2 = 4;
  host.createMatrix("parmData", 1, 12, -99);
  host.createMatrix("varData", 12, 12, -99);
  for (int m = 1; m <= 2; ++m) {
    host.createMatrix(formatText("groupPct%d", m), 1, 2, -99);
    host.createMatrix(formatText("outPlot%d", m), m == 1 ? 5 : T2, 9, -99);
  }
  RunSummary summary;
  ASSERT_EQ(testing::runWithArgs(host, jointArgs(s), &summary), 0) << host.errors;
  ASSERT_TRUE(summary.fitted) << host.stdoutText;

  EXPECT_EQ(host.macros["_outvars"],
            "interc1 linear1 interc2 linear2 sigma theta2 m2intr1 m2intr2 m2linr2 m2sigma m2theta2g1 m2theta2g2 ");

  // The estimates in parameter form (the scale as its logarithm) and the
  // independent evaluation's terms at them.
  const JointReference ref(s);
  std::vector<double> x = summary.estimates;
  for (int m = 0; m < 2; ++m) x[ref.sigma(m)] = std::log(x[ref.sigma(m)]);
  double share[2][2] = {};  // [model][group]
  int taking = 0;
  for (int i = 0; i < static_cast<int>(s.subjects.size()); ++i) {
    auto value = [&](int offset) { return host.value(nVars + offset, i + 1); };
    if (ref.excluded[i]) {
      for (int v = 1; v <= 6; ++v) EXPECT_EQ(value(v), M) << i;
      continue;
    }
    ++taking;
    const std::vector<double> post = ref.pairPosteriors(x, i);
    double p[2][2] = {};  // [model][group]: the margins of the pairs' posteriors
    for (int j = 0; j < 2; ++j)
      for (int k = 0; k < 2; ++k) p[0][j] += post[j * 2 + k], p[1][k] += post[j * 2 + k];
    for (int m = 0; m < 2; ++m) {  // per model: the most likely group, then the posteriors
      EXPECT_EQ(value(1 + 3 * m), p[m][1] > p[m][0] ? 2.0 : 1.0) << i;
      for (int g = 0; g < 2; ++g) {
        EXPECT_NEAR(value(2 + 3 * m + g), p[m][g], 1e-9) << i;
        share[m][g] += p[m][g];
      }
    }
  }
  for (int m = 0; m < 2; ++m)
    for (int g = 0; g < 2; ++g)
      EXPECT_NEAR(host.matrices[formatText("groupPct%d", m + 1)][0][g], 100 * share[m][g] / taking, 1e-7);

  // Model 2's part of the estimates table, line by line from the fit's
  // estimates and standard errors: its rows (sigma itself, its standard
  // error by the delta method), the conditional percentages 100 / (1 + e^c)
  // and 100 e^c / (1 + e^c) of each model-1 group's constant c with
  // standard errors 100 e^c / (1 + e^c)^2 se(c), then the percentages of
  // model 1's group given model 2's, of the pairs and of model 2's groups.
  {
    const std::vector<double>& e = summary.estimates;
    const std::vector<double>& se = summary.stdErrors;
    // The columns after an estimate: its error in `format`, t and its two-sided p on N measurements.
    auto tail = [&](double estimate, double error, const char* format) {
      const double t = estimate / error;
      return formatText(format, error) + formatText("    %12.3f     %8.4f\n", t, twoSidedTPValue(t, summary.nMeasurements));
    };
    auto row = [&](int group, const char* label, int k) {
      return formatText(group ? " %d       %-12s %12.5f " : "%.0d         %-12s %12.5f ", group, label, e[k]) +
             tail(e[k], se[k], "%12.5f");
    };
    std::string expected = " \nModel 2: Censored Normal (CNORM)\n \n" + row(1, "Intercept", 6) + " \n" +
                           row(2, "Intercept", 7) + row(0, "Linear", 8) + " \n" +
                           formatText(" %12s        %12.5f  ", "Sigma", e[9]) + tail(e[9], se[9], "%11.5f");
    expected += " \n  Group membership (model 2 group | model 1 group) \n \n";
    const double e1 = std::exp(e[5]);
    const double model1[2] = {100 / (1 + e1), 100 * e1 / (1 + e1)};
    double cond[2][2], model2[2] = {0, 0};
    for (int j = 0; j < 2; ++j) {
      const int c = 10 + j;
      const double ec = std::exp(e[c]);
      const double pctSe = 100 * ec / ((1 + ec) * (1 + ec)) * std::sqrt(summary.covariance[c * 12 + c]);
      cond[j][0] = 100 / (1 + ec), cond[j][1] = 100 * ec / (1 + ec);
      for (int k = 0; k < 2; ++k) {
        expected += formatText(" %d|%d     (%%)            %10.5f  ", k + 1, j + 1, cond[j][k]) + tail(cond[j][k], pctSe, "%11.5f");
        model2[k] += cond[j][k] * model1[j] / 100;
      }
    }
    expected += " \n  Group membership (model 1 group | model 2 group) \n \n";
    for (int k = 0; k < 2; ++k)
      for (int j = 0; j < 2; ++j)
        expected += formatText(" %d|%d    (%4.1f%%)\n", j + 1, k + 1, cond[j][k] * model1[j] / model2[k]);
    expected += " \n  Group membership (model 1 group and model 2 group) \n \n";
    for (int k = 0; k < 2; ++k)
      for (int j = 0; j < 2; ++j) expected += formatText(" %d %d    (%4.1f%%) \n", j + 1, k + 1, cond[j][k] * model1[j] / 100);
    expected += " \n  Group membership (model 2 group) \n \n";
    for (int k = 0; k < 2; ++k) expected += formatText(" %d (%4.1f%%) \n", k + 1, model2[k]);
    expected += " \n BIC=";
    const std::size_t at = host.displayed.find(" \nModel 2:");
    ASSERT_NE(at, std::string::npos);
    EXPECT_EQ(host.displayed.substr(at, expected.size()), expected);
  }

  // Model 2's plot series: the posterior-weighted observed means of the
  // subjects measured at each period.
  for (int t = 0; t < T2; ++t) {
    double weight[2] = {0, 0}, sum[2] = {0, 0};
    for (int i = 0; i < static_cast<int>(s.subjects.size()); ++i) {
      const JointSubject& a = s.subjects[i];
      if (ref.excluded[i] || missing(a.y[1][t]) || missing(a.t[1][t])) continue;
      for (int k = 0; k < G2; ++k) {
        const double p = host.value(nVars + 3 + G1 + k, i + 1);
        weight[k] += p, sum[k] += p * a.y[1][t];
      }
    }
    for (int k = 0; k < G2; ++k) EXPECT_NEAR(host.matrices["outPlot2"][t][1 + k], sum[k] / weight[k], 1e-9) << t << k;
  }
}

// Risk factors in both models and weights: every parameter has its own
// distinct name (model 2's conditional constants and risk coefficients
// included), the conditional constants are shown as they are beside their
// reference group's line, and the sandwich standard errors exist.
TEST(JointRun, RiskFactorsOfBothModelsAndWeights) {
  const JointScenario s = withJointData({.model = {ModelSpec{.T = 4, .nRisk = 1, .orders = {1, 0}},
                                                   ModelSpec{.T = 4, .nRisk = 2, .orders = {0, 1}}},
                                         .weights = true},
                                        21, 300);
  testing::MemoryHost host;
  host.macros["_risk1"] = "age";
  host.macros["_risk2"] = "female score";
  putJointData(s, host);
  RunSummary summary;
  ASSERT_EQ(testing::runWithArgs(host, jointArgs(s), &summary), 0) << host.errors;
  ASSERT_TRUE(summary.fitted) << host.stdoutText;
  const std::vector<std::string> expected = {"interc1", "linear1", "interc2", "sigma", "const2", "age2", "m2intr1",
                                             "m2intr2", "m2linr2", "m2sigma", "m2const2g1", "m2const2g2", "female2",
                                             "score2"};
  EXPECT_EQ(summary.names, expected);
  for (int k = 0; k < summary.nParams; ++k) EXPECT_FALSE(host.isMissing(summary.stdErrors[k])) << summary.names[k];
  for (int j = 1; j <= 2; ++j) {
    EXPECT_NE(host.displayed.find(formatText(" 1|%d     Constant         (0.00000)           .               .            . \n", j)),
              std::string::npos);
    EXPECT_NE(host.displayed.find(formatText(" 2|%d     Constant       %10.5f", j, summary.estimates[9 + j])), std::string::npos);
  }
  EXPECT_EQ(host.displayed.find("Group membership (model 2 group) \n"), std::string::npos);  // no marginal shares
  EXPECT_EQ(summary.conditionalPct, std::vector<std::vector<double>>(2, std::vector<double>(2, testing::kHostMissing)));
}

}  // namespace
}  // namespace kurv
