// Multinomial-logit membership probabilities: model 1, model 2 of a joint
// model conditional on the model-1 group, and the multi-trajectory form.

#include <gtest/gtest.h>

#include "support/memory_host.h"

#include <cfloat>
#include <cmath>

#include "models/membership.h"

namespace kurv {
namespace {

// The host only answers the missing-value test here.
Host* testHost() {
  static testing::MemoryHost host;
  return &host;
}

ModelContext modelOne(int groups, int nRisk, Matrix risk) {
  ModelContext c;
  c.host = testHost();
  c.nGroups[0] = groups;
  c.nRisk[0] = nRisk;
  c.risk[0] = std::move(risk);
  c.membershipProb[0].assign(groups, 0.0);
  return c;
}

double sum(const std::vector<double>& v) {
  double s = 0.0;
  for (double x : v) s += x;
  return s;
}

TEST(Membership, EqualConstantsGiveEqualShares) {
  ModelContext c = modelOne(4, 0, {});
  const std::vector<double> x = {9.0, 0.0, 0.0, 0.0};  // block starts at 1
  computeMembershipProbabilities(0, 1, c.risk[0], x.data(), &c);
  for (double p : c.membershipProb[0]) EXPECT_DOUBLE_EQ(p, 0.25);
}

TEST(Membership, RiskFactorsAndReferenceGroup) {
  // Three groups, the last is the reference: the first block (constant then
  // two risk coefficients) belongs to group 0, the second to group 1.
  ModelContext c = modelOne(3, 2, {{0.5, -1.0}, {2.0, 0.0}});
  c.refGroup[0] = 2;
  c.hasRefGroup[0] = true;
  const std::vector<double> x = {0.3, 0.2, -0.1, -0.4, 0.7, 0.05};
  for (int i = 0; i < 2; ++i) {
    computeMembershipProbabilities(i, 0, c.risk[0], x.data(), &c);
    const double e0 = std::exp(0.3 + 0.2 * c.risk[0][0][i] - 0.1 * c.risk[0][1][i]);
    const double e1 = std::exp(-0.4 + 0.7 * c.risk[0][0][i] + 0.05 * c.risk[0][1][i]);
    const double total = e0 + e1 + 1.0;
    EXPECT_NEAR(c.membershipProb[0][0], e0 / total, 1e-15);
    EXPECT_NEAR(c.membershipProb[0][1], e1 / total, 1e-15);
    EXPECT_NEAR(c.membershipProb[0][2], 1.0 / total, 1e-15);
    EXPECT_NEAR(sum(c.membershipProb[0]), 1.0, 4e-16);
  }
}

TEST(Membership, ClampKeepsEveryProbabilityPositive) {
  ModelContext c = modelOne(2, 0, {});
  const double high = std::log(DBL_MAX) - 10.0;
  EXPECT_NEAR(high, 699.782712893384, 1e-12);
  EXPECT_NEAR(c.expClamp.low, -719.782712893384, 1e-12);
  std::vector<double> x = {800.0};
  computeMembershipProbabilities(0, 0, c.risk[0], x.data(), &c);
  EXPECT_EQ(c.membershipProb[0][0], 1.0 / (1.0 + std::exp(high)));
  EXPECT_GT(c.membershipProb[0][0], 0.0);
  EXPECT_EQ(c.membershipProb[0][1], std::exp(high) / (1.0 + std::exp(high)));
  x = {-800.0};
  computeMembershipProbabilities(0, 0, c.risk[0], x.data(), &c);
  EXPECT_GT(c.membershipProb[0][1], 0.0);
  EXPECT_EQ(c.membershipProb[0][1], std::exp(-high - 20.0) / (1.0 + std::exp(-high - 20.0)));
}

TEST(Membership, JointModelTwoIsConditionalOnTheModelOneGroup) {
  // Model 1 has 2 groups, model 2 has 3 groups and one risk variable. The
  // conditional constants come in blocks of 2 per model-1 group; the risk
  // coefficients of model-2 groups 1 and 2 follow all constants.
  ModelContext c;
  c.host = testHost();
  c.nModels = 2;
  c.nGroups = {2, 3, 0};
  c.nRisk = {0, 1, 0};
  c.risk[1] = {{1.5}};
  c.currentModel = 1;
  c.jointThetaStart = 10;
  c.membershipProb[1].assign(3, 0.0);
  std::vector<double> x(16, 0.0);
  x[10] = 0.1, x[11] = -0.2;  // model-1 group 0
  x[12] = 0.4, x[13] = 0.9;   // model-1 group 1
  x[14] = 0.3, x[15] = -0.6;  // risk coefficients of model-2 groups 1, 2
  for (int j = 0; j < 2; ++j) {
    computeMembershipProbabilities(0, c.jointThetaStart + j * 2, c.risk[0], x.data(), &c);
    const double e1 = std::exp(x[10 + 2 * j] + 0.3 * 1.5);
    const double e2 = std::exp(x[11 + 2 * j] - 0.6 * 1.5);
    const double total = 1.0 + e1 + e2;
    EXPECT_NEAR(c.membershipProb[1][0], 1.0 / total, 1e-15);
    EXPECT_NEAR(c.membershipProb[1][1], e1 / total, 1e-15);
    EXPECT_NEAR(c.membershipProb[1][2], e2 / total, 1e-15);
  }
}

TEST(Membership, MultiTrajectoryFormUsesItsOwnCounts) {
  ModelContext c;
  c.host = testHost();
  c.isMultModel = true;
  c.multNGroups = 3;
  c.multMembershipProb.assign(3, 0.0);
  c.nGroups[0] = 3;
  const std::vector<double> x = {5.0, 0.2, -0.3};
  computeMembershipProbabilities(0, 1, c.risk[0], x.data(), &c);
  const double total = 1.0 + std::exp(0.2) + std::exp(-0.3);
  EXPECT_NEAR(c.multMembershipProb[0], 1.0 / total, 1e-15);
  EXPECT_NEAR(c.multMembershipProb[2], std::exp(-0.3) / total, 1e-15);
  EXPECT_TRUE(c.membershipProb[0].empty());
}

}  // namespace
}  // namespace kurv
