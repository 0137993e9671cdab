// Whole runs through the engine's entry: fits against reference fits made
// with R on the same simulated data (tests/fixtures/fits/make_fits.R), every
// input error with its message and code, and what the driver does that users
// see (restarts after false convergence, runs that end without results,
// finished runs with or without standard errors).
#include <gtest/gtest.h>

#include <cmath>

#include "plugin/fit_phases.h"
#include "plugin/run_driver.h"
#include "plugin/text_format.h"
#include "support/csv_data.h"
#include "support/run_builder.h"

namespace kurv {
namespace {

using testing::MemoryHost;
using Args = std::vector<std::pair<int, const char*>>;
using Matrices = std::map<std::string, std::vector<double>>;

// Runs the engine on `host` with the default arguments (one CNORM group of
// order 0 on one period) changed as given.
int run(MemoryHost& host, const Args& changes, const Matrices& matrices, RunSummary* summary = nullptr) {
  auto args = testing::defaultArgs();
  for (const auto& [position, value] : changes) testing::setArg(args, position, value);
  for (const auto& [name, values] : matrices) host.setRowVector(name, values);
  std::vector<const char*> argv;
  for (const auto& a : args) argv.push_back(a.c_str());
  return runCommand(host, 39, argv.data(), summary);
}

struct ReferenceFit {
  const char* name;
  Args args;  // beyond 5 periods of model 1
  Matrices matrices;
  int scale;  // kurv's sigma (R: log sigma), -1 for none
  // Mixtures have several optima: they start at R's solution in the user's
  // form (sigma itself; group percentages when there are no risk factors),
  // and R gives no standard errors for them.
  bool mixture, percentages;
};

const ReferenceFit kFits[] = {
    {"cnorm1", {{1, "cnorm"}, {9, "0"}, {10, "6"}}, {{"kurv_mat_order1", {1}}}, 2, false, false},
    {"logit1", {{1, "logit"}}, {{"kurv_mat_order1", {2}}}, -1, false, false},
    {"poisson1", {{1, "poisson"}}, {{"kurv_mat_order1", {1}}}, -1, false, false},
    {"zip1", {{1, "zip"}, {11, "1"}}, {{"kurv_mat_order1", {1}}, {"kurv_mat_iorder1", {0}}}, -1, false, false},
    {"cnorm2", {{8, "2"}, {9, "-1e6"}, {10, "1e6"}, {35, "7"}}, {{"kurv_mat_order1", {1, 1}}}, 4, true, true},
    {"logit3", {{1, "logit"}, {3, "1"}, {8, "3"}, {35, "10"}}, {{"kurv_mat_order1", {1, 1, 1}}}, -1, true, false},
};

TEST(ReferenceFits, LikelihoodEstimatesAndOneGroupStandardErrors) {
  const std::string dir = std::string(KURV_FIXTURE_DIR) + "/fits/";
  for (const ReferenceFit& fit : kFits) {
    SCOPED_TRACE(fit.name);
    const auto ref = testing::readReferenceFile(dir + fit.name + ".ref");
    const std::vector<double>& est = ref.at("est");
    std::vector<double> start = est;
    if (fit.scale >= 0) start[fit.scale] = std::exp(est[fit.scale]);
    if (fit.percentages) {  // two groups, log-odds c of group 2: 100 / (1 + e^c) and 100 e^c / (1 + e^c)
      start.back() = 100 / (1 + std::exp(est.back()));
      start.push_back(100 - start.back());
    }
    MemoryHost host;
    host.data = testing::readNumericCsv(dir + fit.name + ".csv").rows;
    if (fit.mixture) host.setRowVector("kurv_start", start);
    RunSummary s;
    Args args = fit.args;
    args.push_back({2, "5"});
    ASSERT_EQ(run(host, args, fit.matrices, &s), 0) << host.errors;
    ASSERT_TRUE(s.fitted) << host.stdoutText;
    ASSERT_EQ(s.nParams, static_cast<int>(est.size()));
    // Measured under every OpenBLAS kernel (they agree to 3 digits): the
    // log-likelihoods within 1e-11 relative, estimates within 7e-6 and standard
    // errors within 3e-6 (worst: the Poisson fits); the tolerances leave a
    // factor 15 or more. kurv's covariance carries the small-sample factor
    // N / (N - n + 1).
    EXPECT_NEAR(s.logLikelihood, ref.at("loglik")[0], 1e-9 * std::fabs(ref.at("loglik")[0]));
    const double factor = std::sqrt(s.nMeasurements / (s.nMeasurements - s.nParams + 1.0));
    for (int k = 0; k < s.nParams; ++k) {
      EXPECT_NEAR(k == fit.scale ? std::log(s.estimates[k]) : s.estimates[k], est[k],
                  1e-4 * std::max(1.0, std::fabs(est[k]))) << "estimate " << k;
      if (!fit.mixture) {
        EXPECT_NEAR(s.stdErrors[k] / factor, ref.at("se")[k], 1e-4 * ref.at("se")[k]) << "se " << k;
      }
    }
  }
}

// Runs that end without results: the message on the error output (code 198)
// or, for a minimizer failure, on standard output (code 0).
struct RunCase {
  Args args;
  Matrices matrices;  // an empty one is absent
  const char* message;
  int code = 198;
  int claimedObservations = 0;  // what the host claims to hold, when not its 2 rows
};

#define ORDERS "orders must be whole numbers from -1 to 5.\n"
const RunCase kCases[] = {
    {{{2, "-2"}}, {}, "The number of periods of model 1 (argument 2) must not be negative; -2 was given.\n"},
    {{{8, "0"}}, {}, "Model 1 needs at least one group; 0 were given.\n"},
    {{{2, "0"}}, {}, "Model 1 needs at least one period; 0 were given.\n"},
    {{{35, "-1"}}, {}, "The number of start values (argument 35) must not be negative; -1 was given.\n"},
    {{{1, "CNORM"}}, {}, "Model 1 is \"CNORM\": the trajectory model must be cnorm, logit, zip or poisson.\n"},
    {{{18, "probit"}, {19, "1"}, {23, "1"}}, {{"kurv_mat_order2", {0}}},
     "Model 2 is \"probit\": the trajectory model must be cnorm, logit, zip or poisson.\n"},
    {{}, {{"kurv_mat_order1", {}}}, "Host matrix kurv_mat_order1 is missing or holds fewer than 1 values.\n"},
    {{{8, "3"}}, {}, "Host matrix kurv_mat_order1 is missing or holds fewer than 3 values.\n"},
    {{}, {{"kurv_mat_order1", {6}}}, "The polynomial order of group 1 of model 1 is 6; " ORDERS},
    {{}, {{"kurv_mat_order1", {-2}}}, "The polynomial order of group 1 of model 1 is -2; " ORDERS},
    {{{1, "zip"}, {11, "1"}}, {{"kurv_mat_iorder1", {9}}}, "The zero-inflation order 1 of model 1 is 9; " ORDERS},
    {{{13, "1"}}, {{"kurv_mat_dropoutorder1", {-3}}}, "The dropout order 1 of model 1 is -3; " ORDERS},
    {{{11, "1"}}, {{"kurv_mat_iorder1", {0}}},
     "Zero-inflation orders were given for model 1, which is not a zip or poisson model.\n"},
    {{{2, "3"}, {6, "4"}}, {},
     "The 4 time-varying covariate columns are not a multiple of the 3 periods of model 1.\n"},
    {{{2, "2"}, {14, "3"}}, {}, "The 3 dropout covariate columns are not a multiple of the 2 periods of model 1.\n"},
    {{{2, "3"}, {5, "2"}}, {}, "Model 1 has 2 exposure columns; give none or one per period (3).\n"},
    {{{7, "2"}}, {}, "2 plot covariate values were given but model 1 has only 0 covariate columns.\n"},
    {{{1, "zip"}, {8, "3"}, {11, "2"}}, {{"kurv_mat_order1", {0, 0, 0}}, {"kurv_mat_iorder1", {0, 0}}},
     "2 zero-inflation orders were given for the 3 groups of model 1; give one shared order or one per group.\n"},
    {{{17, "2"}}, {}, "The reference group 2 does not exist: model 1 has 1 groups.\n"},
    {{{28, "cnorm"}}, {}, "A third trajectory model is only possible in a multi-trajectory run.\n"},
    {{{34, "1"}}, {}, "A multi-trajectory model needs at least two components.\n"},
    {{{34, "1"}, {18, "cnorm"}, {19, "1"}, {23, "2"}}, {{"kurv_mat_order2", {0, 0}}},
     "The components of a multi-trajectory model must have the same number of groups: model 1 has 1, "
     "model 2 has 2.\n"},
    {{{16, "probit"}}, {}, "OMODEL is not CNORM, ZIP, POISSON, LOGIT or NORMAL.\n"},
    {{{2, "100000000"}}, {}, "The data hold fewer than the 200000000 variables the arguments describe.\n"},
    {{{35, "3"}}, {}, "Incorrect number of start values, the correct number is 2.\n"},
    {{{35, "2"}}, {{"kurv_start", {1}}}, "Host matrix kurv_start is missing or holds fewer than 2 values.\n"},
    // More subjects than memory can describe: refused before the arrays are allocated.
    {{{8, "50"}}, {{"kurv_mat_order1", std::vector<double>(50, 5.0)}}, "Not enough memory for this model.\n",
     198, 2000000000},
    // After the data are read: weights (column 3) of 0 exclude everyone; a
    // Poisson mean below DBL_MIN for counts of 1 and 2 cannot be computed.
    {{{4, "1"}}, {}, "No observations with trajectory data.\n"},
    {{{1, "poisson"}, {35, "1"}}, {{"kurv_start", {-800}}}, " Likelihood could not be computed", 0},
};

// A host that may claim far more observations than it holds.
struct ClaimingHost : MemoryHost {
  int claimed = 0;
  int observationCount() override { return claimed ? claimed : MemoryHost::observationCount(); }
};

TEST(Run, InputErrorsAndFailuresEndWithTheirMessageAndNothingWritten) {
  for (const RunCase& c : kCases) {
    ClaimingHost host;
    host.claimed = c.claimedObservations;
    host.data = {{1.0, 0.0, 0.0}, {2.0, 1.0, 0.0}};  // y, t and a weight or outcome column
    host.setRowVector("kurv_mat_order1", {0});
    host.createMatrix("parmData", 1, 2, -99);
    EXPECT_EQ(run(host, c.args, c.matrices), c.code) << c.message;
    EXPECT_EQ(c.code ? host.errors : host.stdoutText, c.message);
    const bool readData = host.displayed.find("observations read") != std::string::npos;
    EXPECT_EQ(readData, &c >= &kCases[std::size(kCases) - 2]) << c.message;
    EXPECT_EQ(host.matrices["parmData"][0][0], -99) << c.message;
    EXPECT_EQ(host.data[0].size(), 3u) << c.message;  // no posterior variable stored
  }
}

// f = sum (x - 1)^2 with a gradient that points the wrong way: no trial step
// decreases f, so every minimizer run ends in false convergence.
int bowl(int n, const double* x, double* f, ModelContext*) {
  *f = 0;
  for (int i = 0; i < n; ++i) *f += (x[i] - 1) * (x[i] - 1);
  return 0;
}
int wrongGradient(int n, const double* x, int*, double* g, ModelContext*) {
  for (int i = 0; i < n; ++i) g[i] = -2 * (x[i] - 1);
  return 0;
}

TEST(FitPhase, FalseConvergenceRestartsThreeTimesAndAnEvaluationLimitEndsTheRun) {
  for (bool falseConvergence : {true, false}) {
    // A one-group CNORM model on three subjects and one period.
    MemoryHost host;
    host.data = {{1.0, 0.0}, {2.0, 0.0}, {4.0, 0.0}};
    host.setRowVector("kurv_mat_order1", {0});
    auto ctx = testing::prepareTestRun(host, testing::defaultArgs());
    ASSERT_TRUE(ctx);
    ctx->params = {3.0, -2.0, 0.0};
    MinimizerState state;
    FitControl control;
    if (falseConvergence) {
      control.likelihood = bowl;
      control.gradient = wrongGradient;
    } else {
      control.maxFuncEvals = 3;
    }
    EXPECT_EQ(fitModel(*ctx, state, &control), falseConvergence);  // whether results follow
    EXPECT_EQ(state.returnCode, falseConvergence ? 8 : 9);
    EXPECT_EQ(control.minimizerRuns, falseConvergence ? 4 : 1);
    EXPECT_EQ(host.stdoutText, falseConvergence ? " False convergence" : " Function evaluation limit");
  }
}

TEST(Run, FinishedRunWritesEveryResultWithOrWithoutStandardErrors) {
  for (const char* novar : {"0", "1"}) {
    SCOPED_TRACE(novar);
    // Ten subjects on two periods in two well separated groups of 4 and 6.
    MemoryHost host;
    for (int i = 0; i < 10; ++i) {
      const double level = i < 4 ? 1.0 : 6.0, wiggle = 0.1 * ((i * 7) % 5) - 0.2;
      host.data.push_back({level + wiggle, level + 0.5 - wiggle, 0.0, 1.0});
    }
    host.createMatrix("parmData", 1, 4, -99);  // the host objects a front end creates
    host.createMatrix("varData", 4, 4, -99);
    host.createMatrix("groupPct1", 1, 2, -99);
    RunSummary s;
    ASSERT_EQ(run(host, {{2, "2"}, {8, "2"}, {38, novar}}, {{"kurv_mat_order1", {0, 0}}}, &s), 0) << host.errors;
    ASSERT_TRUE(s.fitted) << host.stdoutText;
    for (int j = 0; j < 4; ++j) EXPECT_EQ(host.matrices["parmData"][0][j], s.estimates[j]);
    EXPECT_NEAR(host.matrices["groupPct1"][0][0], 40.0, 1e-6);
    EXPECT_NEAR(host.matrices["groupPct1"][0][1], 60.0, 1e-6);
    // Most likely group, then the two posteriors, from variable 5 on.
    EXPECT_EQ(host.value(5, 1), 1.0);
    EXPECT_EQ(host.value(5, 10), 2.0);
    EXPECT_NEAR(host.value(6, 1) + host.value(7, 1), 1.0, 1e-12);
    EXPECT_EQ(host.macros["_outvars"], "interc1 interc2 sigma theta2 ");
    // BIC with N = 20 measurements and N = 10 subjects, AIC and L for 4 parameters.
    const double L = s.logLikelihood;
    EXPECT_NE(host.displayed.find(formatText(" BIC=%9.2f (N=20)  BIC=%9.2f (N=10)  AIC=%9.2f  L=%9.2f\n",
                                             L - 2 * std::log(20.0), L - 2 * std::log(10.0), L - 4, L)),
              std::string::npos);
    const std::string omitted = "Standard error calculations omitted by NOVAR option.\n";
    EXPECT_EQ(host.displayed.find(omitted) != std::string::npos, *novar == '1');
    // Without standard errors: missing errors and a zero covariance.
    const double var0 = *novar == '1' ? 0.0 : s.stdErrors[0] * s.stdErrors[0];
    EXPECT_EQ(s.stdErrors[1] == testing::kHostMissing, *novar == '1');
    EXPECT_NEAR(host.matrices["varData"][0][0], var0, 1e-12);
    EXPECT_EQ(host.matrices["varData"][1][0], *novar == '1' ? 0.0 : s.covariance[1 * 4 + 0]);
  }
}

}  // namespace
}  // namespace kurv
