// The pieces of the likelihoods against independent truth: normalCdf against
// R's pnorm and erfc, logGamma against lgamma, every cell's log density and
// every dropout factor against scenario.h's textbook forms, the clamp's ends,
// model 2's log-domain kernel against the textbook and differences, the
// membership clamp.
// Hart's normal cdf is good to about one unit in the last place absolutely and
// 1e-13 relative in the body; in the lower tail the relative error reaches
// 3.6e-9 at the branch change a = 5 sqrt(2) and 8.9e-9 near a = 7.8 (measured
// against R's pnorm, Cody's algorithm): the bounds below.

#include <gtest/gtest.h>

#include <cfloat>

#include "models/group_blocks.h"
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

TEST(Densities, EveryCellAgainstTheTextbookForms) {
  // Dropout of orders 1 and 2 with a covariate: complete, dropping out at
  // period 2 (once exempt), starting late, a gap, a missing covariate, no
  // data, not selected.
  Scenario dropout{.T = 5, .dcov = 1, .orders = {0, 0}, .dropoutOrders = {1, 2}, .exempt = true};
  for (auto y : std::vector<std::vector<double>>{{1, 2, 3, 4, 5}, {1, 2, M, M, M}, {1, 2, M, M, M}, {M, 1, 2, 3, 4},
                                                 {1, M, 3, 4, 5}, {1, 2, 3, 4, 5}, {M, M, M, M, M}, {1, 2, 3, 4, 5}})
    dropout.subjects.push_back({.y = y, .t = {1, 2, 3, 4, 5}, .dcov = {0.1, 0.2, 0.3, 0.4, 0.5}});
  dropout.subjects[2].exempt = 1, dropout.subjects[5].dcov[3] = M, dropout.subjects[7].selected = false;
  const std::pair<const char*, Scenario> cases[] = {
      // Normal: below, at, between and above the bounds 0 and 8; two
      // covariates; a missing outcome, time and covariate.
      {"cnorm", {.T = 5, .tcov = 2, .orders = {1, 2}, .censorMin = 0, .censorMax = 8,
                 .subjects = {{.y = {-1, 0, 4.2, 8, 9}, .t = {0.5, 1, 1.5, 2, 2.5}, .tcov = {0.3, -1, 0.5, 1, 0, 2, 0.4, -0.5, 1, 0}},
                              {.y = {1, M, 2, 3, 4}, .t = {1, 2, M, 3, 4}, .tcov = {0, 0, 0, M, 0, 1, 1, 1, 1, 1}}}}},
      {"logit", {.kind = "logit", .T = 3, .orders = {1}, .subjects = {subject({0, 1, 2}, {0, 1, 2})}}},
      // ZIP: inflation for group 0 only; exposure 0 and missing.
      {"zip", {.kind = "zip", .T = 4, .orders = {1, 0}, .inflOrders = {1, -1}, .exposure = true,
               .subjects = {{.y = {0, 3, 0, 2}, .t = {0.5, 1, 1.5, 2}, .exposure = {0, 1.5, 2, 0.5}},
                            {.y = {4, 0, 1, 0}, .t = {0, 1, 2, 3}, .exposure = {1, M, 0, 0.7}}}}},
      {"zero-only group", {.T = 3, .orders = {-1, 1}, .subjects = {subject({0, 2.5, 0}, {1, 2, 3})}}},
      {"dropout", dropout},
      {"complete data length of 3 binds",
       {.T = 5, .orders = {0}, .dropoutOrders = {2},
        .subjects = {subject({M, 1, 2, 3, M}, {1, 2, 3, 4, 5}), subject({1, 2, 3, M, M}, {1, 2, 3, 4, 5})}}}};
  // Each group's sum of log densities over a subject's cells (the kernel)
  // and each stored dropout factor (missing where none) after an evaluation.
  // logGamma's series error, 2.1e-11 in ln y!, bounds the Poisson cells.
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
          if (c.nDropoutOrder == 0) continue;
          const double stored = c.dropoutFactorStore[c.gij(k, i, j)];
          EXPECT_NEAR(run.host->isMissing(stored) ? 1.0 : stored, ref.dropout(x, k, i, j), 1e-15) << k << "," << i << "," << j;
        }
        const double kernel = addGroupCells(plan, c, x.data(), k, i, score.data());
        if (std::isinf(expected)) EXPECT_EQ(kernel, expected) << k << "," << i;
        else EXPECT_NEAR(kernel, expected, 2.5e-11 * s.T) << k << "," << i;
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

