// The pieces of the likelihoods against independent truth: normalCdf against
// R's pnorm and erfc, logGamma against lgamma, the dropout factors and cells
// of hand-made dropout patterns against scenario.h's textbook forms (the
// likelihood tests check every family's cells in sum), the clamp's ends, the
// membership clamp.
// Hart's normal cdf is good to about one unit in the last place absolutely and
// 1e-13 relative in the body; in the lower tail the relative error reaches
// 3.6e-9 at the branch change a = 5 sqrt(2) and 8.9e-9 near a = 7.8 (measured
// against R's pnorm, Cody's algorithm): the bounds below.

#include <gtest/gtest.h>

#include <cfloat>

#include "core/log_gamma.h"
#include "models/measurement_tables.h"
#include "models/membership.h"
#include "models/single_kernel.h"
#include "models/single_likelihood.h"
#include "core/normal_cdf.h"
#include "scenario.h"
#include "support/csv_data.h"

namespace kurv {
namespace {

using namespace modeltest;

double cdf(double x) { return normalCdf(&x); }

TEST(NormalCdf, MatchesRPnormAndErfc) {
  const auto rows = testing::readNumericCsv(std::string(KURV_FIXTURE_DIR) + "/models/normal_cdf_reference.csv").rows;
  ASSERT_GT(rows.size(), 1200u);
  for (const auto& r : rows) {  // x, pnorm(x)
    EXPECT_LE(std::fabs(cdf(r[0]) - r[1]), 2.3e-16) << "x = " << r[0];
    if (r[1] > 1e-300 && r[0] >= -37.0) {  // beyond 37 the tail is 0 by design
      EXPECT_LE(std::fabs(cdf(r[0]) - r[1]) / r[1], r[0] >= -3.5 ? 1e-13 : 1e-8) << "x = " << r[0];
    }
  }
  for (double x = -3.5; x <= 8.0; x += 0.01) EXPECT_NEAR(cdf(x) / Phi(x), 1.0, 1e-13) << x;
  EXPECT_EQ(cdf(0.0), 0.5);
  EXPECT_EQ(cdf(-37.0000001), 0.0);  // beyond 37 the tail is 0
  EXPECT_GT(cdf(-37.0), 0.0);        // 37 itself is still computed
  EXPECT_EQ(cdf(DBL_MAX), 1.0);
  const double a = 7.071067811865475;  // continuous across the change of form
  EXPECT_NEAR(cdf(-a) / cdf(-std::nextafter(a, 0.0)), 1.0, 1e-8);
}

TEST(LogGamma, MatchesLgammaWithinTheSeriesTruncation) {
  // The first omitted Stirling term, 1/(1188 z^9), is 2.09e-11 at z = 7; on
  // top of it the rounding of the leading terms, two units in the last place.
  int sign = 1;
  for (double x = 1e-300; x < 1e6; x = x < 1e-3 ? x * 7.0 : x * 1.0007 + 1e-4) {
    EXPECT_LE(std::fabs(logGamma(x, &sign) - std::lgamma(x)), 2.2e-11 + 8e-16 * std::fabs(std::lgamma(x))) << x;
    EXPECT_EQ(sign, 0);
  }
}

Subject subject(std::vector<double> y, std::vector<double> t) { return {.y = std::move(y), .t = std::move(t)}; }

TEST(Densities, DropoutFactorsAndCellsAgainstTheTextbookForms) {
  // Dropout of orders 1 and 2 with a covariate: complete, dropping out at
  // period 2 (once exempt), starting late, a gap, a missing covariate, no
  // data, not selected.
  Scenario dropout{.T = 5, .dcov = 1, .orders = {0, 0}, .dropoutOrders = {1, 2}, .exempt = true};
  for (auto y : std::vector<std::vector<double>>{{1, 2, 3, 4, 5}, {1, 2, M, M, M}, {1, 2, M, M, M}, {M, 1, 2, 3, 4},
                                                 {1, M, 3, 4, 5}, {1, 2, 3, 4, 5}, {M, M, M, M, M}, {1, 2, 3, 4, 5}})
    dropout.subjects.push_back({.y = y, .t = {1, 2, 3, 4, 5}, .dcov = {0.1, 0.2, 0.3, 0.4, 0.5}});
  dropout.subjects[2].exempt = 1, dropout.subjects[5].dcov[3] = M, dropout.subjects[7].selected = false;
  const std::pair<const char*, Scenario> cases[] = {
      {"dropout", dropout},
      {"complete data length of 3 binds",
       {.T = 5, .orders = {0}, .dropoutOrders = {2},
        .subjects = {subject({M, 1, 2, 3, M}, {1, 2, 3, 4, 5}), subject({1, 2, 3, M, M}, {1, 2, 3, 4, 5})}}}};
  // Each stored dropout factor (missing where none) after an evaluation, and
  // each group's sum of log densities over a subject's cells (the kernel).
  for (const auto& [name, s] : cases) {
    SCOPED_TRACE(name);
    Prepared run = prepare(s);
    ASSERT_TRUE(run.ctx) << run.host->errors;
    ModelContext& c = *run.ctx;
    const Reference ref(s);
    const std::vector<double> x = parametersOf(s, 5);
    double f = 0.0;
    singleModelLogLikelihood(c.nParams, x.data(), &f, &c);
    const SinglePlan plan = singlePlan(c, x.data());
    std::vector<double> score(static_cast<std::size_t>(plan.nScores));
    for (int k = 0; k < s.G(); ++k)
      for (int i = 0; i < c.nObs; ++i) {
        double expected = 0.0;
        for (int j = 0; j < s.T; ++j) {
          expected += std::log(ref.density(x, k, i, j));
          const double stored = c.dropoutFactorStore[c.gij(k, i, j)];
          EXPECT_NEAR(run.host->isMissing(stored) ? 1.0 : stored, ref.dropout(x, k, i, j), 1e-15) << k << "," << i << "," << j;
        }
        EXPECT_NEAR(addGroupCells(plan, c, x.data(), k, i, score.data()), expected, 1e-12) << k << "," << i;
      }
  }
}

// The exponent clamp [-ln DBL_MAX - 10, ln DBL_MAX - 10] keeps probabilities
// off exactly 0 and 1; a Poisson mean below DBL_MIN gives a nonzero count
// probability 0. One measurement per subject, so the kernel's sum is that
// cell's ln f.
TEST(Densities, ClampEnds) {
  const double high = std::log(DBL_MAX) - 10.0;
  Prepared logit = prepare({.kind = "logit", .T = 2, .orders = {0}, .subjects = {subject({1, M}, {1, 2}), subject({M, 0}, {1, 2})}});
  Prepared poisson = prepare({.kind = "poisson", .T = 2, .orders = {0}, .subjects = {subject({3, M}, {1, 2}), subject({M, 0}, {1, 2})}});
  auto at = [](Prepared& run, double b, int i) {
    ensureMeasurementTables(*run.ctx);
    double score[8] = {};
    return addGroupCells(singlePlan(*run.ctx, &b), *run.ctx, &b, 0, i, score);
  };
  // ln p = -softplus(-m) and ln(1 - p) = -softplus(m), m the clamped predictor.
  EXPECT_NEAR(at(logit, -800, 0), -high - 20.0, 1e-13 * high);
  EXPECT_NEAR(at(logit, 800, 1), -high, 1e-13 * high);
  EXPECT_EQ(at(poisson, -800, 0), -HUGE_VAL);
  EXPECT_EQ(at(poisson, 800, 1), -high);  // e^-lambda with lambda clamped to e^high
}

// Membership probabilities: model 1's predictors are clamped to
// [-ln DBL_MAX - 10, ln DBL_MAX - 10], so every probability stays positive.
// (The softmax of the joint and multi-trajectory forms is checked against
// the independent likelihoods of family_models_test.cpp.)
TEST(Membership, ClampKeepsEveryProbabilityPositive) {
  testing::MemoryHost host;
  ModelContext one;
  one.host = &host;
  one.nGroups[0] = 2;
  for (double eta : {800.0, -800.0}) {
    computeMembershipProbabilities(0, 0, one.risk[0], &eta, &one);
    const double e = std::exp(eta > 0 ? std::log(DBL_MAX) - 10.0 : -std::log(DBL_MAX) - 10.0);
    EXPECT_EQ(one.membershipProb[0], (std::vector<double>{1.0 / (1.0 + e), e / (1.0 + e)}));
  }
}

}  // namespace
}  // namespace kurv
