// The multi-trajectory likelihood and gradient: one table of component sets
// (kinds mixed, covariates, exposure, censoring, zero inflation, a group of
// order -1, missing periods, excluded subjects, weights) against the
// independent evaluation of multi_scenario.h and central differences; and
// the identity with the single-trajectory mixture when there is one
// component.

#include <gtest/gtest.h>

#include <cfloat>

#include "models/parameter_layout.h"
#include "multi_scenario.h"

namespace kurv {
namespace {

using namespace modeltest;

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
  };
  for (const auto& [name, s] : cases) {
    SCOPED_TRACE(name);
    MultiPrepared run = prepareMulti(s);
    ASSERT_TRUE(run.ctx) << run.host->errors;
    const std::vector<double> x = multiParametersOf(s, 9);
    ASSERT_EQ(run.ctx->nParams, static_cast<int>(x.size()));
    const double reference = multiReferenceNll(s, x);
    EXPECT_NEAR(run.nll(x), reference, 1e-10 * std::fabs(reference));
    expectGradientMatchesDifferences(run, x, &ModelContext::multSubjectLik, s[0].weights);
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
