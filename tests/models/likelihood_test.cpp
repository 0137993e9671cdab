// The single-model likelihood and its gradient. One table of scenarios, one
// per option set: the likelihood against scenario.h's independent evaluation,
// the gradient against central differences of the engine's subject
// likelihoods, with weights the score outer-product sum against the
// per-subject difference scores. Then R's fits and the failure value.

#include <gtest/gtest.h>

#include <cfloat>

#include "scenario.h"
#include "support/csv_data.h"

namespace kurv {
namespace {

using namespace modeltest;

Scenario withOutcome(const char* omodel, unsigned seed, double low = -1e300, double high = 1e300) {
  return withData({.omodel = omodel, .T = 6, .tcov = 1, .orders = {1, 2, 0}, .outcomeMin = low, .outcomeMax = high,
                   .weights = true}, seed, 25);
}

TEST(SingleModel, LikelihoodAndGradientOverEveryOptionSet) {
  const std::pair<const char*, Scenario> cases[] = {
      {"cnorm censored, covariate", withData({.T = 6, .tcov = 1, .orders = {1, 2}, .censorMin = 0, .censorMax = 5}, 21, 30)},
      {"cnorm one group", withData({.T = 4, .orders = {2}}, 22, 12)},
      {"cnorm two covariates, weights", withData({.T = 5, .tcov = 2, .orders = {1, 2, 0}, .weights = true}, 23, 25)},
      {"logit risks, reference 2", withData({.kind = "logit", .T = 5, .nRisk = 2, .refGroup = 2, .orders = {0, 1, 2}}, 24, 30)},
      {"logit risks, reference 3, covariate",
       withData({.kind = "logit", .T = 5, .nRisk = 2, .refGroup = 3, .tcov = 1, .orders = {2, 0, 1}}, 25, 30)},
      {"zip per group, exposure, covariate",
       withData({.kind = "zip", .T = 5, .tcov = 1, .orders = {1, 2, 0}, .inflOrders = {1, -1, 0}, .exposure = true}, 26, 25)},
      {"zip shared", withData({.kind = "zip", .T = 5, .orders = {0, 1, 1}, .inflOrders = {2}}, 27, 25)},
      {"poisson zero-only group", withData({.kind = "poisson", .T = 5, .orders = {-1, 1}, .exposure = true}, 28, 25)},
      {"dropout per group, weights",
       withData({.T = 6, .dcov = 1, .orders = {1, 0}, .dropoutOrders = {1, 2}, .weights = true, .exempt = true}, 29, 30)},
      {"dropout shared, risk",
       withData({.T = 6, .nRisk = 1, .dcov = 1, .orders = {1, 0}, .dropoutOrders = {1}, .exempt = true}, 30, 30)},
      {"outcome normal", withOutcome("normal", 31)},
      {"outcome normal censored", withOutcome("normal", 38, 0.3, 1.8)},
      {"outcome logit", withOutcome("logit", 32)},
      {"outcome poisson", withOutcome("poisson", 33)},
      {"outcome zip", withOutcome("zip", 34)},
  };
  for (const auto& [name, s] : cases) {
    SCOPED_TRACE(name);
    Prepared run = prepare(s);
    ASSERT_TRUE(run.ctx) << run.host->errors;
    const std::vector<double> x = parametersOf(s, 7);
    ASSERT_EQ(run.ctx->nParams, static_cast<int>(x.size()));
    const double reference = Reference(s).nll(x);
    EXPECT_NEAR(run.nll(x), reference, 1e-10 * std::fabs(reference));
    expectGradientMatchesDifferences(run, x, s.weights);
  }
}

// R's fits: tests/fixtures/models (likelihood_reference.R: survreg, glm,
// zeroinfl, flexmix) and tests/fixtures/fits (make_fits.R: normal and logit
// mixtures). Columns y1..yT, t1..tT, then exposures e1..eT or risk factors.
TEST(SingleModel, LikelihoodAtRFitsEqualsR) {
  const std::pair<const char*, Scenario> fits[] = {
      {"models/cnorm_survreg", {.orders = {1}, .censorMin = 0, .censorMax = 6}},
      {"models/logit_glm", {.kind = "logit", .orders = {2}}},
      {"models/poisson_glm", {.kind = "poisson", .orders = {1}, .exposure = true}},
      {"models/zip_zeroinfl", {.kind = "zip", .orders = {1}, .inflOrders = {1}, .exposure = true}},
      {"models/mixture_flexmix", {.kind = "poisson", .orders = {1, 1}}},
      {"fits/cnorm1", {.orders = {1}, .censorMin = 0, .censorMax = 6}},
      {"fits/logit1", {.kind = "logit", .orders = {2}}},
      {"fits/poisson1", {.kind = "poisson", .orders = {1}}},
      {"fits/zip1", {.kind = "zip", .orders = {1}, .inflOrders = {0}}},
      {"fits/cnorm2", {.orders = {1, 1}}},
      {"fits/logit3", {.kind = "logit", .orders = {1, 1, 1}}},
  };
  for (auto [name, s] : fits) {
    SCOPED_TRACE(name);
    const std::string base = std::string(KURV_FIXTURE_DIR) + "/" + name;
    const testing::CsvData data = testing::readNumericCsv(base + ".csv");
    for (const auto& row : data.rows) {
      Subject& a = s.subjects.emplace_back();
      for (std::size_t c = 0; c < row.size(); ++c) {
        const char column = data.names[c][0];
        (column == 'y' ? a.y : column == 't' ? a.t : column == 'e' ? a.exposure : a.risk).push_back(row[c]);
      }
    }
    s.T = static_cast<int>(s.subjects[0].y.size()), s.nRisk = static_cast<int>(s.subjects[0].risk.size());
    const auto ref = testing::readReferenceFile(base + ".ref");
    Prepared run = prepare(s);
    ASSERT_TRUE(run.ctx) << run.host->errors;
    ASSERT_EQ(run.ctx->nParams, static_cast<int>(ref.at("est").size()));
    EXPECT_NEAR(run.nll(ref.at("est")), -ref.at("loglik")[0], 1e-9 * std::fabs(ref.at("loglik")[0]));
  }
}

// A subject whose likelihood cannot be computed makes the evaluation fail
// with DBL_MAX, not inf or NaN. Poisson means of exp(-719.78): the first
// subject's nonzero counts underflow; the second's zeros have density 1 and,
// the mean being below DBL_MIN, a flat derivative.
TEST(SingleModel, UncomputableSubjectFailsWithDblMax) {
  Prepared poisson = prepare(
      {.kind = "poisson", .T = 2, .orders = {0, 0}, .subjects = {{.y = {1, 2}, .t = {1, 2}}, {.y = {0, 0}, .t = {1, 2}}}});
  EXPECT_EQ(poisson.nll({-800.0, -900.0, 0.0}), DBL_MAX);
  EXPECT_EQ(poisson.gradient({-800.0, -900.0, 0.0}), std::vector<double>(3, 0.0));
  // ln sigma = -800: sigma underflows to 0 and an uncensored density is 0/0.
  Prepared normal = prepare({.T = 2, .subjects = {{.y = {1, 2}, .t = {1, 2}}}});
  EXPECT_EQ(normal.nll({0.5, -800.0}), DBL_MAX);
}

}  // namespace
}  // namespace kurv