// Model 2 of a joint run (model 1: one normal group, 2 periods; model 2: 3
// periods, groups of orders 1 and 2, normal censored at -1 and 2), one
// subject: the log-domain group kernel's sum of log densities against the
// textbook densities, its scores against central differences of that sum
// (step 1e-6, tolerance 1e-7).
TEST(Densities, JointModelTwoGroupKernelAgainstTextbookAndDifferences) {
  for (const char* kind : {"cnorm", "logit", "poisson"}) {
    SCOPED_TRACE(kind);
    testing::MemoryHost host;
    const std::string name = kind;
    const double y[] = {name == "cnorm" ? -1.5 : 0.0, name == "cnorm" ? 0.7 : 1.0, name == "cnorm" ? 2.0 : 3.0},
                 t[] = {0.5, 1.0, 1.5};
    host.data = {{0.5, 1.0, 1, 2, y[0], y[1], y[2], t[0], t[1], t[2]}};
    host.setRowVector("kurv_mat_order1", {0});
    host.setRowVector("kurv_mat_order2", {1, 2});
    auto args = testing::defaultArgs();
    const std::pair<int, const char*> set[] = {{2, "2"}, {18, kind}, {19, "3"}, {23, "2"}, {24, "-1"}, {25, "2"}};
    for (auto [position, value] : set) testing::setArg(args, position, value);
    auto ctx = testing::prepareTestRun(host, args);
    ASSERT_TRUE(ctx && ctx->isJointModel()) << host.errors;
    ModelContext& c = *ctx;
    const int n = c.nParams, sigmaAt = name == "cnorm" ? logSigmaIndex(c, 1) : -1;
    std::vector<double> x(n, 0.2);
    if (sigmaAt >= 0) x[sigmaAt] = std::log(0.9);
    ensureMeasurementTables(c);
    const SinglePlan plan = trajectoryPlan(c, x.data(), 1);
    for (int k = 0; k < 2; ++k) {
      auto logSum = [&](const std::vector<double>& v) {
        double sum = 0.0;
        for (int j = 0; j < 3; ++j) {
          double mu = 0.0;
          for (int p = 0; p <= k + 1; ++p) mu += v[groupBlocks(c, 1, k).trajectory + p] * std::pow(t[j], p);
          if (name == "logit") sum += std::log(y[j] != 0.0 ? logistic(mu) : 1.0 - logistic(mu));  // any nonzero value counts as 1
          if (name == "poisson") sum += std::log(modeltest::poisson(y[j], std::exp(mu)));
          if (name != "cnorm") continue;
          const double sigma = std::exp(v[sigmaAt]);
          sum += std::log(y[j] <= -1.0 ? Phi((-1.0 - mu) / sigma)
                          : y[j] >= 2.0 ? 1.0 - Phi((2.0 - mu) / sigma) : pdf((y[j] - mu) / sigma) / sigma);
        }
        return sum;
      };
      std::vector<double> score(plan.nScores, 0.0);
      // logGamma of the count 3 is off by 4e-11 (its series truncation).
      EXPECT_NEAR(addGroupCells(plan, c, x.data(), k, 0, score.data()), logSum(x), 1e-10);
      const SingleGroupPlan& g = plan.groups[k];
      for (int q = 0; q < g.nScores; ++q) {
        std::vector<double> up = x, down = x;
        up[plan.scoreSlot[g.scoreOffset + q]] += 1e-6, down[plan.scoreSlot[g.scoreOffset + q]] -= 1e-6;
        const double fd = (logSum(up) - logSum(down)) / 2e-6;
        EXPECT_NEAR(score[g.scoreOffset + q], fd, 1e-7 * std::max(1.0, std::fabs(fd))) << k << "," << q;
      }
    }
  }
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
