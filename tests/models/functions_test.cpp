// normalCdf against R's pnorm and std::erfc, logGamma against std::lgamma,
// and the membership probabilities against a softmax written here.
//
// Hart's rational approximation is accurate to about one unit in the last
// place in absolute terms everywhere, and to about 1e-13 relative in the
// body of the distribution; in the lower tail its relative error grows to
// about 3.6e-9 at the branch change a = 5 sqrt(2) and 8.9e-9 near a = 7.8,
// where the four-level continued fraction is at its weakest. The bounds
// below are those properties, measured against R (Cody's algorithm).

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>

#include "models/log_gamma.h"
#include "models/membership.h"
#include "models/normal_cdf.h"
#include "support/csv_data.h"
#include "support/memory_host.h"

namespace kurv {
namespace {

double Phi(double x) { return normalCdf(&x); }

TEST(NormalCdf, MatchesRPnormAndErfc) {
  const auto rows = testing::readNumericCsv(std::string(KURV_FIXTURE_DIR) + "/models/normal_cdf_reference.csv").rows;
  ASSERT_GT(rows.size(), 1200u);
  for (const auto& r : rows) {  // x, pnorm(x)
    EXPECT_LE(std::fabs(Phi(r[0]) - r[1]), 2.3e-16) << "x = " << r[0];
    if (r[1] > 1e-300 && r[0] >= -37.0) {  // beyond 37 the tail is 0 by design
      EXPECT_LE(std::fabs(Phi(r[0]) - r[1]) / r[1], r[0] >= -3.5 ? 1e-13 : 1e-8) << "x = " << r[0];
    }
  }
  for (double x = -3.5; x <= 8.0; x += 0.01) EXPECT_NEAR(Phi(x) / (0.5 * std::erfc(-x / std::sqrt(2.0))), 1.0, 1e-13) << x;
}

TEST(NormalCdf, ExactValuesSymmetryAndBranchChange) {
  EXPECT_EQ(Phi(0.0), 0.5);
  EXPECT_EQ(Phi(-0.0), 0.5);
  EXPECT_EQ(Phi(-37.0000001), 0.0);  // beyond 37 the tail is 0
  EXPECT_GT(Phi(-37.0), 0.0);        // 37 itself is still computed
  EXPECT_EQ(Phi(-DBL_MAX), 0.0);
  EXPECT_EQ(Phi(DBL_MAX), 1.0);
  for (double x = 0.125; x < 10.0; x += 0.125) EXPECT_EQ(Phi(x), 1.0 - Phi(-x)) << x;
  const double a = 7.071067811865475;  // continuous across the change of form
  EXPECT_NEAR(Phi(-a) / Phi(-std::nextafter(a, 0.0)), 1.0, 1e-8);
}

TEST(LogGamma, MatchesLgammaWithinTheSeriesTruncation) {
  // The first omitted Stirling term, 1/(1188 z^9), is 2.09e-11 at z = 7; on
  // top of it the rounding of the leading terms, two units in the last place.
  int sign = 1;
  for (double x = 1e-300; x < 1e6; x = x < 1e-3 ? x * 7.0 : x * 1.0007 + 1e-4) {
    const double reference = std::lgamma(x);
    EXPECT_LE(std::fabs(logGamma(x, &sign) - reference), 2.2e-11 + 8e-16 * std::fabs(reference)) << "x = " << x;
    EXPECT_EQ(sign, 0);
  }
  EXPECT_NEAR(logGamma(0.5, &sign), 0.5 * std::log(M_PI), 2.1e-11);
}

// pi_g = exp(eta_g) / sum_h exp(eta_h), eta 0 for the reference group.
std::vector<double> softmax(std::vector<double> eta) {
  double sum = 0.0;
  for (double& e : eta) sum += (e = std::exp(e));
  for (double& e : eta) e /= sum;
  return eta;
}

TEST(Membership, SoftmaxOfEveryForm) {
  testing::MemoryHost host;
  // Model 1: three groups, the last the reference; blocks of a constant and
  // two risk coefficients from index 1 for groups 0 and 1.
  ModelContext one;
  one.host = &host;
  one.nGroups[0] = 3, one.nRisk[0] = 2, one.refGroup[0] = 2, one.hasRefGroup[0] = true;
  one.risk[0] = {{0.5, -1.0}, {2.0, 0.0}};
  const std::vector<double> x1 = {9.0, 0.3, 0.2, -0.1, -0.4, 0.7, 0.05};
  for (int i = 0; i < 2; ++i) {
    computeMembershipProbabilities(i, 1, one.risk[0], x1.data(), &one);
    const double r0 = one.risk[0][0][i], r1 = one.risk[0][1][i];
    const auto expected = softmax({0.3 + 0.2 * r0 - 0.1 * r1, -0.4 + 0.7 * r0 + 0.05 * r1, 0.0});
    for (int g = 0; g < 3; ++g) EXPECT_NEAR(one.membershipProb[0][g], expected[g], 1e-15) << i << "," << g;
  }
  // Model 2 of a joint run, 2 x 3 groups and one risk variable: constants of
  // model-1 group j at 10 + 2j, then the risk coefficients of model-2 groups 1, 2.
  ModelContext two;
  two.host = &host;
  two.nModels = 2, two.currentModel = 1, two.jointThetaStart = 10;
  two.nGroups = {2, 3, 0}, two.nRisk = {0, 1, 0};
  two.risk[1] = {{1.5}};
  const std::vector<double> x2 = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0.1, -0.2, 0.4, 0.9, 0.3, -0.6};
  for (int j = 0; j < 2; ++j) {
    computeMembershipProbabilities(0, 10 + 2 * j, two.risk[0], x2.data(), &two);
    const auto expected = softmax({0.0, x2[10 + 2 * j] + 0.3 * 1.5, x2[11 + 2 * j] - 0.6 * 1.5});
    for (int g = 0; g < 3; ++g) EXPECT_NEAR(two.membershipProb[1][g], expected[g], 1e-15) << j << "," << g;
  }
  // The multi-trajectory form uses its own counts and vector.
  ModelContext mult;
  mult.host = &host;
  mult.isMultModel = true, mult.multNGroups = 3, mult.nGroups[0] = 2;
  computeMembershipProbabilities(0, 1, mult.risk[0], x1.data(), &mult);
  const auto expected = softmax({0.0, 0.3, 0.2});
  for (int g = 0; g < 3; ++g) EXPECT_NEAR(mult.multMembershipProb[g], expected[g], 1e-15);
  EXPECT_TRUE(mult.membershipProb[0].empty());
  // The clamp keeps every probability positive: predictors limited to
  // [-ln DBL_MAX - 10, ln DBL_MAX - 10].
  ModelContext clamp;
  clamp.host = &host;
  clamp.nGroups[0] = 2;
  const double high = std::log(DBL_MAX) - 10.0;
  for (double eta : {800.0, -800.0}) {
    computeMembershipProbabilities(0, 0, clamp.risk[0], &eta, &clamp);
    const double e = std::exp(eta > 0 ? high : -high - 20.0);
    EXPECT_EQ(clamp.membershipProb[0][0], 1.0 / (1.0 + e));
    EXPECT_EQ(clamp.membershipProb[0][1], e / (1.0 + e));
  }
}

}  // namespace
}  // namespace kurv
