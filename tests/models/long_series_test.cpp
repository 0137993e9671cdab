// Long series and threads. 200 subjects x 300 periods of a two-group normal
// mixture: each group term is about exp(-850), far below the smallest
// double, so only a log-domain evaluation can fit it. Against R's flexmix fit
// of the same data (tests/fixtures/models/long_series_flexmix.R) and an
// independent log-sum-exp evaluation written here; the gradient against
// differences of the subjects' log-likelihoods; the whole run from the
// default start values to R's maximum. Then the same bits for 1, 2 and 7
// threads over the option sets.

#include <gtest/gtest.h>

#include <cstring>

#include "core/run_summary.h"
#include "engine/run_driver.h"
#include "scenario.h"
#include "support/csv_data.h"

namespace kurv {
namespace {

using namespace modeltest;

struct LongSeries {
  Scenario s{.T = 300, .orders = {1, 1}};
  std::vector<double> est;
  double loglik = 0.0;
  LongSeries() {
    const std::string base = std::string(KURV_FIXTURE_DIR) + "/models/long_series";
    for (const auto& row : testing::readNumericCsv(base + ".csv").rows) {
      Subject& a = s.subjects.emplace_back();
      a.y = row;
      for (int j = 1; j <= s.T; ++j) a.t.push_back(j / 20.0);
    }
    const auto ref = testing::readReferenceFile(base + ".ref");
    est = ref.at("est"), loglik = ref.at("loglik")[0];
  }
};

// ln L_i = ln sum_k pi_k exp(sum_j ln phi((y_j - mu_kj)/sigma) - T ln sigma),
// by log-sum-exp with the largest term taken out.
double logDomainNll(const Scenario& s, const std::vector<double>& x) {
  const double sigma = std::exp(x[4]), logPi2 = x[5] - std::log1p(std::exp(x[5]));
  const double logPi[2] = {logPi2 - x[5], logPi2};
  double total = 0.0;
  for (const Subject& a : s.subjects) {
    double term[2];
    for (int k = 0; k < 2; ++k) {
      term[k] = logPi[k];
      for (int j = 0; j < s.T; ++j) {
        const double z = (a.y[j] - x[2 * k] - x[2 * k + 1] * a.t[j]) / sigma;
        term[k] += -0.5 * z * z - 0.5 * std::log(2.0 * M_PI) - x[4];
      }
    }
    const double top = std::max(term[0], term[1]);
    total -= top + std::log(std::exp(term[0] - top) + std::exp(term[1] - top));
  }
  return total;
}

TEST(LongSeries, LikelihoodAtRFitEqualsRAndTheLogDomainReference) {
  const LongSeries data;
  // The product form underflows: the case cannot be computed without logs.
  EXPECT_FALSE(std::isfinite(Reference(data.s).nll(data.est)));
  Prepared run = prepare(data.s);
  ASSERT_TRUE(run.ctx) << run.host->errors;
  const double nll = run.nll(data.est);
  EXPECT_NEAR(nll, -data.loglik, 1e-9 * std::fabs(data.loglik));
  EXPECT_NEAR(nll, logDomainNll(data.s, data.est), 1e-11 * std::fabs(data.loglik));
  // Posteriors are proper even though every group term underflows.
  for (int i = 0; i < run.ctx->nObs; ++i) {
    const double p0 = run.ctx->groupTerm[run.ctx->gi(0, i)], p1 = run.ctx->groupTerm[run.ctx->gi(1, i)];
    EXPECT_NEAR(p0 + p1, 1.0, 1e-15);
    EXPECT_GE(std::min(p0, p1), 0.0);
  }
}

TEST(LongSeries, GradientAgainstDifferencesOfSubjectLogLikelihoods) {
  const LongSeries data;
  Prepared run = prepare(data.s);
  ASSERT_TRUE(run.ctx) << run.host->errors;
  // Away from R's optimum, where every component of the gradient is large.
  std::vector<double> x = data.est;
  x[0] += 0.3, x[3] -= 0.02, x[4] += 0.05, x[5] -= 0.2;
  // Differences of each ln L_i (about -850 each), step 1e-5: the rounding is
  // about 1e-16 * 850 / 1e-5 = 1e-8 per subject.
  const std::vector<double> g = run.gradient(x), fd = columnSums(run.differenceScores(x));
  for (std::size_t p = 0; p < x.size(); ++p) EXPECT_NEAR(g[p], fd[p], 1e-6 * std::max(1.0, std::fabs(fd[p]))) << p;
}

TEST(LongSeries, FitsFromTheDefaultStartToRsMaximum) {
  const LongSeries data;
  testing::MemoryHost host;
  RunSummary summary;
  ASSERT_EQ(runDescribed(host, describe(host, data.s), &summary), 0) << host.errors;
  ASSERT_TRUE(summary.fitted) << host.stdoutText;
  // flexmix's sigma is not quite the maximum-likelihood one: kurv's maximum
  // lies at or above R's log-likelihood, within 1e-7 relative.
  EXPECT_GE(summary.logLikelihood, data.loglik - 1e-9 * std::fabs(data.loglik));
  EXPECT_NEAR(summary.logLikelihood, data.loglik, 1e-7 * std::fabs(data.loglik));
  for (int k = 0; k < 4; ++k) EXPECT_NEAR(summary.estimates[k], data.est[k], 1e-3) << k;
}

// Evaluations over fixed chunks of subjects, combined in chunk order: the
// likelihood, posteriors, gradient and score outer products have the same
// bits for any number of threads. 400 subjects make 7 chunks.
TEST(Threads, OneTwoAndSevenThreadsGiveTheSameBits) {
  const std::pair<const char*, Scenario> cases[] = {
      {"cnorm censored, covariate, weights",
       withData({.T = 6, .tcov = 1, .orders = {1, 2}, .censorMin = 0, .censorMax = 5, .weights = true}, 41, 400)},
      {"logit risks", withData({.kind = "logit", .T = 5, .nRisk = 2, .refGroup = 2, .orders = {0, 1, 2}}, 42, 400)},
      {"zip per group, exposure", withData({.kind = "zip", .T = 5, .orders = {1, 2, 0}, .inflOrders = {1, -1, 0},
                                            .exposure = true}, 43, 400)},
      {"dropout, weights", withData({.T = 6, .dcov = 1, .orders = {1, 0}, .dropoutOrders = {1, 2}, .weights = true,
                                     .exempt = true}, 44, 400)},
  };
  for (const auto& [name, s] : cases) {
    SCOPED_TRACE(name);
    const std::vector<double> x = parametersOf(s, 7);
    std::vector<double> first;
    for (int threads : {1, 2, 7}) {
      Prepared run = prepare(s);
      ASSERT_TRUE(run.ctx) << run.host->errors;
      run.ctx->nThreads = threads;
      std::vector<double> bits = {run.nll(x)};
      for (double v : run.gradient(x)) bits.push_back(v);
      bits.insert(bits.end(), run.ctx->groupTerm.begin(), run.ctx->groupTerm.end());
      bits.insert(bits.end(), run.ctx->scoreOuterSum.begin(), run.ctx->scoreOuterSum.end());
      if (first.empty()) first = bits;
      ASSERT_EQ(bits.size(), first.size());
      EXPECT_EQ(std::memcmp(bits.data(), first.data(), bits.size() * sizeof(double)), 0) << threads << " threads";
    }
  }
}

}  // namespace
}  // namespace kurv
