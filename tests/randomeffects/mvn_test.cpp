// Multivariate normal probabilities against R (qnorm and mvtnorm::pmvnorm,
// tests/fixtures/randomeffects/mvn_reference.R) and the edge cases of the
// method.

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "randomeffects/bivariate_normal.h"
#include "randomeffects/lattice_integrate.h"
#include "randomeffects/mvn_probability.h"
#include "randomeffects/normal_quantile.h"
#include "randomeffects/re_scenario.h"
#include "randomeffects/uniform_stream.h"

namespace kurv {
namespace {

using retest::readRows;

UniformStream filledStream() {
  UniformStream s;
  fillUniformStream(s);
  return s;
}

MvnResult probability(const std::vector<int>& codes, const std::vector<double>& lower,
                      const std::vector<double>& upper, const std::vector<double>& corr,
                      UniformStream& stream, int m = -1) {
  MvnPrepared work;
  stream.restart();
  return mvnProbability(m < 0 ? static_cast<int>(codes.size()) : m, lower.data(), upper.data(), codes.data(),
                        corr.data(), kMvnMaxEvaluations, 0.0, kMvnRelativeTolerance, stream, work);
}

TEST(NormalQuantile, MatchesR) {
  for (const auto& row : readRows("qnorm.txt")) {
    const double q = normalQuantile(row[0]);
    EXPECT_NEAR(q, row[1], 4e-16 * std::fabs(row[1]) + 1e-300) << "p = " << row[0];
  }
  // At or beyond 0 and 1: the finite tail point 9.
  EXPECT_EQ(normalQuantile(0.0), -9.0);
  EXPECT_EQ(normalQuantile(1.0), 9.0);
}


TEST(BivariateNormal, MatchesRForEveryCodePairAndCorrelationRange) {
  const auto rows = readRows("bivariate.txt");
  ASSERT_EQ(rows.size(), 189u);
  for (const auto& row : rows) {
    const int codes[2] = {static_cast<int>(row[0]), static_cast<int>(row[1])};
    const double lower[2] = {row[2], row[4]};
    const double upper[2] = {row[3], row[5]};
    const double value = bivariateNormal(lower, upper, codes, row[6]);
    EXPECT_NEAR(value, row[7], 1e-13) << codes[0] << " " << codes[1] << " r = " << row[6];
  }
}

TEST(MvnProbability, EdgeCases) {
  UniformStream stream = filledStream();
  // Every variable unbounded: exactly 1.
  MvnResult all = probability({-1, -1, -1}, {0, 0, 0}, {0, 0, 0}, {0.3, 0.2, 0.1}, stream);
  EXPECT_EQ(all.value, 1.0);
  EXPECT_EQ(all.status, 0);
  // One bounded variable, code 0 at 0: one half.
  EXPECT_EQ(probability({0}, {0}, {0}, {}, stream).value, 0.5);
  // The same with unbounded companions, whatever their correlation.
  EXPECT_NEAR(probability({-1, 0, -1}, {0, 0, 0}, {0, 0, 0}, {0.5, 0.4, 0.3}, stream).value, 0.5, 1e-16);
  // Two independent variables below 0: one quarter, through the bivariate routine.
  const MvnResult two = probability({0, 0}, {0, 0}, {0, 0}, {0.0}, stream);
  EXPECT_NEAR(two.value, 0.25, 1e-16);
  EXPECT_EQ(two.evaluations, 0);
  // Dimension outside 1 ... 100: status 2, value 0, error 1.
  for (int m : {0, 101}) {
    const std::vector<double> limits(101, 0.0), corr(101 * 50, 0.0);
    const MvnResult bad = probability(std::vector<int>(101, 0), limits, limits, corr, stream, m);
    EXPECT_EQ(bad.status, 2);
    EXPECT_EQ(bad.value, 0.0);
    EXPECT_EQ(bad.error, 1.0);
  }
}

TEST(MvnProbability, StreamOfZerosEndsAfterTheFirstPass) {
  // Without random shifts every sample of a pass is the same: variance 0,
  // so the first pass (lattice size 31, 8 samples, 2 * 8 * 31 evaluations)
  // ends the integration with error 0.
  UniformStream zeros;
  zeros.values.assign(100, 0.0);
  const MvnResult r = probability({0, 1, 0}, {0, -0.5, 0}, {0.2, 0, 1.0}, {0.3, 0.1, -0.2}, zeros);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.error, 0.0);
  EXPECT_EQ(r.evaluations, 2 * 8 * 31);
}

TEST(MvnProbability, SingularMatrixMergesTheDependentVariable) {
  UniformStream stream = filledStream();
  // X_2 = X_1 (correlation 1): P(X_1 <= 0.5, X_2 >= -0.2) = P(-0.2 <= X_1 <= 0.5).
  const double interval = 0.5 * std::erfc(-0.5 / std::sqrt(2.0)) - 0.5 * std::erfc(0.2 / std::sqrt(2.0));
  EXPECT_NEAR(probability({0, 1}, {0, -0.2}, {0.5, 0}, {1.0}, stream).value, interval, 1e-15);
  // X_2 = -X_1: X_2 >= -0.5 is X_1 <= 0.5; with X_1 >= -0.2 the same interval.
  EXPECT_NEAR(probability({1, 1}, {-0.2, -0.5}, {0, 0}, {-1.0}, stream).value, interval, 1e-15);
  // Three variables, X_3 = X_1, independent of X_2.
  const double third = 0.5 * std::erfc(-0.3 / std::sqrt(2.0));
  const MvnResult r = probability({0, 0, 1}, {0, 0, -0.2}, {0.5, 0.3, 0}, {0.0, 1.0, 0.0}, stream);
  EXPECT_NEAR(r.value, interval * third, 1e-9);
}

// Rectangles of dimension 3 to 8 with mixed codes (unbounded variables too)
// and one of dimension 24 (Richtmyer coordinates beyond the 20th).
TEST(MvnProbability, MatchesRInDimensionsThreeToEightAndAboveTwenty) {
  UniformStream stream = filledStream();
  const auto rows = readRows("mvn.txt");
  ASSERT_EQ(rows.size(), 13u);
  for (const auto& row : rows) {
    const int m = static_cast<int>(row[0]);
    std::vector<int> codes;
    std::vector<double> lower, upper, corr;
    std::size_t at = 1;
    for (int i = 0; i < m; ++i) codes.push_back(static_cast<int>(row[at++]));
    for (int i = 0; i < m; ++i) lower.push_back(row[at++]);
    for (int i = 0; i < m; ++i) upper.push_back(row[at++]);
    for (int i = 0; i < m * (m - 1) / 2; ++i) corr.push_back(row[at++]);
    const double reference = row[at];
    const double referenceError = row[at + 1];
    // The likelihood's settings: at most 500,000 evaluations, relative
    // tolerance 1e-8. The difference stays within the error estimate the
    // rule reports (three standard errors) plus the reference's own, and
    // within 1e-6 wherever the rule claims that accuracy.
    const MvnResult r = probability(codes, lower, upper, corr, stream);
    EXPECT_LE(std::fabs(r.value - reference), std::max(r.error, 1e-6) + referenceError)
        << "dimension " << m << " error estimate " << r.error << " status " << r.status;
    if (r.error <= 1e-6) {
      EXPECT_LE(std::fabs(r.value - reference), 1e-6) << "dimension " << m;
    }
  }
}

TEST(LatticeIntegrate, StreamSizeCoversTheDrawsOfOneProbability) {
  // Count the draws of integrations that never reach their tolerance.
  for (int d : {2, 5, 19, 30}) {
    UniformStream counter;
    counter.values.assign(static_cast<std::size_t>(latticeStreamBound(d, 20000)) * 4, 0.5);
    const LatticeResult r = latticeIntegrate(
        d, 0, 20000, 0.0, 0.0,
        [&](const double* w) { return w[0] + (counter.position % 2 ? 0.0 : 1e-3 * w[d - 1]); }, counter);
    EXPECT_LE(static_cast<long>(counter.position), latticeStreamBound(d, 20000)) << d;
    EXPECT_EQ(r.status, 1);
  }
  EXPECT_GE(uniformStreamSize(), latticeStreamBound(kMvnMaxDimension - 1, kMvnMaxEvaluations));
}

}  // namespace
}  // namespace kurv
