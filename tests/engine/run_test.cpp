// Whole runs (fits against R's on the same data, tests/fixtures/fits and
// joint; every input error; what the driver does that users see) and run
// records after preparation (the layout of every option set; given start values).
#include <gtest/gtest.h>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <fstream>
#include <iterator>
#include <set>
#include <sstream>

#include "engine/fit_phases.h"
#include "engine/prepare_run.h"
#include "engine/start_values.h"
#include "core/text_format.h"
#include "report/estimates_table.h"
#include "support/csv_data.h"
#include "support/run_builder.h"

namespace kurv {
namespace {

using testing::MemoryHost;
using Args = testing::ArgChanges;
using Matrices = std::map<std::string, std::vector<double>>;

// Default arguments (one CNORM group on one period) changed; matrices over orders 0.
std::vector<std::string> argsWith(MemoryHost& host, const Args& changes, const Matrices& matrices) {
  for (const char* name : {"kurv_mat_order1", "kurv_mat_order2", "kurv_mat_dropoutorder1", "kurv_mat_rorder1"})
    host.setRowVector(name, {0, 0, 0});
  for (const auto& [name, values] : matrices) host.setRowVector(name, values);
  return testing::argsWith(changes);
}

int run(MemoryHost& host, const Args& changes, const Matrices& matrices, RunSummary* summary = nullptr) {
  return testing::runWithArgs(host, argsWith(host, changes, matrices), summary);
}

// Fits of R's on the same data (fits/make_fits.R). Mixtures have several
// optima: they start at R's solution in the user's form (sigma itself; group
// percentages without risk factors), the joint fit at the simulation's truth;
// R gives no standard errors of mixtures.
struct ReferenceFit {
  const char* name;  // below tests/fixtures
  Args args;         // on 5 periods unless given
  Matrices matrices;
  int scale;  // kurv's sigma (R: log sigma), -1 for none
  bool mixture, percentages;
  double tolerance = 1e-9;  // of the log-likelihood, relative
};

const ReferenceFit kFits[] = {
    {"fits/cnorm1", {{9, "0"}, {10, "6"}}, {{"kurv_mat_order1", {1}}}, 2, false, false},
    {"fits/logit1", {{1, "logit"}}, {{"kurv_mat_order1", {2}}}, -1, false, false},
    {"fits/poisson1", {{1, "poisson"}}, {{"kurv_mat_order1", {1}}}, -1, false, false},
    {"fits/zip1", {{1, "zip"}, {11, "1"}}, {{"kurv_mat_order1", {1}}, {"kurv_mat_iorder1", {0}}}, -1, false, false},
    {"fits/cnorm2", {{8, "2"}, {9, "-1e6"}, {10, "1e6"}, {35, "7"}}, {{"kurv_mat_order1", {1, 1}}}, 4, true, true},
    {"fits/logit3", {{1, "logit"}, {3, "1"}, {8, "3"}, {35, "10"}}, {{"kurv_mat_order1", {1, 1, 1}}}, -1, true, false},
    // A normal, a binary and a count outcome sharing two groups
    // (fits/make_multi_fits.R, flexmix with one latent class per subject).
    {"fits/multi_mixed",
     {{2, "4"}, {8, "2"}, {9, "-1e6"}, {10, "1e6"}, {18, "logit"}, {19, "4"}, {23, "2"}, {28, "poisson"}, {29, "4"},
      {30, "2"}, {34, "2"}, {35, "15"}},
     {{"kurv_mat_order1", {1, 1}}, {"kurv_mat_order2", {1, 1}}, {"kurv_mat_order3", {1, 1}}}, 4, true, true, 1e-6},
    // A censored normal model with a membership risk factor and a logit model
    // conditional on it (joint/make_joint_fit.R: R's nlminb maximum of the
    // joint likelihood written from its definition).
    {"joint/joint_fit", {{3, "1"}, {8, "2"}, {9, "0"}, {18, "logit"}, {19, "5"}, {23, "2"}, {35, "14"}},
     {{"kurv_mat_order1", {1, 1}}, {"kurv_mat_order2", {0, 1}}}, 4, true, false, 1e-6},
};

// A fit of `fit`'s data against R's log-likelihood, estimates and, of a
// single group, standard errors; a mixture from its given start or from the
// default start values.
void expectReferenceFit(MemoryHost& host, const ReferenceFit& fit, bool given = true) {
  const std::string path = std::string(KURV_FIXTURE_DIR) + "/" + fit.name;
  const auto ref = testing::readReferenceFile(path + ".ref");
  const std::vector<double>& est = ref.at("est");
  std::vector<double> start = est;
  if (fit.scale >= 0) start[fit.scale] = std::exp(est[fit.scale]);
  if (fit.percentages) {  // two groups, log-odds c of group 2: 100 / (1 + e^c) and the rest
    start.back() = 100 / (1 + std::exp(est.back()));
    start.push_back(100 - start.back());
  }
  if (ref.count("start")) start = ref.at("start");
  host.data = testing::readNumericCsv(path + ".csv").rows;
  if (fit.mixture) host.setRowVector("kurv_start", start);
  RunSummary s;
  Args args = fit.args;
  args.insert(args.begin(), {2, "5"});
  if (!given) args.push_back({35, "0"});
  ASSERT_EQ(run(host, args, fit.matrices, &s), 0) << host.errors;
  ASSERT_TRUE(s.fitted) << host.stdoutText;
  ASSERT_EQ(s.nParams, static_cast<int>(est.size()));
  // Measured under every OpenBLAS kernel (they agree to 3 digits): log-
  // likelihoods within 1e-11 relative, estimates within 7e-6, standard errors
  // within 3e-6 (worst: Poisson); the tolerances leave a factor 15 or more.
  // kurv's covariance carries the small-sample factor N / (N - n + 1).
  EXPECT_NEAR(s.logLikelihood, ref.at("loglik")[0], fit.tolerance * std::fabs(ref.at("loglik")[0]));
  const double factor = std::sqrt(s.nMeasurements / (s.nMeasurements - s.nParams + 1.0));
  for (int k = 0; k < s.nParams; ++k) {
    EXPECT_NEAR(k == fit.scale ? std::log(s.estimates[k]) : s.estimates[k], est[k],
                1e-4 * std::max(1.0, std::fabs(est[k]))) << "estimate " << k;
    if (!fit.mixture) {
      // R's scale error is that of ln sigma: se(sigma) / sigma by the delta method.
      const double se = k == fit.scale ? s.stdErrors[k] / s.estimates[k] : s.stdErrors[k];
      EXPECT_NEAR(se / factor, ref.at("se")[k], 1e-4 * ref.at("se")[k]) << "se " << k;
    }
  }
}

TEST(ReferenceFits, LikelihoodEstimatesAndOneGroupStandardErrors) {
  for (const ReferenceFit& fit : kFits) {
    SCOPED_TRACE(fit.name);
    MemoryHost host;
    expectReferenceFit(host, fit);
  }
}

// The multi-trajectory fit reaches R's maximum from the default start values
// too, and writes every component's results: one name per parameter; every
// component's share matrix holds the shared shares; each component's plot
// series holds its observed averages weighted by the posteriors stored after
// the 24 data columns (the posteriors themselves: tests/models; the plot
// files: tests/cli/families_fit_test.cpp).
TEST(ReferenceFits, MultiTrajectoryFromTheDefaultStartWritesEveryComponent) {
  MemoryHost host;
  for (const char* m : {"1", "2", "3"}) {
    host.createMatrix(std::string("groupPct") + m, 1, 2, -1.0);
    host.createMatrix(std::string("outPlot") + m, 4, 9, -1.0);
  }
  expectReferenceFit(host, kFits[6], false);
  EXPECT_EQ(host.macros["_outvars"], "interc1 linear1 interc2 linear2 sigma1 m2interc1 m2linear1 m2interc2 "
                                     "m2linear2 m3interc1 m3linear1 m3interc2 m3linear2 mtheta2 ");
  const std::vector<double> est = testing::readReferenceFile(std::string(KURV_FIXTURE_DIR) + "/fits/multi_mixed.ref").at("est");
  const double share1 = 100 / (1 + std::exp(est.back()));
  for (const char* m : {"1", "2", "3"})
    EXPECT_NEAR(host.matrices.at(std::string("groupPct") + m)[0][0], share1, 1e-3 * share1) << m;
  // Each component's observed averages: at every period the posterior-
  // weighted mean of its outcome (these data miss nothing), in the columns
  // after the time. Then its predictions at the period's mean time from R's
  // estimates (b0 + b1 t; the logistic of it; its exponential), inside a band
  // of positive width that stays within the outcome's range.
  for (int m = 0; m < 3; ++m)
    for (int t = 0; t < 4; ++t)
      for (int g = 0; g < 2; ++g) {
        double weight = 0.0, sum = 0.0;
        for (int obs = 1; obs <= 150; ++obs) {
          const double p = host.value(26 + g, obs);
          weight += p, sum += p * host.data[obs - 1][8 * m + t];
        }
        const std::vector<double>& row = host.matrices.at("outPlot" + std::to_string(m + 1))[t];
        EXPECT_NEAR(row[1 + g], sum / weight, 1e-9) << m << t << g;
        const int b = (m == 0 ? 0 : m == 1 ? 5 : 9) + 2 * g;
        const double eta = est[b] + est[b + 1] * row[0];
        const double predicted = m == 0 ? eta : m == 1 ? 1.0 / (1.0 + std::exp(-eta)) : std::exp(eta);
        EXPECT_NEAR(row[3 + g], predicted, 1e-3 * std::max(1.0, predicted)) << m << t << g;
        const double lower = row[5 + 2 * g], upper = row[6 + 2 * g];
        EXPECT_TRUE(lower < row[3 + g] && row[3 + g] < upper && (m == 0 || lower >= 0.0) && (m != 1 || upper <= 1.0))
            << m << t << g << ": " << lower << " " << row[3 + g] << " " << upper;
      }
}

// A joint run (model 2 of one period and two groups beside model 1's two
// groups) or a multi-trajectory one with the same two components.
Args joint(Args changes) {
  changes.insert(changes.begin(), {{8, "2"}, {18, "cnorm"}, {19, "1"}, {23, "2"}});
  return changes;
}
Args multi(Args changes) {
  changes.insert(changes.begin(), {34, "2"});
  return joint(changes);
}

// Runs that end without results (tests/fixtures/engine/input_errors.txt):
// the message on the error output (code 198) or, for a minimizer failure, on
// standard output (code 0).
struct RunCase {
  int code, claimedObservations = 0;  // what the host claims to hold, when not its 2 rows
  bool readsData;
  Args args;
  Matrices matrices;
  std::string message;
};

std::vector<RunCase> runCases() {
  std::vector<RunCase> cases;
  std::ifstream in(std::string(KURV_FIXTURE_DIR) + "/engine/input_errors.txt");
  for (std::string line; std::getline(in, line);) {
    if (line.empty() || line[0] == '#') continue;
    const std::size_t a = line.find(" | "), b = line.find(" | ", a + 3), c = line.find(" | ", b + 3);
    RunCase r;
    std::string when, word;
    std::istringstream head(line.substr(0, a)), args(line.substr(a + 3, b - a - 3)), matrices(line.substr(b + 3, c - b - 3));
    head >> r.code >> when >> r.claimedObservations;
    r.readsData = when == "after";
    while (args >> word) r.args.push_back({std::stoi(word), word.substr(word.find('=') + 1)});
    while (matrices >> word) {
      std::vector<double>& values = r.matrices[word.substr(0, word.find('='))];
      std::istringstream list(word.substr(word.find('=') + 1));
      for (std::string v; std::getline(list, v, ',');) values.push_back(std::stod(v));
    }
    // A backslash and an n in the file stand for a line break.
    r.message = line.substr(c + 3);
    for (std::size_t k; (k = r.message.find("\\n")) != std::string::npos;) r.message.replace(k, 2, "\n");
    cases.push_back(r);
  }
  return cases;
}

// A host that may claim far more observations than it holds.
struct ClaimingHost : MemoryHost {
  int claimed = 0;
  int observationCount() override { return claimed ? claimed : MemoryHost::observationCount(); }
};

TEST(Run, InputErrorsAndFailuresEndWithTheirMessageAndNothingWritten) {
  const std::vector<RunCase> cases = runCases();
  ASSERT_EQ(cases.size(), 42u);
  for (const RunCase& c : cases) {
    ClaimingHost host;
    host.claimed = c.claimedObservations;
    host.data = {{1.0, 0.0, 0.0, 0.0}, {2.0, 1.0, 0.0, 0.0}};  // y, t, a weight or outcome column, one more
    host.createMatrix("parmData", 1, 2, -99);
    EXPECT_EQ(run(host, c.args, c.matrices), c.code) << c.message;
    EXPECT_EQ(c.code ? host.errors : host.stdoutText, c.message);
    const bool readData = host.displayed.find("observations read") != std::string::npos;
    EXPECT_EQ(readData, c.readsData) << c.message;
    EXPECT_EQ(host.matrices["parmData"][0][0], -99) << c.message;
    EXPECT_EQ(host.data[0].size(), 4u) << c.message;  // no posterior variable stored
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
    MemoryHost host;
    host.data = {{1.0, 0.0}, {2.0, 0.0}, {4.0, 0.0}};
    auto ctx = testing::prepareTestRun(host, argsWith(host, {}, {}));
    ASSERT_TRUE(ctx);
    MinimizerState state;
    FitControl control = falseConvergence ? FitControl{bowl, wrongGradient} : FitControl{nullptr, nullptr, 3};
    EXPECT_EQ(fitModel(*ctx, *modelFamily(familyOf(*ctx)), state, &control), falseConvergence);  // whether results follow
    EXPECT_EQ(state.returnCode, falseConvergence ? 8 : 9);
    EXPECT_EQ(control.minimizerRuns, falseConvergence ? 4 : 1);
    EXPECT_EQ(host.stdoutText, falseConvergence ? " False convergence" : " Function evaluation limit");
  }
}

TEST(Run, FinishedRunWritesEveryResultWithOrWithoutStandardErrors) {
  for (const char* novar : {"0", "1"}) {
    SCOPED_TRACE(novar);
    const bool omitted = *novar == '1';
    // Ten subjects on two periods in two overlapping groups of about 4 and 6.
    MemoryHost host;
    for (int i = 0; i < 10; ++i) {
      const double level = i < 4 ? 1.0 : 2.0, wiggle = 0.2 * ((i * 7) % 5) - 0.4;
      host.data.push_back({level + wiggle, level + 0.3 + wiggle / 2, 0.0, 1.0});
    }
    host.createMatrix("parmData", 1, 4, -99);  // the host objects a front end creates
    host.createMatrix("varData", 4, 4, -99);
    host.createMatrix("groupPct1", 1, 2, -99);
    host.createMatrix("outPlot1", 2, 9, -99);
    RunSummary s;
    ASSERT_EQ(run(host, {{2, "2"}, {8, "2"}, {38, novar}}, {{"kurv_mat_order1", {0, 0}}}, &s), 0) << host.errors;
    ASSERT_TRUE(s.fitted) << host.stdoutText;
    EXPECT_EQ(host.macros["_outvars"], "interc1 interc2 sigma theta2 ");
    for (int j = 0; j < 4; ++j) EXPECT_EQ(host.matrices["parmData"][0][j], s.estimates[j]);
    // From variable 5 on: the most likely group (a tie goes to group 1) and the
    // posteriors by Bayes' rule from interc1 interc2 sigma theta2 (prior odds
    // e^theta2, normal densities), equal up to rounding; the shares are their means.
    const std::vector<double>& b = s.estimates;
    double share1 = 0.0, sum[2][2] = {}, weight[2] = {};  // [group][period] posterior-weighted sums
    for (int i = 0; i < 10; ++i) {
      double term[2] = {1.0, std::exp(b[3])};
      for (int g = 0; g < 2; ++g)
        for (int t = 0; t < 2; ++t) term[g] *= std::exp(-0.5 * std::pow((host.data[i][t] - b[g]) / b[2], 2));
      const double p1 = term[0] / (term[0] + term[1]);
      EXPECT_EQ(host.value(5, i + 1), p1 >= 0.5 ? 1.0 : 2.0) << i;
      EXPECT_NEAR(host.value(6, i + 1), p1, 1e-12 * (p1 + 1e-3)) << i;
      EXPECT_NEAR(host.value(7, i + 1), 1 - p1, 1e-12 * (1 - p1 + 1e-3)) << i;
      share1 += 10 * p1;
      for (int g = 0; g < 2; ++g) {
        weight[g] += g == 0 ? p1 : 1 - p1;
        for (int t = 0; t < 2; ++t) sum[g][t] += (g == 0 ? p1 : 1 - p1) * host.data[i][t];
      }
    }
    // Plot series at the mean times 0 and 1: posterior-weighted observed means;
    // an uncensored constant trajectory predicts its intercept, with the band
    // intercept -+ 1.96 se (none without standard errors).
    for (int t = 0; t < 2; ++t) {
      const std::vector<double>& row = host.matrices["outPlot1"][t];
      EXPECT_EQ(row[0], t);
      for (int g = 0; g < 2; ++g) {
        const double half = omitted ? 0.0 : 1.96 * s.stdErrors[g];
        EXPECT_NEAR(row[1 + g], sum[g][t] / weight[g], 1e-9) << t << g;
        EXPECT_NEAR(row[3 + g], b[g], 1e-12) << t << g;
        EXPECT_NEAR(row[5 + 2 * g], b[g] - half, 1e-9) << t << g;
        EXPECT_NEAR(row[6 + 2 * g], b[g] + half, 1e-9) << t << g;
      }
    }
    EXPECT_NEAR(host.matrices["groupPct1"][0][0], share1, 1e-10);
    EXPECT_NEAR(host.matrices["groupPct1"][0][1], 100 - share1, 1e-10);
    // BIC with N = 20 measurements and N = 10 subjects, AIC and L for 4 parameters.
    const double L = s.logLikelihood;
    EXPECT_NE(host.displayed.find(formatText(" BIC=%9.2f (N=20)  BIC=%9.2f (N=10)  AIC=%9.2f  L=%9.2f\n",
                                             L - 2 * std::log(20.0), L - 2 * std::log(10.0), L - 4, L)),
              std::string::npos);
    // Without standard errors: a note, missing errors and a zero covariance.
    EXPECT_EQ(host.displayed.find("Standard error calculations omitted by NOVAR option.\n") != std::string::npos,
              omitted);
    EXPECT_EQ(s.stdErrors[1] == testing::kHostMissing, omitted);
    EXPECT_NEAR(host.matrices["varData"][0][0], omitted ? 0.0 : s.stdErrors[0] * s.stdErrors[0], 1e-12);
    EXPECT_EQ(host.matrices["varData"][1][0], omitted ? 0.0 : s.covariance[1 * 4 + 0]);
  }
}

struct OptionSet {
  Args args;
  Matrices matrices;
  int nDataVars, nParams, nStartValues;  // counted by hand
  const char* names = nullptr;           // the whole list where it is pinned
};

const OptionSet kOptionSets[] = {
    {{{2, "3"}, {8, "3"}}, {{"kurv_mat_order1", {1, 2, 3}}}, 6, 12, 13},  // 2 + 3 + 4, sigma, 2 constants
    // Two covariates per period, two risk factors, group 2 of order -1.
    {{{1, "logit"}, {2, "3"}, {3, "2"}, {6, "6"}, {7, "1"}, {8, "2"}},
     {{"kurv_mat_order1", {2, -1}}, {"kurv_plottcov1", {0.5}}}, 14, 8, 8,
     "interc1 linear1 quadra1 tca1 tcb1 const2 age2 sex_of_the_s2 "},
    // Zero inflation of order 2 shared (3), or of orders 0 and 1 per group (1 + 2).
    {{{1, "zip"}, {2, "2"}, {8, "2"}, {11, "1"}}, {{"kurv_mat_order1", {1, 2}}, {"kurv_mat_iorder1", {2}}},
     4, 9, 10},
    {{{1, "zip"}, {2, "2"}, {8, "2"}, {11, "2"}}, {{"kurv_mat_order1", {1, 2}}, {"kurv_mat_iorder1", {0, 1}}},
     4, 9, 10, "interc1 linear1 interc2 linear2 quadra2 alpha0g1 alpha0g2 alpha1g2 theta2 "},
    // Dropout orders 1 and 2 per group with one dropout covariate per period.
    {{{2, "4"}, {8, "2"}, {13, "2"}, {14, "4"}}, {{"kurv_mat_order1", {1, 1}}, {"kurv_mat_dropoutorder1", {1, 2}}}, 12,
     13, 14, "interc1 linear1 interc2 linear2 drop0g1 drop1g1 dca1 drop0g2 drop1g2 drop2g2 dca2 sigma theta2 "},
    // Outcome analysis: a constant per group and the outcome's own parameter.
    {{{8, "3"}, {16, "poisson"}}, {}, 3, 9, 10},
    {{{8, "3"}, {16, "zip"}}, {}, 3, 10, 11},
    {{{8, "3"}, {16, "normal"}}, {}, 3, 10, 11},
    {{{8, "3"}, {16, "logit"}}, {}, 3, 9, 10},
    // Random-effects orders: 1 shared (2), or 0 and 1 per group (1 + 2).
    {{{8, "2"}, {12, "1"}}, {{"kurv_mat_order1", {1, 1}}, {"kurv_mat_rorder1", {1}}}, 2, 8, 9},
    {{{8, "2"}, {12, "2"}}, {{"kurv_mat_order1", {1, 1}}, {"kurv_mat_rorder1", {0, 1}}}, 2, 9, 10},
    {{{8, "3"}, {17, "3"}}, {}, 2, 6, 7, "interc1 interc2 interc3 sigma theta1 theta2 "},  // reference group 3
    {{{19, "5"}, {23, "2"}}, {}, 2, 2, 2},  // a second model "none" takes no part
    // Joint model: 6 coefficients and 3 constants of model 2 (3 x 2 start percentages).
    {{{2, "2"}, {8, "3"}, {18, "logit"}, {19, "3"}, {23, "2"}},
     {{"kurv_mat_order1", {1, 1, 1}}, {"kurv_mat_order2", {2, 2}}}, 10, 18, 22},
};

// The block a name belongs to, by its prefix, in layout order.
int blockOfName(const std::string& name) {
  const std::vector<std::vector<std::string>> prefixes = {
      {"interc", "linear", "quadra", "cubic", "tc"}, {"drop", "dc"}, {"sigma"}, {"rSigma"}, {"alpha"},
      {"theta", "const", "age", "sex"}, {"GROUP", "osigma", "oalpha"}};
  for (std::size_t b = 0; b < prefixes.size(); ++b)
    for (const std::string& prefix : prefixes[b])
      if (name.rfind(prefix, 0) == 0) return static_cast<int>(b);
  return -1;
}

// The layout against counts made by hand and the independent walk of the
// estimates table: blocks follow one another from 0 to nParams, and the name
// the table gives each parameter belongs to the block the layout puts it in.
TEST(ParameterLayout, BlocksFollowOneAnotherAndEachParameterHasOneName) {
  for (const OptionSet& o : kOptionSets) {
    SCOPED_TRACE(::testing::PrintToString(o.args));
    MemoryHost host;
    host.data.assign(3, std::vector<double>(static_cast<std::size_t>(o.nDataVars), 1.0));
    host.macros["_risk1"] = "age sex_of_the_subject extra";  // names are cut to 12 characters
    host.macros["_tcov1"] = "tca tca tca tcb tcb tcb";
    host.macros["_dcov1"] = "dca dca dca dca";
    auto ctx = testing::prepareTestRun(host, argsWith(host, o.args, o.matrices));
    ASSERT_TRUE(ctx) << host.errors;
    EXPECT_EQ(ctx->nDataVars, o.nDataVars);
    EXPECT_EQ(ctx->nParams, o.nParams);
    EXPECT_EQ(expectedStartValueCount(*ctx), o.nStartValues);
    EXPECT_EQ(ctx->plotTcov[0], o.matrices.count("kurv_plottcov1") ? 0.5 : testing::kHostMissing);

    // Block starts of model 1 in layout order (-1: absent).
    const int starts[] = {ctx->paramStart[0], ctx->dropoutStart, ctx->scaleIndex[0], ctx->reStart,
                          ctx->zipStart[0],   ctx->thetaStart,   ctx->outcomeStart,  ctx->paramEnd[0]};
    // A joint run's model 2 follows model 1 up to nParams.
    EXPECT_EQ(ctx->paramStart[1], ctx->isJointModel() ? ctx->paramEnd[0] : 0);
    EXPECT_EQ(ctx->isJointModel() ? ctx->paramEnd[1] : ctx->paramEnd[0], ctx->nParams);

    printEstimatesTable(*ctx);  // names every parameter, a joint run's model 2 included
    std::istringstream words(host.macros["_outvars"]);
    std::vector<std::string> names{std::istream_iterator<std::string>(words), {}};
    ASSERT_EQ(static_cast<int>(names.size()), ctx->nParams);
    EXPECT_EQ(std::set<std::string>(names.begin(), names.end()).size(), names.size());
    EXPECT_TRUE(o.names == nullptr || host.macros["_outvars"] == o.names) << host.macros["_outvars"];
    for (int k = 0; k < ctx->paramEnd[0]; ++k) {
      int block = 0;
      for (int b = 1; b < 7; ++b)
        if (starts[b] >= 0 && starts[b] <= k) block = b;
      EXPECT_EQ(blockOfName(names[k]), block) << "parameter " << k << " named " << names[k];
      // A covariate's row in the table carries the covariate's own name.
      const std::string covariate = names[k].substr(0, names[k].find_first_of("0123456789"));
      if (covariate.size() == 3 && (covariate[0] == 't' || covariate[0] == 'd') && covariate[1] == 'c') {
        EXPECT_NE(host.displayed.find("  " + covariate + " "), std::string::npos) << covariate;
      }
    }
    // The layout names every parameter as the table does, model 2's too;
    // within a model its blocks come in layout order (a group's covariates
    // beside its trajectory, a dropout block's covariates beside it).
    ASSERT_EQ(ctx->layout.size(), ctx->nParams);
    EXPECT_EQ(ctx->layout.nameList().substr(0, host.macros["_outvars"].size()), host.macros["_outvars"]);
    const int byKind[] = {0, 0, 1, 1, 2, 3, 4, 5, 6};
    auto rank = [&](int k) { return ctx->layout.params[k].model * 10 + byKind[static_cast<int>(ctx->layout.params[k].kind)]; };
    for (int k = 1; k < ctx->nParams; ++k) EXPECT_LE(rank(k - 1), rank(k)) << k;
  }
}

// Default starts of a normal outcome analysis's group constants: the range
// mean -+ 2 sd of the outcomes split evenly, v_g = min + (max - min) (g + 1) /
// (G + 1). For three groups they are evenly spaced around the mean, the
// middle one at the mean itself: 5/3 for the outcomes 0, 1 and 4.
TEST(DefaultStartValues, OutcomeConstantsSplitTheOutcomesRangeEvenly) {
  MemoryHost host;
  host.data = {{1.0, 0.0, 0.0}, {2.0, 0.0, 1.0}, {3.0, 0.0, 4.0}};
  auto ctx = testing::prepareTestRun(host, argsWith(host, {{8, "3"}, {16, "normal"}}, {}));
  ASSERT_TRUE(ctx) << host.errors;
  buildDefaultStartValues(*ctx);
  double c[3];
  for (int g = 0; g < 3; ++g) c[g] = ctx->params[ctx->layout.find(0, BlockKind::Outcome, g, 0)];
  EXPECT_NEAR(c[1], 5.0 / 3.0, 1e-15);
  EXPECT_NEAR(c[0] + c[2], 2.0 * c[1], 1e-14);
  EXPECT_LT(c[0], c[1]);
}

// Given start values: sigma itself becomes its logarithm (when it has none,
// 0, or -2 for model 2 of a joint run) and percentages log-odds against the
// reference group, after checks of their range and sum; a failed check ends
// the conversion. Model 2 of a joint run has one set of percentages per
// model-1 group, a multi-trajectory run one shared set after its components.
TEST(GivenStartValues, ScalesAndPercentagesAreCheckedAndConverted) {
  const double low = -std::log(DBL_MAX) - 10.0, l15 = std::log(1.5);
  struct Case {
    Args args;  // groups of order 0: their intercepts, sigma, percentages
    std::vector<double> start;
    const char* message;
    std::vector<double> params = {};  // the converted parameters
  };
  const Case cases[] = {
      {{{8, "2"}}, {1, 2, 0.0, 40, 60}, "", {1, 2, 0.0, std::log(60.0 / 40.0)}},
      // The reference share is r = 1 - 0.505; 50 only enters the sum check.
      {{{8, "3"}}, {1, 2, 3, 1.5, 50, 30, 20.5}, "", {1, 2, 3, l15, std::log(0.30 / 0.495), std::log(0.205 / 0.495)}},
      {{{8, "3"}}, {1, 2, 3, 1.5, 50, 30, 30}, "First set of starting percents add to more than 100. 0.400000 0.500000"},
      {{{8, "3"}}, {1, 2, 3, 1.5, 0, 50, 50}, "Starting percentage =     0.000000 is invalid"},
      {{{8, "3"}}, {1, 2, 3, 1.5, 100, 50, 50}, "Starting percentage =   100.000000 is invalid"},
      {joint({}), {1, 2, 1.5, 40, 60, 3, 4, 0.5, 30, 70, 80, 20}, "",
       {1, 2, l15, std::log(60.0 / 40.0), 3, 4, std::log(0.5), std::log(70.0 / 30.0), std::log(20.0 / 80.0)}},
      // A model-2 share of 0 passes; its log-odds start at the clamp's lower end.
      {joint({}), {1, 2, 0, 50, 50, 3, 4, 0, 100 - 1e-9, 0, 50, 50}, "", {1, 2, 0, 0, 3, 4, -2, low, 0}},
      {joint({}), {1, 2, 1.5, 40, 60, 3, 4, 0.5, 50, 60, 80, 20}, "Second set of starting percentages add to more than 100.",
       {1, 2, l15, std::log(60.0 / 40.0), 3, 4, 0.5, 50, 60}},
      // Reference group 1, the first, is allowed in a multi-trajectory run.
      {multi({{17, "1"}}), {1, 2, 2, 3, 4, 0.5, 40, 60}, "", {1, 2, std::log(2.0), 3, 4, std::log(0.5), std::log(60.0 / 40.0)}},
      {multi({}), {1, 2, 0, 3, 4, 0.5, 40, 60}, "Invalid start value for sigma (model 1)."},
      {multi({}), {1, 2, 2, 3, 4, 0.5, 0, 60}, "Starting percentage =     0.000000 is invalid (mult model)."},
      {multi({}), {1, 2, 2, 3, 4, 0.5, 50, 60}, "Starting percents add to more than 100 (mult model)."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    MemoryHost host;
    host.data = {{1, 0, 0, 0}, {2, 0, 1, 0}, {4, 0, 0, 0}};
    Args args = c.args;
    args.push_back({35, std::to_string(c.start.size())});
    auto ctx = testing::prepareTestRun(host, argsWith(host, args, {{"kurv_start", c.start}}));
    ASSERT_TRUE(ctx) << host.errors;
    convertGivenStartValues(*ctx);
    EXPECT_EQ(host.stdoutText, c.message);
    EXPECT_TRUE(std::equal(c.start.begin(), c.start.end(), ctx->startDisplay.begin()));  // kept for display
    for (std::size_t k = 0; k < c.params.size(); ++k) EXPECT_NEAR(ctx->params[k], c.params[k], 1e-12) << k;
  }
}

}  // namespace
}  // namespace kurv
