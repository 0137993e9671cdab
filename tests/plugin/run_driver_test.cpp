// The run driver's fit and result phases: restarts after false convergence,
// the messages of the minimizer's final codes, runs that end without results,
// runs without standard errors, and what a finished run leaves in the host.

#include <gtest/gtest.h>

#include <cmath>

#include "engine/fit_phases.h"
#include "plugin/run_command.h"
#include "core/text_format.h"
#include "support/run_builder.h"

namespace kurv {
namespace {

using testing::defaultArgs;
using testing::kHostMissing;
using testing::MemoryHost;
using testing::prepareTestRun;
using testing::runWithArgs;
using testing::setArg;

TEST(FinalCodes, MessagesAndWhetherTheRunGoesOn) {
  struct Case {
    int code;
    const char* message;
    bool goOn;
  };
  const Case cases[] = {
      {3, "", true},
      {4, "", true},
      {5, "", true},
      {6, "", true},
      {7, " Singular convergence", true},
      {8, " False convergence", true},
      {9, " Function evaluation limit", false},
      {10, " Function iteration limit", false},
      {63, " Likelihood could not be computed", false},
      {65, " Gradient could not be computed", false},
      {32, " Return code from minimizer - 32", false},
      {64, " Return code from minimizer - 64", false},
  };
  for (const Case& c : cases) {
    bool goOn = !c.goOn;
    EXPECT_EQ(finalCodeMessage(c.code, goOn), c.message) << c.code;
    EXPECT_EQ(goOn, c.goOn) << c.code;
  }
}

// Two subjects, one period, a one-group CNORM model: two parameters.
std::unique_ptr<ModelContext> smallRun(MemoryHost& host) {
  host.data = {{1.0, 0.0}, {2.0, 0.0}, {4.0, 0.0}};
  host.setRowVector("kurv_mat_order1", {0});
  return prepareTestRun(host, defaultArgs());
}

// f = sum (x - 1)^2 with a gradient that points the wrong way: no trial
// step decreases f, so every minimizer run ends in false convergence.
int bowl(int n, const double* x, double* f, ModelContext*) {
  double s = 0;
  for (int i = 0; i < n; ++i) s += (x[i] - 1) * (x[i] - 1);
  *f = s;
  return 0;
}
int wrongGradient(int n, const double* x, int*, double* g, ModelContext*) {
  for (int i = 0; i < n; ++i) g[i] = -2 * (x[i] - 1);
  return 0;
}

TEST(FitPhase, FalseConvergenceRestartsThreeTimesThenIsAccepted) {
  MemoryHost host;
  auto ctx = smallRun(host);
  ASSERT_TRUE(ctx);
  ctx->params = {3.0, -2.0, 0.0};
  MinimizerState state;
  FitControl control;
  control.likelihood = bowl;
  control.gradient = wrongGradient;
  EXPECT_TRUE(fitModel(*ctx, state, &control));
  EXPECT_EQ(state.returnCode, 8);
  EXPECT_EQ(control.minimizerRuns, 4);
  EXPECT_EQ(host.stdoutText, " False convergence");
}

TEST(FitPhase, EvaluationLimitEndsTheRunWithoutResults) {
  MemoryHost host;
  auto ctx = smallRun(host);
  ASSERT_TRUE(ctx);
  ctx->params = {0.0, 0.0, 0.0};
  MinimizerState state;
  FitControl control;
  control.maxFuncEvals = 3;
  EXPECT_FALSE(fitModel(*ctx, state, &control));
  EXPECT_EQ(state.returnCode, 9);
  EXPECT_EQ(host.stdoutText, " Function evaluation limit");
}

// The host objects a front end creates before the run, with a sentinel.
void createResultMatrices(MemoryHost& host, int nParams, int groups, int periods) {
  host.createMatrix("parmData", 1, nParams, -99);
  host.createMatrix("varData", nParams, nParams, -99);
  host.createMatrix("groupPct1", 1, groups, -99);
  host.createMatrix("outPlot1", periods, 1 + 4 * groups, -99);
}

TEST(Run, UncomputableStartEndsWithMessageAndNothingWritten) {
  MemoryHost host;
  host.data = {{3.0, 0.0}, {2.0, 0.0}};
  host.setRowVector("kurv_mat_order1", {0});
  host.setRowVector("kurv_start", {-800.0});  // Poisson mean below DBL_MIN for nonzero counts
  createResultMatrices(host, 1, 1, 1);
  auto args = defaultArgs();
  setArg(args, 1, "poisson");
  setArg(args, 35, "1");
  EXPECT_EQ(runWithArgs(host, args), 0);
  EXPECT_EQ(host.stdoutText, " Likelihood could not be computed");
  EXPECT_EQ(host.matrices["parmData"][0][0], -99);
  EXPECT_EQ(host.data[0].size(), 2u);  // no posterior variable stored
}

// Ten subjects on two periods with two well separated groups.
MemoryHost twoGroupData() {
  MemoryHost host;
  for (int i = 0; i < 10; ++i) {
    const double level = i < 4 ? 1.0 : 6.0;
    const double wiggle = 0.1 * ((i * 7) % 5) - 0.2;
    host.data.push_back({level + wiggle, level + 0.5 - wiggle, 0.0, 1.0});
  }
  host.setRowVector("kurv_mat_order1", {0, 0});
  return host;
}

std::vector<std::string> twoGroupArgs() {
  auto args = defaultArgs();
  setArg(args, 2, "2");
  setArg(args, 8, "2");
  return args;
}

TEST(Run, FinishedRunWritesEveryResult) {
  MemoryHost host = twoGroupData();
  createResultMatrices(host, 4, 2, 2);
  RunSummary summary;
  const auto args = twoGroupArgs();
  std::vector<const char*> argv;
  for (const auto& a : args) argv.push_back(a.c_str());
  ASSERT_EQ(runCommand(host, 39, argv.data(), &summary), 0) << host.errors;
  ASSERT_TRUE(summary.fitted) << host.stdoutText;
  for (int j = 0; j < 4; ++j) EXPECT_EQ(host.matrices["parmData"][0][j], summary.estimates[j]);
  EXPECT_NEAR(host.matrices["groupPct1"][0][0], 40.0, 1e-6);
  EXPECT_NEAR(host.matrices["groupPct1"][0][1], 60.0, 1e-6);
  // Most likely group, then the two posteriors, from variable 5 on.
  EXPECT_EQ(host.value(5, 1), 1.0);
  EXPECT_EQ(host.value(5, 10), 2.0);
  EXPECT_NEAR(host.value(6, 1) + host.value(7, 1), 1.0, 1e-12);
  EXPECT_NE(host.displayed.find(" BIC="), std::string::npos);
  EXPECT_NE(host.macros["_outvars"].find("interc1"), std::string::npos);
  // The log-likelihood line shows the minimizer's final value.
  EXPECT_NE(host.displayed.find(formatText("  L=%9.2f\n", summary.logLikelihood)), std::string::npos);
}

TEST(Run, WithoutStandardErrors) {
  MemoryHost host = twoGroupData();
  createResultMatrices(host, 4, 2, 2);
  auto args = twoGroupArgs();
  setArg(args, 38, "1");
  RunSummary summary;
  std::vector<const char*> argv;
  for (const auto& a : args) argv.push_back(a.c_str());
  ASSERT_EQ(runCommand(host, 39, argv.data(), &summary), 0);
  EXPECT_NE(host.displayed.find("Standard error calculations omitted by NOVAR option.\n"), std::string::npos);
  EXPECT_NE(host.displayed.find(" BIC="), std::string::npos);
  for (double se : summary.stdErrors) EXPECT_EQ(se, kHostMissing);
  for (const auto& row : host.matrices["varData"])
    for (double v : row) EXPECT_EQ(v, 0.0);
}

}  // namespace
}  // namespace kurv
