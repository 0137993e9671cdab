// Group shares of the membership model and their delta-method standard
// errors, checked against finite differences of the share function.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "report/group_percentages.h"

namespace kurv {
namespace {

constexpr double kMissing = 8.98846567431158e307;

// Shares in percent computed directly from the definition.
std::vector<double> shares(const std::vector<double>& constants, int ref) {
  const int nGroups = static_cast<int>(constants.size()) + 1;
  std::vector<double> eta(nGroups, 0.0);
  for (int g = 0, c = 0; g < nGroups; ++g)
    if (g != ref) eta[g] = constants[c++];
  double sum = 0.0;
  for (double v : eta) sum += std::exp(v);
  std::vector<double> pct(nGroups);
  for (int g = 0; g < nGroups; ++g) pct[g] = 100.0 * std::exp(eta[g]) / sum;
  return pct;
}

// 100 * sqrt(J C J') from a central-difference Jacobian of the shares.
std::vector<double> finiteDifferenceSe(const std::vector<double>& constants, int ref,
                                       const std::vector<double>& cov) {
  const int k = static_cast<int>(constants.size());
  const int nGroups = k + 1;
  const double h = 1e-6;
  std::vector<std::vector<double>> jac(nGroups, std::vector<double>(k));
  for (int c = 0; c < k; ++c) {
    std::vector<double> up = constants, down = constants;
    up[c] += h;
    down[c] -= h;
    const std::vector<double> pu = shares(up, ref), pd = shares(down, ref);
    for (int g = 0; g < nGroups; ++g) jac[g][c] = (pu[g] - pd[g]) / (2 * h) / 100.0;
  }
  std::vector<double> se(nGroups);
  for (int g = 0; g < nGroups; ++g) {
    double v = 0.0;
    for (int a = 0; a < k; ++a)
      for (int b = 0; b < k; ++b) v += jac[g][a] * cov[a * k + b] * jac[g][b];
    se[g] = 100.0 * std::sqrt(v);
  }
  return se;
}

TEST(GroupPercentages, ConstantsZeroAndLn2GiveQuarterQuarterHalf) {
  std::vector<double> constants = {0.0, std::log(2.0)};
  const std::vector<double> cov = {0.09, 0.02, 0.02, 0.16};
  std::vector<double> pct(3), se(3);
  groupPercentages(constants, 0, cov.data(), 2, 0, kMissing, pct, se);
  EXPECT_NEAR(pct[0], 25.0, 1e-12);
  EXPECT_NEAR(pct[1], 25.0, 1e-12);
  EXPECT_NEAR(pct[2], 50.0, 1e-12);
  const std::vector<double> fd = finiteDifferenceSe({0.0, std::log(2.0)}, 0, cov);
  for (int g = 0; g < 3; ++g) EXPECT_NEAR(se[g], fd[g], 1e-7) << g;
}

TEST(GroupPercentages, DeltaMethodForEveryReferenceGroup) {
  // Four groups, correlated constants, the reference group in each position;
  // the constants sit at indexes 1..3 of a 5-parameter covariance.
  const std::vector<double> block = {0.30, 0.05, -0.02, 0.05, 0.20, 0.04, -0.02, 0.04, 0.50};
  std::vector<double> full(25, 0.0);
  for (int a = 0; a < 3; ++a)
    for (int b = 0; b < 3; ++b) full[(1 + a) * 5 + (1 + b)] = block[a * 3 + b];
  full[0] = full[24] = 7.0;  // unrelated parameters do not enter
  for (int ref = 0; ref < 4; ++ref) {
    std::vector<double> constants = {0.4, -1.2, 0.9};
    std::vector<double> pct(4), se(4);
    groupPercentages(constants, ref, full.data(), 5, 1, kMissing, pct, se);
    const std::vector<double> expectedPct = shares({0.4, -1.2, 0.9}, ref);
    const std::vector<double> fd = finiteDifferenceSe({0.4, -1.2, 0.9}, ref, block);
    double total = 0.0;
    for (int g = 0; g < 4; ++g) {
      EXPECT_NEAR(pct[g], expectedPct[g], 1e-12) << ref << " " << g;
      EXPECT_NEAR(se[g], fd[g], 1e-7) << ref << " " << g;
      total += pct[g];
    }
    EXPECT_NEAR(total, 100.0, 1e-12);
  }
}

TEST(GroupPercentages, ClampsConstantsAndLeavesErrorsMissingWithoutCovariance) {
  std::vector<double> constants = {800.0};
  std::vector<double> pct(2), se(2);
  groupPercentages(constants, 0, nullptr, 1, 0, kMissing, pct, se);
  EXPECT_NEAR(constants[0], std::log(1.7976931348623157e308) - 10.0, 1e-12);
  EXPECT_GT(pct[0], 0.0);
  EXPECT_NEAR(pct[1], 100.0, 1e-12);
  EXPECT_EQ(se[0], kMissing);
  EXPECT_EQ(se[1], kMissing);

  // One group: 100% with no constant and a zero standard error.
  std::vector<double> none;
  std::vector<double> one(1), oneSe(1);
  groupPercentages(none, 0, &kMissing, 0, 0, kMissing, one, oneSe);
  EXPECT_DOUBLE_EQ(one[0], 100.0);
  EXPECT_DOUBLE_EQ(oneSe[0], 0.0);
}

}  // namespace
}  // namespace kurv
