// A run record after preparation: the parameter layout of every option set,
// start values in the user's form, and the posterior probabilities handed to
// the host.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <iterator>
#include <map>
#include <set>
#include <sstream>

#include "plugin/prepare_run.h"
#include "plugin/results_to_host.h"
#include "plugin/start_values.h"
#include "report/estimates_table.h"
#include "support/run_builder.h"

namespace kurv {
namespace {

using testing::MemoryHost;

struct OptionSet {
  std::vector<std::pair<int, const char*>> args;
  std::map<std::string, std::vector<double>> matrices;
  int nDataVars, nParams, nStartValues;  // counted by hand
  const char* names = nullptr;           // the whole list where it is pinned
};

const OptionSet kOptionSets[] = {
    // Orders 1, 2, 3: 2 + 3 + 4 coefficients, sigma, 2 constants.
    {{{2, "3"}, {8, "3"}}, {{"kurv_mat_order1", {1, 2, 3}}}, 6, 12, 13},
    // Two covariates per period on 3 periods, two risk factors, group 2 of
    // order -1: 3 + 2 coefficients, (1 + 2) membership coefficients.
    {{{1, "logit"}, {2, "3"}, {3, "2"}, {6, "6"}, {7, "1"}, {8, "2"}},
     {{"kurv_mat_order1", {2, -1}}, {"kurv_plottcov1", {0.5}}}, 14, 8, 8,
     "interc1 linear1 quadra1 tca1 tcb1 const2 age2 sex_of_the_s2 "},
    // Zero inflation of order 2 shared (3), or orders 0 and 1 per group (1 + 2).
    {{{1, "zip"}, {2, "2"}, {8, "2"}, {11, "1"}}, {{"kurv_mat_order1", {1, 2}}, {"kurv_mat_iorder1", {2}}},
     4, 9, 10},
    {{{1, "zip"}, {2, "2"}, {8, "2"}, {11, "2"}}, {{"kurv_mat_order1", {1, 2}}, {"kurv_mat_iorder1", {0, 1}}},
     4, 9, 10, "interc1 linear1 interc2 linear2 quadra2 alpha0g1 alpha0g2 alpha1g2 theta2 "},
    // Dropout orders 1 and 2 per group with one dropout covariate per period:
    // 4 + (2 + 1) + (3 + 1) + sigma + 1.
    {{{2, "4"}, {8, "2"}, {13, "2"}, {14, "4"}}, {{"kurv_mat_order1", {1, 1}}, {"kurv_mat_dropoutorder1", {1, 2}}}, 12,
     13, 14, "interc1 linear1 interc2 linear2 drop0g1 drop1g1 dca1 drop0g2 drop1g2 drop2g2 dca2 sigma theta2 "},
    // Outcome analysis of three groups of order 0: 3 + sigma + 2, then a
    // constant per group and the outcome's own parameter (zip, normal, cnorm).
    {{{8, "3"}, {16, "poisson"}}, {}, 3, 9, 10},
    {{{8, "3"}, {16, "zip"}}, {}, 3, 10, 11},
    {{{8, "3"}, {16, "normal"}}, {}, 3, 10, 11},
    {{{8, "3"}, {16, "cnorm"}}, {}, 3, 10, 11},
    {{{8, "3"}, {16, "logit"}}, {}, 3, 9, 10},
    // Random-effects orders: 1 shared (2), or 0 and 1 per group (1 + 2).
    {{{8, "2"}, {12, "1"}}, {{"kurv_mat_order1", {1, 1}}, {"kurv_mat_rorder1", {1}}}, 2, 8, 9},
    {{{8, "2"}, {12, "2"}}, {{"kurv_mat_order1", {1, 1}}, {"kurv_mat_rorder1", {0, 1}}}, 2, 9, 10},
    // Reference group 3 of 3.
    {{{8, "3"}, {17, "3"}}, {}, 2, 6, 7, "interc1 interc2 interc3 sigma theta1 theta2 "},
    // A second model named "none" takes no part whatever its other arguments.
    {{{19, "5"}, {23, "2"}}, {}, 2, 2, 2},
    // Joint model: model 1 as 6 + sigma + 2; model 2 (logit, 3 periods, two
    // groups of order 2) 6 coefficients and (3 + risk) conditional constants;
    // without risk factors the start values give percentages per group.
    {{{2, "2"}, {8, "3"}, {18, "logit"}, {19, "3"}, {20, "1"}, {23, "2"}},
     {{"kurv_mat_order1", {1, 1, 1}}, {"kurv_mat_order2", {2, 2}}}, 11, 19, 20},
    {{{2, "2"}, {8, "3"}, {18, "logit"}, {19, "3"}, {23, "2"}},
     {{"kurv_mat_order1", {1, 1, 1}}, {"kurv_mat_order2", {2, 2}}}, 10, 18, 22},
};

// The block a name belongs to, by its prefix, in layout order.
int blockOfName(const std::string& name) {
  const std::pair<const char*, int> prefixes[] = {
      {"interc", 0}, {"linear", 0}, {"quadra", 0}, {"cubic", 0}, {"tc", 0}, {"drop", 1}, {"dc", 1},
      {"sigma", 2},  {"rSigma", 3}, {"alpha", 4},  {"theta", 5}, {"const", 5}, {"age", 5}, {"sex_of_the_s", 5},
      {"GROUP", 6},  {"osigma", 6}, {"oalpha", 6}};
  for (const auto& [prefix, block] : prefixes)
    if (name.rfind(prefix, 0) == 0) return block;
  return -1;
}

// The parameter layout against counts made by hand and against the
// independent walk of the estimates table: the blocks follow one another from
// 0 to nParams, and the name the table gives each parameter belongs to the
// block the layout puts it in.
TEST(ParameterLayout, BlocksFollowOneAnotherAndEachParameterHasOneName) {
  for (const OptionSet& o : kOptionSets) {
    SCOPED_TRACE(::testing::PrintToString(o.args));
    MemoryHost host;
    host.data.assign(3, std::vector<double>(static_cast<std::size_t>(o.nDataVars), 1.0));
    host.setRowVector("kurv_mat_order1", {0, 0, 0});  // order 0 for up to 3 groups
    for (const auto& [name, values] : o.matrices) host.setRowVector(name, values);
    host.macros["_risk1"] = "age sex_of_the_subject extra";  // names are cut to 12 characters
    host.macros["_tcov1"] = "tca tca tca tcb tcb tcb";
    host.macros["_dcov1"] = "dca dca dca dca";
    auto args = testing::defaultArgs();
    for (const auto& [position, value] : o.args) testing::setArg(args, position, value);
    auto ctx = testing::prepareTestRun(host, args);
    ASSERT_TRUE(ctx) << host.errors;
    EXPECT_EQ(ctx->nDataVars, o.nDataVars);
    EXPECT_EQ(ctx->nParams, o.nParams);
    EXPECT_EQ(expectedStartValueCount(*ctx), o.nStartValues);
    EXPECT_EQ(ctx->plotTcov[0], o.matrices.count("kurv_plottcov1") ? 0.5 : testing::kHostMissing);

    // Block starts of model 1 in layout order; a block ends where the next
    // one starts, so the order must never go back.
    const int starts[] = {ctx->paramStart[0], ctx->dropoutStart, ctx->scaleIndex[0], ctx->reStart,
                          ctx->zipStart[0],   ctx->thetaStart,   ctx->outcomeStart,  ctx->paramEnd[0]};
    int previous = 0;
    for (int start : starts) {
      EXPECT_TRUE(start == -1 || previous <= start) << start;  // -1: no scale
      previous = std::max(previous, start);
    }
    // A joint run's model 2 follows model 1 up to nParams.
    EXPECT_EQ(ctx->paramStart[1], ctx->isJointModel() ? ctx->paramEnd[0] : 0);
    EXPECT_EQ(ctx->isJointModel() ? ctx->paramEnd[1] : ctx->paramEnd[0], ctx->nParams);

    printEstimatesTable(*ctx);  // names model 1's parameters
    std::istringstream words(host.macros["_outvars"]);
    std::vector<std::string> names{std::istream_iterator<std::string>(words), {}};
    ASSERT_EQ(static_cast<int>(names.size()), ctx->paramEnd[0]);
    EXPECT_EQ(std::set<std::string>(names.begin(), names.end()).size(), names.size());
    EXPECT_TRUE(o.names == nullptr || host.macros["_outvars"] == o.names) << host.macros["_outvars"];
    for (int k = 0; k < ctx->paramEnd[0]; ++k) {
      int block = 0;
      for (int b = 1; b < 7; ++b)
        if (starts[b] >= 0 && starts[b] <= k) block = b;
      EXPECT_EQ(blockOfName(names[k]), block) << "parameter " << k << " named " << names[k];
    }
  }
}

// Sigma itself becomes its logarithm and the group percentages log-odds
// against the reference group, after checks of their range and sum.
TEST(GivenStartValues, PercentagesBecomeLogOddsAfterTheirChecks) {
  struct Case {
    double sigma;
    std::vector<double> pct;
    const char* message;
    std::vector<double> logOdds;  // of groups 2.. against group 1
  };
  const Case cases[] = {
      {1.5, {40, 60}, "", {std::log(60.0 / 40.0)}},
      // The reference share is what the others leave, r = 1 - 0.505; the given
      // 50 only enters the check that the sum does not pass 100 by 1 or more.
      {1.5, {50, 30, 20.5}, "", {std::log(0.30 / 0.495), std::log(0.205 / 0.495)}},
      {0.0, {50, 30, 20.5}, "", {std::log(0.30 / 0.495), std::log(0.205 / 0.495)}},  // sigma 0: log taken as 0
      {1.5, {50, 30, 30}, "First set of starting percents add to more than 100. 0.400000 0.500000", {}},
      {1.5, {0, 50, 50}, "Starting percentage =     0.000000 is invalid", {}},
      {1.5, {100, 50, 50}, "Starting percentage =   100.000000 is invalid", {}},
  };
  for (const Case& c : cases) {
    // CNORM, two periods, one group of order 1 per percentage.
    MemoryHost host;
    host.data = {{1, 3, 0, 1}, {2, 5, 0, 1}, {0, 4, 0, 1}};
    const int groups = static_cast<int>(c.pct.size());
    host.setRowVector("kurv_mat_order1", std::vector<double>(groups, 1.0));
    std::vector<double> start;
    for (int g = 0; g < groups; ++g) start.insert(start.end(), {g + 1.0, 0.0});
    start.push_back(c.sigma);
    start.insert(start.end(), c.pct.begin(), c.pct.end());
    host.setRowVector("kurv_start", start);
    auto args = testing::defaultArgs();
    testing::setArg(args, 2, "2");
    testing::setArg(args, 8, groups);
    testing::setArg(args, 35, static_cast<double>(start.size()));
    auto ctx = testing::prepareTestRun(host, args);
    ASSERT_TRUE(ctx) << host.errors;
    convertGivenStartValues(*ctx);
    EXPECT_EQ(host.stdoutText, c.message);
    EXPECT_EQ(ctx->startDisplay[2 * groups + 1], c.pct[0]);  // the user's form is kept for display
    if (*c.message) continue;
    EXPECT_EQ(ctx->params[2 * groups], c.sigma > 0 ? std::log(c.sigma) : 0.0);
    for (int g = 1; g < groups; ++g) EXPECT_NEAR(ctx->params[2 * groups + g], c.logOdds[g - 1], 1e-15);
  }
}

// Posteriors against Bayes' rule from the group terms (prior times
// likelihood) of the last evaluation.
TEST(ResultsToHost, PosteriorsMostLikelyGroupsAndSharesFollowBayesRule) {
  MemoryHost host;
  const double miss = host.missingValue();
  ModelContext ctx;
  ctx.host = &host;
  ctx.nGroups[0] = 2;
  ctx.polyOrder[0] = {0, 0};
  ctx.nObs = 5;
  ctx.nExcluded = 1;
  ctx.excluded = {0, 0, 1, 0, 0};
  ctx.outVarBase = 4;
  // Group terms pi_g L_ig of subjects 1..5 (subject 3 excluded; subject 2 a tie).
  ctx.groupTerm = {0.6 * 0.02, 0.2, 0.5, 0.6, 0.6 * 0.001,   // group 1
                   0.4 * 0.01, 0.2, 0.5, 0.4, 0.4 * 0.1};    // group 2
  host.data.assign(5, std::vector<double>(3, 0.0));
  host.createMatrix("groupPct1", 1, 2, -7);
  writeResultsToHost(ctx);
  const double p5 = (0.6 * 0.001) / (0.6 * 0.001 + 0.4 * 0.1);
  // Most likely group (a tie goes to the lower number), then the posteriors.
  const std::vector<std::vector<double>> expected = {
      {1, 0.75, 0.25}, {1, 0.5, 0.5}, {miss, miss, miss}, {1, 0.6, 0.4}, {2, p5, 1 - p5}};
  for (int obs = 1; obs <= 5; ++obs)
    for (int v = 0; v < 3; ++v)
      EXPECT_NEAR(host.value(4 + v, obs), expected[obs - 1][v], 1e-15) << "observation " << obs << " variable " << v;
  // Shares: posterior means over the 4 subjects that took part.
  const double share1 = 100.0 * (0.75 + 0.5 + 0.6 + p5) / 4.0;
  EXPECT_NEAR(host.matrices["groupPct1"][0][0], share1, 1e-12);
  EXPECT_NEAR(host.matrices["groupPct1"][0][1], 100.0 - share1, 1e-12);
}

}  // namespace
}  // namespace kurv
