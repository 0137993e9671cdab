// Multivariate normal probabilities against R (qnorm and mvtnorm::pmvnorm,
// tests/fixtures/randomeffects/mvn_reference.R) and the edge cases of the
// method.

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <tuple>
#include <vector>

#include "randomeffects/bivariate_normal.h"
#include "randomeffects/lattice_integrate.h"
#include "randomeffects/mvn_probability.h"
#include "randomeffects/normal_quantile.h"
#include "randomeffects/re_scenario.h"
#include "randomeffects/uniform_stream.h"

namespace kurv::retest {
namespace {

// The likelihood's settings: at most 500,000 evaluations, relative tolerance 1e-8.
MvnResult probability(const std::vector<int>& codes, const std::vector<double>& lower,
                      const std::vector<double>& upper, const std::vector<double>& corr,
                      UniformStream* given = nullptr, int m = -1) {
  static UniformStream filled = [] { UniformStream s; fillUniformStream(s); return s; }();
  UniformStream& stream = given ? *given : filled;
  MvnPrepared work;
  stream.restart();
  return mvnProbability(m < 0 ? static_cast<int>(codes.size()) : m, lower.data(), upper.data(), codes.data(),
                        corr.data(), kMvnMaxEvaluations, 0.0, kMvnRelativeTolerance, stream, work);
}

TEST(NormalQuantile, MatchesR) {
  for (const auto& row : readRows("qnorm.txt"))
    EXPECT_NEAR(normalQuantile(row[0]), row[1], 4e-16 * std::fabs(row[1]) + 1e-300) << "p = " << row[0];
  EXPECT_EQ(normalQuantile(0.0), -9.0);  // at 0 and 1: the finite tail point 9
  EXPECT_EQ(normalQuantile(1.0), 9.0);
}

TEST(BivariateNormal, MatchesRForEveryCodePairAndCorrelationRange) {
  const auto rows = readRows("bivariate.txt");
  ASSERT_EQ(rows.size(), 189u);
  for (const auto& row : rows) {
    const int codes[2] = {static_cast<int>(row[0]), static_cast<int>(row[1])};
    const double lower[2] = {row[2], row[4]}, upper[2] = {row[3], row[5]};
    EXPECT_NEAR(bivariateNormal(lower, upper, codes, row[6]), row[7], 1e-13)
        << codes[0] << " " << codes[1] << " r = " << row[6];
  }
}

TEST(MvnProbability, EdgeCases) {
  // Closed forms, without a lattice evaluation.
  const struct {
    std::vector<int> codes;
    std::vector<double> lower, upper, corr;
    double value;
  } exact[] = {
      {{-1, -1, -1}, {0, 0, 0}, {0, 0, 0}, {0.3, 0.2, 0.1}, 1.0},  // every variable unbounded
      {{0}, {0}, {0}, {}, 0.5},                                    // one variable below 0
      {{-1, 0, -1}, {0, 0, 0}, {0, 0, 0}, {0.5, 0.4, 0.3}, 0.5},   // with unbounded correlated companions
      {{0, 0}, {0, 0}, {0, 0}, {0.0}, 0.25},                       // two independent: the bivariate routine
  };
  for (const auto& c : exact) {
    const MvnResult r = probability(c.codes, c.lower, c.upper, c.corr);
    EXPECT_EQ(std::tie(r.status, r.evaluations), std::make_tuple(0, 0)) << c.value;
    EXPECT_NEAR(r.value, c.value, 1e-16);
  }
  // Dimension outside 1 ... 100: status 2, value 0, error 1.
  const std::vector<double> limits(101, 0.0), corr(101 * 50, 0.0);
  for (int m : {0, 101}) {
    const MvnResult bad = probability(std::vector<int>(101, 0), limits, limits, corr, nullptr, m);
    EXPECT_EQ(std::tie(bad.status, bad.value, bad.error), std::make_tuple(2, 0.0, 1.0)) << m;
  }
}

TEST(MvnProbability, StreamOfZerosEndsAfterTheFirstPass) {
  // Without random shifts every sample of a pass is the same: variance 0,
  // so the first pass (lattice size 31, 8 samples, 2 * 8 * 31 evaluations)
  // ends the integration with error 0.
  UniformStream zeros;
  zeros.values.assign(100, 0.0);
  const MvnResult r = probability({0, 1, 0}, {0, -0.5, 0}, {0.2, 0, 1.0}, {0.3, 0.1, -0.2}, &zeros);
  EXPECT_EQ(std::tie(r.status, r.error, r.evaluations), std::make_tuple(0, 0.0, 2 * 8 * 31));
}

TEST(MvnProbability, SingularMatrixMergesTheDependentVariable) {
  // X_2 = X_1 (correlation 1): P(X_1 <= 0.5, X_2 >= -0.2) = P(-0.2 <= X_1 <= 0.5).
  const double interval = 0.5 * std::erfc(-0.5 / std::sqrt(2.0)) - 0.5 * std::erfc(0.2 / std::sqrt(2.0));
  EXPECT_NEAR(probability({0, 1}, {0, -0.2}, {0.5, 0}, {1.0}).value, interval, 1e-15);
  // X_2 = -X_1: X_2 >= -0.5 is X_1 <= 0.5; with X_1 >= -0.2 the same interval.
  EXPECT_NEAR(probability({1, 1}, {-0.2, -0.5}, {0, 0}, {-1.0}).value, interval, 1e-15);
  // Three variables, X_3 = X_1, independent of X_2.
  const double third = 0.5 * std::erfc(-0.3 / std::sqrt(2.0));
  EXPECT_NEAR(probability({0, 0, 1}, {0, 0, -0.2}, {0.5, 0.3, 0}, {0.0, 1.0, 0.0}).value, interval * third, 1e-9);
}

// Rectangles of dimension 3 to 8 with mixed codes (unbounded variables too)
// and one of dimension 24 (Richtmyer coordinates beyond the 20th). The
// difference stays within the error estimate the rule reports (three
// standard errors) plus the reference's own, and within 1e-6 wherever the
// rule claims that accuracy.
TEST(MvnProbability, MatchesRInDimensionsThreeToEightAndAboveTwenty) {
  const auto rows = readRows("mvn.txt");
  ASSERT_EQ(rows.size(), 13u);
  for (const auto& row : rows) {
    const int m = static_cast<int>(row[0]);
    auto next = row.begin() + 1;
    auto take = [&](int n) { next += n; return std::vector<double>(next - n, next); };
    const std::vector<double> codes = take(m), lower = take(m), upper = take(m), corr = take(m * (m - 1) / 2);
    const double reference = next[0], referenceError = next[1];
    const MvnResult r = probability({codes.begin(), codes.end()}, lower, upper, corr);
    EXPECT_LE(std::fabs(r.value - reference), std::min(std::max(r.error, 1e-6) + referenceError,
                                                       r.error <= 1e-6 ? 1e-6 : 1.0))
        << "dimension " << m << " error estimate " << r.error << " status " << r.status;
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
}  // namespace kurv::retest
