// The joint and multi-trajectory likelihoods and gradients over tables of
// option sets (long series of 300 periods among them, where only a
// log-domain evaluation can work), against the independent evaluations of
// joint_scenario.h and multi_scenario.h, Bayes' rule on their terms and
// central differences; a
// one-group model 2 as two single-model runs; one component as the single
// model; the failure values.

#include <gtest/gtest.h>

#include <cfloat>

#include "joint_scenario.h"
#include "models/parameter_layout.h"
#include "multi_scenario.h"

namespace kurv {
namespace {

using namespace modeltest;

JointScenario twoModels(ModelSpec m1, ModelSpec m2, int refGroup, bool weights, unsigned seed, int n) {
  return withJointData({.model = {m1, m2}, .refGroup = refGroup, .weights = weights}, seed, n);
}

TEST(JointModel, LikelihoodPosteriorsAndGradientOverOptionSets) {
  const std::pair<const char*, JointScenario> cases[] = {
      {"cnorm x logit, risks both sides, weights, covariates",
       twoModels({.T = 5, .nRisk = 2, .tcov = 1, .orders = {1, 2}, .censorMin = 0, .censorMax = 5},
                 {.kind = "logit", .T = 4, .nRisk = 1, .orders = {0, 1, 1}}, 1, true, 41, 30)},
      {"zip x cnorm, per-group inflation, exposure, risks both sides, weights",
       twoModels({.kind = "zip", .T = 5, .nRisk = 1, .orders = {1, 0, 1}, .inflOrders = {0, -1, 1}, .exposure = true},
                 {.T = 4, .nRisk = 2, .tcov = 1, .orders = {1, 0}, .censorMin = 0.5}, 3, true, 42, 30)},
      {"logit x zip, shared inflation, risks both sides, reference 2",
       twoModels({.kind = "logit", .T = 4, .nRisk = 1, .orders = {0, 1, 2}},
                 {.kind = "zip", .T = 5, .nRisk = 1, .orders = {0, 1}, .inflOrders = {1}}, 2, true, 43, 30)},
      {"poisson x cnorm, no risks", twoModels({.kind = "poisson", .T = 4, .orders = {0, 1}},
                                               {.T = 3, .orders = {1, 1, 0}}, 1, false, 44, 20)},
      {"cnorm x zip, one model-2 group", twoModels({.T = 4, .orders = {1, 0}}, {.kind = "zip", .T = 3, .orders = {1}, .inflOrders = {0}},
                                                   1, false, 45, 20)},
      // 300 periods: every pair's term lies far below the smallest double.
      {"long series, risks, weights", twoModels({.T = 300, .nRisk = 1, .orders = {1, 2}},
                                                {.T = 300, .nRisk = 1, .orders = {1, 0}}, 1, true, 61, 200)},
  };
  for (const auto& [name, s] : cases) {
    SCOPED_TRACE(name);
    PreparedJoint run = prepareJoint(s);
    ASSERT_TRUE(run.ctx) << run.host->errors;
    const std::vector<double> x = jointParametersOf(s, 7);
    ASSERT_EQ(run.ctx->nParams, static_cast<int>(x.size()));
    const JointReference ref(s);
    const double reference = ref.nll(x);
    EXPECT_NEAR(run.nll(x), reference, 1e-10 * std::fabs(reference));

    // Posteriors: Bayes' rule on the reference terms; the marginals of each
    // model are sums of the pairs' posteriors.
    const ModelContext& ctx = *run.ctx;
    const std::vector<double> post1 = jointModelPosteriors(ctx, 0), post2 = jointModelPosteriors(ctx, 1);
    const int G1 = s.model[0].G(), G2 = s.model[1].G();
    for (int i = 0; i < ctx.nObs; ++i) {
      if (ref.excluded[i]) {
        EXPECT_TRUE(missing(post1[ctx.gi(0, i)]) && missing(post2[ctx.gi(0, i)]));
        continue;
      }
      const std::vector<double> post = ref.pairPosteriors(x, i);
      std::vector<double> m1(G1, 0.0), m2(G2, 0.0);
      for (int j = 0; j < G1; ++j)
        for (int k = 0; k < G2; ++k) {
          const double p = post[j * G2 + k];
          EXPECT_NEAR(ctx.jointPosterior[jointCell(ctx, j, k, i)], p, 1e-12);
          m1[j] += p, m2[k] += p;
        }
      for (int j = 0; j < G1; ++j) EXPECT_NEAR(post1[ctx.gi(j, i)], m1[j], 1e-12);
      for (int k = 0; k < G2; ++k) EXPECT_NEAR(post2[ctx.gi(k, i)], m2[k], 1e-12);
    }
    expectGradientMatchesDifferences(run, x, s.weights);
  }
}

// With one model-2 group every conditional probability is 1: the joint
// likelihood is the model-1 mixture times the model-2 product, that is the
// sum of a single-model run on model 1's data and a one-group single-model
// run on model 2's data (both through the single-model engine).
TEST(JointModel, OneModel2GroupIsTwoSingleModels) {
  const JointScenario s = twoModels({.kind = "logit", .T = 5, .nRisk = 1, .orders = {1, 0, 2}},
                                    {.T = 4, .tcov = 1, .orders = {2}, .censorMax = 4}, 2, true, 46, 30);
  PreparedJoint joint = prepareJoint(s);
  ASSERT_TRUE(joint.ctx) << joint.host->errors;
  const std::vector<double> x = jointParametersOf(s, 8);
  double sum = 0.0;
  int offset = 0;
  for (int m = 0; m < 2; ++m) {
    const ModelSpec& d = s.model[m];
    // Both runs carry model 1's risk values, so that they exclude the same
    // subjects (a one-group model has no membership parameters).
    Scenario single{.kind = d.kind, .T = d.T, .nRisk = s.model[0].nRisk, .refGroup = m == 0 ? s.refGroup : 1,
                    .tcov = d.tcov, .orders = d.orders, .censorMin = d.censorMin, .censorMax = d.censorMax,
                    .weights = s.weights};
    for (const JointSubject& a : s.subjects)
      single.subjects.push_back({.y = a.y[m], .t = a.t[m], .risk = a.risk[0], .tcov = a.tcov[m], .weight = a.weight,
                                 .selected = a.selected});
    Prepared run = prepare(single);
    ASSERT_TRUE(run.ctx) << run.host->errors;
    const int size = run.ctx->nParams;
    sum += run.nll(std::vector<double>(x.begin() + offset, x.begin() + offset + size));
    offset += size;
  }
  ASSERT_EQ(offset, static_cast<int>(x.size()));
  EXPECT_NEAR(joint.nll(x), sum, 1e-10 * std::fabs(sum));
}

// A subject whose every pair of groups has likelihood 0 makes the
// evaluation fail with DBL_MAX: model 2's nonzero counts under a Poisson
// mean of exp(-719.78) in its only group.
TEST(JointModel, UncomputableSubjectFailsWithDblMax) {
  JointScenario s{.model = {ModelSpec{.T = 2, .orders = {0, 0}}, ModelSpec{.kind = "poisson", .T = 2, .orders = {0}}}};
  s.subjects.push_back({.y = {{{1, 2}, {3, 1}}}, .t = {{{1, 2}, {1, 2}}}});
  PreparedJoint run = prepareJoint(s);
  ASSERT_TRUE(run.ctx) << run.host->errors;
  EXPECT_EQ(run.nll({1.0, 2.0, 0.0, 0.0, -800.0}), DBL_MAX);
  EXPECT_LT(run.nll({1.0, 2.0, 0.0, 0.0, 0.5}), DBL_MAX);
  // The debug trace: each function's name and its vector on standard
  // output, six values to a line; the likelihood's result after it.
  run.ctx->debugTrace = 1;
  run.gradient({1.0, 2.0, 0.0, 0.0, 0.5});
  const std::string& out = run.host->stdoutText;
  EXPECT_EQ(out.rfind("jointModelLogLikelihood\n    1.000000     2.000000     0.000000     0.000000     0.500000 ", 0), 0u);
  EXPECT_NE(out.find("jointModelLogLikelihood nll="), std::string::npos);
  EXPECT_NE(out.find("jointModelDerivative\n"), std::string::npos);
}

TEST(MultiModel, LikelihoodAndGradientOverComponentSets) {
  auto comps = [](std::vector<Scenario> list, unsigned seed, int n) {
    for (Scenario& c : list) c = withData(c, seed++, n);
    return list;
  };
  const Scenario cnormCov{.T = 5, .tcov = 1, .orders = {1, 2}, .censorMin = 0, .censorMax = 5};
  const Scenario logit{.kind = "logit", .T = 4, .orders = {0, 1}};
  const std::pair<const char*, std::vector<Scenario>> cases[] = {
      {"cnorm covariate + logit", comps({cnormCov, logit}, 41, 25)},
      {"logit weights + zip per group",
       comps({{.kind = "logit", .T = 4, .orders = {0, 1}, .weights = true},
              {.kind = "zip", .T = 4, .tcov = 1, .orders = {1, 0}, .inflOrders = {1, 0}}}, 42, 25)},
      {"zip exposure shared, weights + cnorm covariate + poisson",
       comps({{.kind = "zip", .T = 4, .orders = {0, 1}, .inflOrders = {1}, .weights = true, .exposure = true},
              cnormCov, {.kind = "poisson", .T = 3, .orders = {0, 1}}}, 43, 25)},
      {"three groups, order -1 in each component",
       comps({{.T = 4, .orders = {1, 0, -1}}, {.kind = "logit", .T = 3, .orders = {-1, 0, 1}},
              {.kind = "poisson", .T = 4, .orders = {0, -1, 1}}}, 44, 30)},
      {"one group", comps({{.T = 3, .orders = {2}}, {.kind = "logit", .T = 3, .orders = {1}}}, 45, 12)},
      // 300 periods: every group's term lies far below the smallest double.
      {"long series", comps({{.T = 300, .orders = {1, 2, 0}},
                             {.kind = "logit", .T = 300, .orders = {0, -1, 1}}}, 62, 200)},
  };
  for (const auto& [name, s] : cases) {
    SCOPED_TRACE(name);
    MultiPrepared run = prepareMulti(s);
    ASSERT_TRUE(run.ctx) << run.host->errors;
    const std::vector<double> x = multiParametersOf(s, 9);
    ASSERT_EQ(run.ctx->nParams, static_cast<int>(x.size()));
    const MultiReference ref(s);
    const double reference = ref.nll(x);
    EXPECT_NEAR(run.nll(x), reference, 1e-10 * std::fabs(reference));
    const std::vector<double> post = multiModelPosteriors(*run.ctx);
    for (int i = 0; i < run.ctx->nObs; ++i) {
      if (ref.refs[0].excluded[i]) continue;
      std::vector<double> terms = ref.logTerms(x, i);
      const double logL = logSumExp(terms);
      for (int g = 0; g < s[0].G(); ++g) EXPECT_NEAR(post[run.ctx->gi(g, i)], std::exp(terms[g] - logL), 1e-11);
    }
    expectGradientMatchesDifferences(run, x, s[0].weights);
  }
}

// With one component the model is the single-trajectory mixture over the
// same groups: a prepared single run turned into a one-component
// multi-trajectory run (same data, same parameter layout) gives the same
// likelihood and gradient.
TEST(MultiModel, OneComponentEqualsTheSingleModel) {
  const std::pair<const char*, Scenario> cases[] = {
      {"cnorm censored, covariate, weights",
       withData({.T = 5, .tcov = 1, .orders = {1, 2}, .censorMin = 0, .censorMax = 5, .weights = true}, 51, 20)},
      {"logit", withData({.kind = "logit", .T = 4, .orders = {0, 1, 2}}, 52, 20)},
      {"zip per group, exposure", withData({.kind = "zip", .T = 4, .orders = {1, 0}, .inflOrders = {0, 1}, .exposure = true}, 53, 20)},
  };
  for (const auto& [name, s] : cases) {
    SCOPED_TRACE(name);
    Prepared single = prepare(s);
    ASSERT_TRUE(single.ctx) << single.host->errors;
    const std::vector<double> x = parametersOf(s, 3);
    const double f = single.nll(x);
    const std::vector<double> g = single.gradient(x);
    const std::vector<double> outer = single.ctx->scoreOuterSum;

    ModelContext& c = *single.ctx;
    c.isMultModel = true;
    c.multNGroups = c.nGroups[0];
    layoutParameters(c);
    ASSERT_EQ(c.nParams, static_cast<int>(x.size()));
    double fm = 0.0;
    multModelLogLikelihood(c.nParams, x.data(), &fm, &c);
    EXPECT_NEAR(fm, f, 1e-12 * std::fabs(f));
    std::vector<double> gm(x.size());
    multModelDerivative(c.nParams, x.data(), nullptr, gm.data(), &c);
    for (std::size_t a = 0; a < x.size(); ++a) EXPECT_NEAR(gm[a], g[a], 1e-9 * std::max(1.0, std::fabs(g[a]))) << a;
    for (std::size_t a = 0; a < outer.size() && s.weights; ++a)
      EXPECT_NEAR(c.scoreOuterSum[a], outer[a], 1e-9 * std::max(1.0, std::fabs(outer[a]))) << a;
  }
}

// A subject whose mixture likelihood underflows makes the evaluation fail
// with DBL_MAX: Poisson counts under a mean of exp(-800).
TEST(MultiModel, UncomputableSubjectFailsWithDblMax) {
  const std::vector<Scenario> s = {{.kind = "poisson", .T = 2, .subjects = {{.y = {1, 2}, .t = {1, 2}}}},
                                   {.kind = "logit", .T = 2, .subjects = {{.y = {0, 1}, .t = {1, 2}}}}};
  MultiPrepared run = prepareMulti(s);
  ASSERT_TRUE(run.ctx) << run.host->errors;
  EXPECT_EQ(run.nll({-800.0, 0.0}), DBL_MAX);
  EXPECT_LT(run.nll({0.0, 0.0}), DBL_MAX);
}

}  // namespace
}  // namespace kurv
