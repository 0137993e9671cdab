// Multi-trajectory runs: given start values, and a fit against R's.
#include <gtest/gtest.h>

#include <cmath>

#include "core/run_summary.h"
#include "engine/start_values.h"
#include "plugin/run_command.h"
#include "support/csv_data.h"
#include "support/run_builder.h"

namespace kurv {
namespace {

using testing::MemoryHost;
using Args = std::vector<std::pair<int, std::string>>;

// A CNORM, a LOGIT and a ZIP component of one period and two groups of
// order 0; the ZIP component has one shared zero-inflation order; reference
// group 1, the first, is allowed.
std::unique_ptr<ModelContext> threeComponents(MemoryHost& host, std::vector<double> start = {}) {
  host.data = {{1, 0, 0, 0, 0, 0}, {3, 1, 1, 1, 0, 1}};
  for (const char* name : {"kurv_mat_order1", "kurv_mat_order2", "kurv_mat_order3"}) host.setRowVector(name, {0, 0});
  host.setRowVector("kurv_mat_iorder3", {0});
  if (!start.empty()) host.setRowVector("kurv_start", start);
  auto args = testing::defaultArgs();
  const Args set = {{8, "2"}, {17, "1"}, {18, "logit"}, {19, "1"}, {23, "2"}, {28, "zip"}, {29, "1"}, {30, "2"},
                    {33, "1"}, {34, "2"}, {35, std::to_string(start.size())}};
  for (const auto& [position, value] : set) testing::setArg(args, position, value);
  return testing::prepareTestRun(host, args);
}

// Given values: sigma itself, then the shared percentages, each check with
// its message; a failed check ends the conversion.
TEST(MultiStartValues, GivenValuesAreCheckedAndConverted) {
  struct Case {
    double sigma, p1, p2;
    const char* message;
  };
  const Case cases[] = {
      {2.0, 40, 60, ""},
      {0.0, 40, 60, "Invalid start value for sigma (model 1)."},
      {2.0, 0, 60, "Starting percentage =     0.000000 is invalid (mult model)."},
      {2.0, 50, 60, "Starting percents add to more than 100 (mult model)."},
  };
  for (const Case& c : cases) {
    MemoryHost host;
    auto ctx = threeComponents(host, {1, 2, c.sigma, 0, 0, 0, 0, 0, c.p1, c.p2});
    ASSERT_TRUE(ctx) << host.errors;
    convertGivenStartValues(*ctx);
    EXPECT_EQ(host.stdoutText, c.message);
    if (*c.message == '\0') {
      EXPECT_NEAR(ctx->params[2], std::log(2.0), 1e-15);
      EXPECT_NEAR(ctx->params[8], std::log(60.0 / 40.0), 1e-15);
    }
  }
}

// A normal, a binary and a count outcome sharing two groups
// (tests/fixtures/fits/make_multi_fits.R, flexmix with one latent class per
// subject): from R's solution and from the default start values, the fit
// reaches R's maximum.
TEST(MultiRun, MixedComponentsAgreeWithR) {
  const std::string path = std::string(KURV_FIXTURE_DIR) + "/fits/multi_mixed";
  const auto ref = testing::readReferenceFile(path + ".ref");
  const std::vector<double>& est = ref.at("est");
  std::vector<double> start = est;
  start[4] = std::exp(est[4]);
  start.back() = 100 / (1 + std::exp(est.back()));
  start.push_back(100 - start.back());
  for (const bool given : {true, false}) {
    SCOPED_TRACE(given ? "R's solution" : "default start");
    MemoryHost host;
    host.data = testing::readNumericCsv(path + ".csv").rows;
    for (const char* name : {"kurv_mat_order1", "kurv_mat_order2", "kurv_mat_order3"}) host.setRowVector(name, {1, 1});
    host.setRowVector("kurv_start", start);
    for (const char* matrix : {"groupPct1", "groupPct2", "groupPct3"}) host.createMatrix(matrix, 1, 2, -1.0);
    for (const char* matrix : {"outPlot1", "outPlot2", "outPlot3"}) host.createMatrix(matrix, 4, 9, -1.0);
    auto args = testing::defaultArgs();
    const Args set = {{2, "4"},  {8, "2"},  {9, "-1e6"}, {10, "1e6"}, {18, "logit"}, {19, "4"}, {23, "2"}, {28, "poisson"},
                      {29, "4"}, {30, "2"}, {34, "2"},   {35, given ? std::to_string(start.size()) : "0"}};
    for (const auto& [position, value] : set) testing::setArg(args, position, value);
    std::vector<const char*> argv;
    for (const auto& a : args) argv.push_back(a.c_str());
    RunSummary s;
    ASSERT_EQ(runCommand(host, 39, argv.data(), &s), 0) << host.errors;
    ASSERT_TRUE(s.fitted) << host.stdoutText;
    ASSERT_EQ(s.nParams, static_cast<int>(est.size()));
    EXPECT_NEAR(s.logLikelihood, ref.at("loglik")[0], 1e-6 * std::fabs(ref.at("loglik")[0]));
    for (int k = 0; k < s.nParams; ++k)
      EXPECT_NEAR(k == 4 ? std::log(s.estimates[k]) : s.estimates[k], est[k], 1e-4 * std::max(1.0, std::fabs(est[k])))
          << "estimate " << k;
    // One name per parameter; every component's share matrix holds the
    // shared shares; posteriors after the 24 data columns; plot rows at the
    // mean times 0..3.
    EXPECT_EQ(host.macros["_outvars"], "interc1 linear1 interc2 linear2 sigma1 m2interc1 m2linear1 m2interc2 "
                                       "m2linear2 m3interc1 m3linear1 m3interc2 m3linear2 mtheta2 ");
    for (const char* matrix : {"groupPct1", "groupPct2", "groupPct3"})
      EXPECT_NEAR(host.matrices.at(matrix)[0][0], start[13], 1e-3 * start[13]) << matrix;
    double posteriorSum = 0.0;
    for (int obs = 1; obs <= 150; ++obs) posteriorSum += host.value(26, obs) + host.value(27, obs);
    EXPECT_NEAR(posteriorSum, 150.0, 1e-9);
    for (const char* matrix : {"outPlot1", "outPlot2", "outPlot3"})
      for (int t = 0; t < 4; ++t) EXPECT_EQ(host.matrices.at(matrix)[t][0], t) << matrix;
  }
}

}  // namespace
}  // namespace kurv
