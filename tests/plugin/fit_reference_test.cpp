// Whole fits through the engine's run entry, against reference fits made with
// R on the same simulated data (tests/fixtures/fits/make_fits.R): survreg for
// the one-group censored normal model, glm for one-group logit and Poisson
// models, zeroinfl for the one-group zero-inflated Poisson model, and flexmix
// for mixtures of two and three groups.

#include <gtest/gtest.h>

#include <cmath>

#include "plugin/run_command.h"
#include "support/csv_data.h"
#include "support/run_builder.h"

namespace kurv {
namespace {

using testing::defaultArgs;
using testing::MemoryHost;
using testing::readNumericCsv;
using testing::readReferenceFile;
using testing::setArg;

const std::string kFits = std::string(KURV_FIXTURE_DIR) + "/fits/";

struct Fit {
  int code = -1;
  RunSummary summary;
  MemoryHost host;
};

// Runs the engine on a fixture with the arguments `args` and its order matrices.
void runFixture(Fit& fit, const std::string& name, std::vector<std::string> args,
                const std::map<std::string, std::vector<double>>& matrices) {
  fit.host.data = readNumericCsv(kFits + name + ".csv").rows;
  for (const auto& [matrix, values] : matrices) fit.host.setRowVector(matrix, values);
  std::vector<const char*> argv;
  for (const auto& a : args) argv.push_back(a.c_str());
  fit.code = runCommand(fit.host, static_cast<int>(argv.size()), argv.data(), &fit.summary);
}

std::vector<std::string> oneGroupArgs(const char* model) {
  auto args = defaultArgs();
  setArg(args, 1, model);
  setArg(args, 2, "5");
  return args;
}

void expectRelative(double actual, double expected, double tolerance, const std::string& what) {
  EXPECT_NEAR(actual, expected, tolerance * std::max(1.0, std::fabs(expected))) << what;
}

// Compares log-likelihood, estimates (scales as logarithms on the kurv side
// turned back for the comparison) and, where given, standard errors after
// removing kurv's small-sample factor N/(N - n + 1).
void compareWithReference(const Fit& fit, const std::string& name, const std::vector<int>& scaleIndexes,
                          bool compareSe) {
  ASSERT_EQ(fit.code, 0) << fit.host.errors << fit.host.stdoutText;
  ASSERT_TRUE(fit.summary.fitted) << fit.host.stdoutText;
  const auto ref = readReferenceFile(kFits + name + ".ref");
  const RunSummary& s = fit.summary;
  expectRelative(s.logLikelihood, ref.at("loglik")[0], 1e-6, name + " loglik");
  const auto& est = ref.at("est");
  ASSERT_EQ(static_cast<int>(est.size()), s.nParams) << name;
  for (int k = 0; k < s.nParams; ++k) {
    const bool isScale = std::find(scaleIndexes.begin(), scaleIndexes.end(), k) != scaleIndexes.end();
    const double kurvValue = isScale ? std::log(s.estimates[k]) : s.estimates[k];
    expectRelative(kurvValue, est[k], 1e-4, name + " estimate " + std::to_string(k));
  }
  if (!compareSe) return;
  const double N = s.nMeasurements;
  const double factor = std::sqrt(N / (N - s.nParams + 1));
  const auto& se = ref.at("se");
  for (int k = 0; k < s.nParams; ++k)
    EXPECT_NEAR(s.stdErrors[k] / factor, se[k], 1e-4 * se[k]) << name << " se " << k;
}

TEST(ReferenceFits, OneGroupCensoredNormal) {
  Fit fit;
  auto args = oneGroupArgs("cnorm");
  setArg(args, 9, "0");
  setArg(args, 10, "6");
  runFixture(fit, "cnorm1", args, {{"kurv_mat_order1", {1}}});
  compareWithReference(fit, "cnorm1", {2}, true);
}

TEST(ReferenceFits, OneGroupLogit) {
  Fit fit;
  runFixture(fit, "logit1", oneGroupArgs("logit"), {{"kurv_mat_order1", {2}}});
  compareWithReference(fit, "logit1", {}, true);
}

TEST(ReferenceFits, OneGroupPoisson) {
  Fit fit;
  runFixture(fit, "poisson1", oneGroupArgs("poisson"), {{"kurv_mat_order1", {1}}});
  compareWithReference(fit, "poisson1", {}, true);
}

TEST(ReferenceFits, OneGroupZeroInflatedPoisson) {
  Fit fit;
  auto args = oneGroupArgs("zip");
  setArg(args, 11, "1");
  runFixture(fit, "zip1", args, {{"kurv_mat_order1", {1}}, {"kurv_mat_iorder1", {0}}});
  compareWithReference(fit, "zip1", {}, true);
}

TEST(ReferenceFits, TwoGroupNormalMixtureFromTheReferenceSolution) {
  const auto est = readReferenceFile(kFits + "cnorm2.ref").at("est");
  // Start at the reference solution, in the user's form: sigma itself and
  // the group percentages.
  const double e = std::exp(est[5]);
  std::vector<double> start = {est[0], est[1], est[2], est[3], std::exp(est[4]), 100 / (1 + e), 100 * e / (1 + e)};
  Fit fit;
  auto args = oneGroupArgs("cnorm");
  setArg(args, 8, "2");
  setArg(args, 9, "-1e6");
  setArg(args, 10, "1e6");
  setArg(args, 35, "7");
  runFixture(fit, "cnorm2", args, {{"kurv_mat_order1", {1, 1}}, {"kurv_start", start}});
  compareWithReference(fit, "cnorm2", {4}, false);
  EXPECT_NEAR(fit.summary.groupPct[0][0] + fit.summary.groupPct[0][1], 100.0, 1e-9);
}

TEST(ReferenceFits, ThreeGroupLogitMixtureWithRiskFactor) {
  const auto est = readReferenceFile(kFits + "logit3.ref").at("est");
  Fit fit;
  auto args = oneGroupArgs("logit");
  setArg(args, 3, "1");
  setArg(args, 8, "3");
  setArg(args, 35, std::to_string(est.size()));
  runFixture(fit, "logit3", args, {{"kurv_mat_order1", {1, 1, 1}}, {"kurv_start", est}});
  compareWithReference(fit, "logit3", {}, false);
}

}  // namespace
}  // namespace kurv
