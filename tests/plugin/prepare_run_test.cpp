// Argument decoding, parameter counting and layout, against counts derived by
// hand from the parameter-vector layout.

#include <gtest/gtest.h>

#include "engine/input_checks.h"
#include "plugin/plugin_args.h"
#include "engine/prepare_run.h"
#include "support/run_builder.h"

namespace kurv {
namespace {

using testing::defaultArgs;
using testing::MemoryHost;
using testing::prepareTestRun;
using testing::setArg;

// A host with `nObs` subjects of `nVars` variables, all 1.0 (every period
// usable), and the order matrices given.
MemoryHost hostWith(int nObs, int nVars) {
  MemoryHost host;
  host.data.assign(static_cast<std::size_t>(nObs), std::vector<double>(static_cast<std::size_t>(nVars), 1.0));
  return host;
}

TEST(ArgumentConversion, IntegersRealsAndNames) {
  int i = 7;
  EXPECT_TRUE(parseIntArg(" 12", i));
  EXPECT_EQ(i, 12);
  EXPECT_FALSE(parseIntArg("abc", i));
  EXPECT_EQ(i, 12);  // unconverted text leaves the field
  EXPECT_TRUE(parseIntArg("99999999999999999999", i));
  EXPECT_EQ(i, INT_MAX);
  double d = 0;
  EXPECT_TRUE(parseRealArg("-1.5e3", d));
  EXPECT_EQ(d, -1500.0);
  std::string name;
  EXPECT_TRUE(parseNameArg("averyveryverylongmodelname", name));
  EXPECT_EQ(name, "averyveryverylongmodelname");  // any length is stored safely
  EXPECT_FALSE(parseNameArg("   ", name));
}

TEST(ArgumentDecoding, FlagsSwitchesAndReferenceGroup) {
  auto args = defaultArgs();
  setArg(args, 36, "5");
  setArg(args, 37, "-1");
  setArg(args, 38, "1");
  setArg(args, 18, "none_at_all");
  setArg(args, 19, "4");
  ModelContext ctx;
  std::vector<const char*> argv;
  for (auto& a : args) argv.push_back(a.c_str());
  parsePluginArgs(39, argv.data(), ctx);
  EXPECT_EQ(ctx.showTrace, 1);
  EXPECT_EQ(ctx.debugTrace, 0);
  EXPECT_EQ(ctx.noStdErrors, 1);
  EXPECT_FALSE(ctx.argPresent[18]);  // a name beginning with "none" is absent

  // Only as many positions as given are read.
  ModelContext shortCtx;
  parsePluginArgs(2, argv.data(), shortCtx);
  EXPECT_EQ(shortCtx.nGroups[0], 0);
  EXPECT_EQ(shortCtx.nPeriods[0], 1);
}

TEST(ArgumentDecoding, ModelKindsByPrefixCaseSensitive) {
  EXPECT_EQ(decodeModelKind("cnormal"), kCnorm);
  EXPECT_EQ(decodeModelKind("logit"), kLogit);
  EXPECT_EQ(decodeModelKind("zip"), kZip);
  EXPECT_EQ(decodeModelKind("poisson"), kZip);
  EXPECT_EQ(decodeModelKind("ZIP"), -1);
  EXPECT_EQ(decodeModelKind("normal"), -1);
}

// Prepares a run with `nVars` data columns of ones.
std::unique_ptr<ModelContext> prepare(MemoryHost& host, const std::vector<std::string>& args) {
  auto ctx = prepareTestRun(host, args);
  EXPECT_NE(ctx, nullptr) << host.errors;
  return ctx;
}

TEST(ParameterLayout, SingleCnormThreeGroups) {
  MemoryHost host = hostWith(4, 6);
  auto args = defaultArgs();
  setArg(args, 2, "3");
  setArg(args, 8, "3");
  host.setRowVector("kurv_mat_order1", {1, 2, 3});
  auto ctx = prepare(host, args);
  ASSERT_TRUE(ctx);
  EXPECT_EQ(ctx->nParams, 12);  // 2+3+4 coefficients, sigma, 2 constants
  EXPECT_EQ(ctx->scaleIndex[0], 9);
  EXPECT_EQ(ctx->thetaStart, 10);
  EXPECT_EQ(ctx->outcomeStart, 12);
  EXPECT_EQ(ctx->paramEnd[0], 12);
  EXPECT_EQ(testing::prepareTestRun(host, args)->nDataVars, 6);
}

TEST(ParameterLayout, LogitWithRiskFactorsAndCovariates) {
  // T = 3, 6 covariate columns: 2 covariates per period.
  MemoryHost host = hostWith(3, 3 + 3 + 2 + 6);
  host.macros["_risk1"] = "age sex_of_the_subject extra";
  host.macros["_tcov1"] = "a a a b b b";
  auto args = defaultArgs();
  setArg(args, 1, "logit");
  setArg(args, 2, "3");
  setArg(args, 3, "2");
  setArg(args, 6, "6");
  setArg(args, 8, "2");
  host.setRowVector("kurv_mat_order1", {2, -1});
  auto ctx = prepare(host, args);
  ASSERT_TRUE(ctx);
  EXPECT_EQ(ctx->tcovPerPeriod[0], 2);
  // Group 1: 3 + 2 covariates; group 2 (order -1): none at all.
  EXPECT_EQ(ctx->thetaStart, 5);
  EXPECT_EQ(ctx->nParams, 5 + 3);
  EXPECT_EQ(ctx->scaleIndex[0], -1);
  ASSERT_EQ(ctx->riskNames[0].size(), 2u);
  EXPECT_EQ(ctx->riskNames[0][1], "sex_of_the_s");  // cut to 12 characters
  EXPECT_EQ(ctx->nDataVars, 14);
}

TEST(ParameterLayout, ZipWithSharedAndPerGroupInflation) {
  for (bool shared : {true, false}) {
    MemoryHost host = hostWith(3, 4);
    auto args = defaultArgs();
    setArg(args, 1, "zip");
    setArg(args, 2, "2");
    setArg(args, 8, "2");
    setArg(args, 11, shared ? "1" : "2");
    host.setRowVector("kurv_mat_order1", {1, 2});
    host.setRowVector("kurv_mat_iorder1", shared ? std::vector<double>{2} : std::vector<double>{0, 1});
    auto ctx = prepare(host, args);
    ASSERT_TRUE(ctx);
    EXPECT_EQ(ctx->singleInflOrder[0], shared ? 1 : 0);
    EXPECT_EQ(ctx->zipStart[0], 5);
    EXPECT_EQ(ctx->thetaStart, 8);
    EXPECT_EQ(ctx->nParams, 9);
  }
}

TEST(ParameterLayout, DropoutWithCovariatesPerGroup) {
  MemoryHost host = hostWith(3, 4 + 4 + 4);
  auto args = defaultArgs();
  setArg(args, 2, "4");
  setArg(args, 8, "2");
  setArg(args, 13, "2");
  setArg(args, 14, "4");
  host.setRowVector("kurv_mat_order1", {1, 1});
  host.setRowVector("kurv_mat_dropoutorder1", {1, 2});
  auto ctx = prepare(host, args);
  ASSERT_TRUE(ctx);
  EXPECT_EQ(ctx->dcovPerPeriod, 1);
  EXPECT_EQ(ctx->dropoutStart, 4);
  EXPECT_EQ(ctx->scaleIndex[0], 4 + 3 + 4);
  EXPECT_EQ(ctx->thetaStart, 12);
  EXPECT_EQ(ctx->nParams, 13);
}

TEST(ParameterLayout, OutcomeAnalysisKinds) {
  struct Case {
    const char* name;
    int kind;
    int params;
  };
  for (const Case& c : {Case{"poisson", 3, 3}, Case{"zip", 3, 4}, Case{"normal", 1, 4}, Case{"cnorm", 1, 4},
                        Case{"logit", 2, 3}}) {
    MemoryHost host = hostWith(3, 3);
    auto args = defaultArgs();
    setArg(args, 8, "3");
    setArg(args, 16, c.name);
    host.setRowVector("kurv_mat_order1", {0, 0, 0});
    auto ctx = prepare(host, args);
    ASSERT_TRUE(ctx) << c.name;
    EXPECT_EQ(ctx->omodelKind, c.kind) << c.name;
    EXPECT_EQ(ctx->nOutcomeParams, c.params) << c.name;
    EXPECT_EQ(ctx->outcomeStart, ctx->thetaStart + 2);
    EXPECT_EQ(ctx->nParams, 3 + 1 + 2 + c.params);
  }
}

TEST(ParameterLayout, RandomEffectsOrders) {
  for (bool shared : {true, false}) {
    MemoryHost host = hostWith(3, 2);
    auto args = defaultArgs();
    setArg(args, 8, "2");
    setArg(args, 12, shared ? "1" : "2");
    host.setRowVector("kurv_mat_order1", {1, 1});
    host.setRowVector("kurv_mat_rorder1", shared ? std::vector<double>{1} : std::vector<double>{0, 1});
    auto ctx = prepare(host, args);
    ASSERT_TRUE(ctx);
    EXPECT_EQ(ctx->reStart, 5);
    EXPECT_EQ(ctx->thetaStart, shared ? 7 : 8);
  }
}

TEST(ParameterLayout, JointModelWithAndWithoutModelTwoRisk) {
  for (int risk2 : {1, 0}) {
    MemoryHost host = hostWith(3, 2 * 2 + 2 * 3 + risk2);
    auto args = defaultArgs();
    setArg(args, 2, "2");
    setArg(args, 8, "3");
    setArg(args, 18, "logit");
    setArg(args, 19, "3");
    setArg(args, 20, std::to_string(risk2));
    setArg(args, 23, "2");
    host.setRowVector("kurv_mat_order1", {1, 1, 1});
    host.setRowVector("kurv_mat_order2", {2, 2});
    auto ctx = prepare(host, args);
    ASSERT_TRUE(ctx) << host.errors;
    EXPECT_TRUE(ctx->isJointModel());
    EXPECT_EQ(ctx->paramStart[1], 9);
    EXPECT_EQ(ctx->jointThetaStart, 15);
    EXPECT_EQ(ctx->nParams, risk2 ? 19 : 18);
    EXPECT_EQ(expectedStartValueCount(*ctx), risk2 ? 20 : 18 + 1 + 3);
  }
}

TEST(ParameterLayout, MultiTrajectoryComponents) {
  MemoryHost host = hostWith(3, 2 * 3 + 2 * 2);
  auto args = defaultArgs();
  setArg(args, 2, "3");
  setArg(args, 8, "2");
  setArg(args, 18, "logit");
  setArg(args, 19, "2");
  setArg(args, 23, "2");
  setArg(args, 34, "1");
  host.setRowVector("kurv_mat_order1", {1, 1});
  host.setRowVector("kurv_mat_order2", {2, 0});
  ModelContext ctx;
  ctx.host = &host;
  std::vector<const char*> argv;
  for (auto& a : args) argv.push_back(a.c_str());
  parsePluginArgs(39, argv.data(), ctx);
  ASSERT_EQ(validateRunArguments(ctx), 0);
  ASSERT_EQ(readOrderMatrices(ctx), 0);
  ASSERT_EQ(prepareRun(ctx), 0);
  layoutParameters(ctx);
  EXPECT_EQ(ctx.multNGroups, 2);
  EXPECT_EQ(ctx.paramEnd[0], 5);
  EXPECT_EQ(ctx.paramStart[1], 5);
  EXPECT_EQ(ctx.paramEnd[1], 9);
  EXPECT_EQ(ctx.multThetaStart, 9);
  EXPECT_EQ(ctx.nParams, 10);
  EXPECT_EQ(expectedStartValueCount(ctx), 11);
  EXPECT_EQ(dataVariableCount(ctx), 10);
}

TEST(ParameterLayout, ReferenceGroupLowering) {
  for (auto [given, index, flag] : {std::tuple{"1", 0, false}, std::tuple{"0", 0, false},
                                    std::tuple{"3", 2, true}, std::tuple{"-4", 0, false}}) {
    MemoryHost host = hostWith(3, 2);
    auto args = defaultArgs();
    setArg(args, 8, "3");
    setArg(args, 17, given);
    host.setRowVector("kurv_mat_order1", {0, 0, 0});
    auto ctx = prepare(host, args);
    ASSERT_TRUE(ctx);
    EXPECT_EQ(ctx->refGroup[0], index) << given;
    EXPECT_EQ(ctx->hasRefGroup[0], flag) << given;
  }
}

TEST(ParameterLayout, AbsentSecondModelTakesNoPart) {
  MemoryHost host = hostWith(3, 2);
  auto args = defaultArgs();
  setArg(args, 19, "5");
  setArg(args, 23, "2");
  host.setRowVector("kurv_mat_order1", {0});
  auto ctx = prepare(host, args);
  ASSERT_TRUE(ctx);
  EXPECT_EQ(ctx->nModels, 1);
  EXPECT_EQ(ctx->nParams, 2);
  EXPECT_EQ(ctx->nDataVars, 2);
  EXPECT_EQ(expectedStartValueCount(*ctx), 2);  // one group: exactly nParams
}

}  // namespace
}  // namespace kurv
