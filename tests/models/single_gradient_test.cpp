// The analytic single-model gradient: against central finite differences of
// the likelihood for every option, against a direct O(T^2) evaluation of the
// gradient formula, and its weighted score sums.

#include <gtest/gtest.h>

#include <cmath>

#include "model_test_support.h"
#include "models/densities.h"
#include "models/group_blocks.h"
#include "models/measurement_derivative.h"
#include "models/measurement_tables.h"
#include "models/single_gradient.h"
#include "models/single_likelihood.h"
#include "engine/prepare_run.h"
#include "single_scenarios.h"

namespace kurv {
namespace {

using namespace modeltest;

std::vector<double> engineGradient(PreparedRun& run, const std::vector<double>& x) {
  engineNegLogLik(run, x);
  std::vector<double> g(x.size());
  int unused = 1;
  singleModelDerivative(static_cast<int>(x.size()), x.data(), &unused, g.data(), run.ctx.get());
  return g;
}

void expectMatchesDifferences(const Scenario& s, const std::vector<double>& x) {
  PreparedRun run = prepare(s);
  ASSERT_TRUE(run.ctx) << run.host->errors;
  ASSERT_EQ(run.ctx->nParams, static_cast<int>(x.size()));
  const std::vector<double> g = engineGradient(run, x);
  const std::vector<double> fd = centralDifferences(run, x, 1e-5);
  for (std::size_t p = 0; p < x.size(); ++p)
    EXPECT_NEAR(g[p], fd[p], 1e-6 * std::max(1.0, std::fabs(fd[p]))) << "parameter " << p;
}

TEST(SingleGradient, CensoredNormalBothBoundsAndCovariates) {
  const Scenario s = cnormScenario(21, 2, 25);
  int low = 0, high = 0;
  for (const Subject& a : s.subjects)
    for (double y : a.y) low += y <= s.censorMin, high += y >= s.censorMax && y < M;
  EXPECT_GT(low, 3);
  EXPECT_GT(high, 3);
  expectMatchesDifferences(s, cnormParameters(s));
}

TEST(SingleGradient, CensoredNormalThreeGroups) {
  const Scenario s = cnormScenario(22, 3, 25);
  expectMatchesDifferences(s, genericParameters(s, 3));
}

TEST(SingleGradient, LogitRiskFactorsWithLaterReferenceGroups) {
  for (int ref : {2, 3}) {
    SCOPED_TRACE(ref);
    const Scenario s = logitScenario(23, 3, ref, 30);
    expectMatchesDifferences(s, genericParameters(s, 9));
  }
}

TEST(SingleGradient, ZipPerGroupInflationAndExposure) {
  const Scenario s = zipScenario(24, {1, 2}, {1, 0}, true, 25);
  expectMatchesDifferences(s, genericParameters(s, 10));
}

TEST(SingleGradient, ZipSharedInflationThreeGroups) {
  const Scenario s = zipScenario(25, {0, 1, 1}, {2}, false, 25);
  expectMatchesDifferences(s, genericParameters(s, 11));
}

TEST(SingleGradient, PoissonWithZeroOnlyGroup) {
  Scenario s = zipScenario(26, {-1, 1}, {}, true, 25);
  s.kind = "poisson";
  expectMatchesDifferences(s, genericParameters(s, 12));
}

TEST(SingleGradient, DropoutWithCovariatesExemptionAndWeights) {
  Scenario s = dropoutScenario(27, {1, 2}, 30);
  expectMatchesDifferences(s, genericParameters(s, 13));
  s.dropoutOrders = {1};
  expectMatchesDifferences(s, genericParameters(s, 14));
}

TEST(SingleGradient, OutcomeAnalysisOfEveryKind) {
  // The outcome's predictor is a posterior-weighted mix, so every group
  // term's parameters move it: the gradient covers that dependence too.
  for (const char* omodel : {"normal", "logit", "poisson", "zip"}) {
    SCOPED_TRACE(omodel);
    const Scenario s = outcomeScenario(28, omodel, 3, 25);
    expectMatchesDifferences(s, genericParameters(s, 15));
  }
}

TEST(SingleGradient, CensoredNormalOutcome) {
  const Scenario s = outcomeScenario(38, "normal", 2, 25);
  const std::vector<double> x = genericParameters(s, 18);
  PreparedRun run = prepare(s);
  ASSERT_TRUE(run.ctx);
  // No argument sets the outcome's censoring bounds; set them on the record.
  run.ctx->hasOutcomeCensorMin = true;
  run.ctx->outcomeCensorMin = 0.3;
  run.ctx->hasOutcomeCensorMax = true;
  run.ctx->outcomeCensorMax = 1.8;
  const std::vector<double> g = engineGradient(run, x);
  const std::vector<double> fd = centralDifferences(run, x, 1e-5);
  for (std::size_t p = 0; p < x.size(); ++p)
    EXPECT_NEAR(g[p], fd[p], 1e-6 * std::max(1.0, std::fabs(fd[p]))) << "parameter " << p;
}

TEST(SingleGradient, OneGroupHasNoMembershipTermsAndExcludedSubjectsNothing) {
  Scenario s = cnormScenario(29, 1, 6);
  PreparedRun run = prepare(s);
  const std::vector<double> x = cnormParameters(s);
  const std::vector<double> all = engineGradient(run, x);
  // Excluding a subject at intake removes exactly its contribution.
  s.subjects[0].selected = false;
  PreparedRun fewer = prepare(s);
  const std::vector<double> without = engineGradient(fewer, x);
  Scenario only = s;
  only.subjects = {cnormScenario(29, 1, 6).subjects[0]};
  PreparedRun single = prepare(only);
  const std::vector<double> itsOwn = engineGradient(single, x);
  for (std::size_t p = 0; p < x.size(); ++p) EXPECT_NEAR(all[p], without[p] + itsOwn[p], 1e-12 * std::fabs(all[p]));
}

// The gradient formula evaluated directly: for every (subject, usable period,
// group) the product over all other periods is formed afresh.
std::vector<double> directFormula(PreparedRun& run, const std::vector<double>& x) {
  ModelContext& c = *run.ctx;
  const int n = static_cast<int>(x.size());
  const double missing = run.host->missingValue();
  std::vector<double> g(n, 0.0), work(n, 0.0);
  const int T = c.nPeriods[0];
  auto D = [&](int k, int i, int j) {
    const double v = c.dropoutFactorStore[c.gij(k, i, j)];
    return v == missing ? 1.0 : v;
  };
  auto f = [&](int k, int i, int j) { return c.periodDensity[c.gij(k, i, j)]; };
  for (int i = 0; i < c.nObs; ++i) {
    const double L = c.subjectLik[i];
    if (!(L > 0) || c.excluded[i]) continue;
    const double w = c.weight[i];
    const std::vector<double>& pi = c.membershipProb[0];  // no risk factors here
    c.cursorSubject = i;
    for (int j = 0; j < T; ++j) {
      if (!usablePeriod(c, 0, i, j)) continue;
      c.cursorPeriod = j;
      for (int k = 0; k < c.nGroups[0]; ++k) {
        c.cursorGroup = k;
        measurementDerivative(n, x.data(), work.data(), &c);
        double product = 1.0;
        for (int jj = 0; jj < T; ++jj) product *= jj == j ? D(k, i, jj) : D(k, i, jj) * f(k, i, jj);
        const GroupBlocks b = groupBlocks(c, 0, k);
        for (int p = b.trajectory; p < b.trajectory + trajectoryBlockSize(c, 0, k); ++p)
          g[p] -= w * pi[k] / L * work[p] * product;
        if (c.modelKind[0] == kCnorm) {
          const int s = logSigmaIndex(c, 0);
          g[s] -= w * pi[k] / L * work[s] * product * std::exp(x[s]);
        }
        for (int p = 0; p <= zeroInflationOrder(c, 0, k); ++p)
          g[b.zeroInflation + p] -= w * pi[k] / L * work[b.zeroInflation + p] * product;
      }
    }
    for (int j = 0; j < T && c.nDropoutOrder > 0; ++j) {
      c.cursorPeriod = j;
      for (int k = 0; k < c.nGroups[0]; ++k) {
        if (c.dropoutFactorStore[c.gij(k, i, j)] == missing) continue;
        c.cursorGroup = k;
        dropoutDerivative(n, x.data(), work.data(), &c);
        double product = 1.0;
        for (int jj = 0; jj < T; ++jj) product *= f(k, i, jj) * (jj == j ? 1.0 : D(k, i, jj));
        const int start = groupBlocks(c, 0, k).dropout;
        for (int q = start; q < start + dropoutOrderOf(c, k) + 1 + c.dcovPerPeriod; ++q)
          g[q] -= w * pi[k] / L * work[q] * product;
      }
    }
    double sum = 0.0;
    for (int k = 0; k < c.nGroups[0]; ++k) sum += c.groupTerm[c.gi(k, i)];
    for (int h = 1; h < c.nGroups[0]; ++h) {
      g[c.thetaStart + h - 1] += w * pi[h] * sum / L;
      g[c.thetaStart + h - 1] -= w * c.groupTerm[c.gi(h, i)] / L;
    }
  }
  return g;
}

TEST(SingleGradient, EqualsTheDirectFormulaToRounding) {
  std::vector<Scenario> scenarios = {cnormScenario(31, 3, 20), zipScenario(32, {1, 0}, {1, 0}, true, 20),
                                     dropoutScenario(33, {1, 2}, 20)};
  // Densities of exactly 0 (the zero-only group) must not upset the products.
  scenarios.push_back(zipScenario(34, {-1, 1}, {}, false, 20));
  for (const Scenario& s : scenarios) {
    PreparedRun run = prepare(s);
    ASSERT_TRUE(run.ctx);
    const std::vector<double> x = genericParameters(s, 16);
    const std::vector<double> g = engineGradient(run, x);
    const std::vector<double> direct = directFormula(run, x);
    for (std::size_t p = 0; p < x.size(); ++p)
      EXPECT_NEAR(g[p], direct[p], 1e-13 * std::max(1.0, std::fabs(direct[p]))) << s.kind << " " << p;
  }
}

TEST(SingleGradient, WeightedScoresAndTheirOuterProductSum) {
  const Scenario s = dropoutScenario(35, {1, 0}, 12);  // has weights
  const std::vector<double> x = genericParameters(s, 17);
  PreparedRun run = prepare(s);
  ASSERT_TRUE(run.ctx && run.ctx->hasWeights);
  ModelContext& c = *run.ctx;
  const int n = c.nParams;
  const std::vector<double> g = engineGradient(run, x);
  const std::vector<double> outer = c.scoreOuterSum;
  // Per-subject scores by central differences of -w_i ln L_i.
  std::vector<std::vector<double>> scores(c.nObs, std::vector<double>(n));
  for (int p = 0; p < n; ++p) {
    std::vector<double> xp = x;
    const double h = 1e-5 * std::max(1.0, std::fabs(x[p]));
    xp[p] = x[p] + h;
    engineNegLogLik(run, xp);
    const std::vector<double> up = c.subjectLik;
    xp[p] = x[p] - h;
    engineNegLogLik(run, xp);
    for (int i = 0; i < c.nObs; ++i)
      if (!c.excluded[i]) scores[i][p] = -c.weight[i] * (std::log(up[i]) - std::log(c.subjectLik[i])) / (2 * h);
  }
  for (int a = 0; a < n; ++a) {
    double total = 0.0;
    for (int i = 0; i < c.nObs; ++i) total += scores[i][a];
    EXPECT_NEAR(g[a], total, 1e-6 * std::max(1.0, std::fabs(total)));
    for (int b = 0; b < n; ++b) {
      double expected = 0.0;
      for (int i = 0; i < c.nObs; ++i) expected += scores[i][a] * scores[i][b];
      EXPECT_NEAR(outer[static_cast<std::size_t>(a) * n + b], expected, 1e-6 * std::max(1.0, std::fabs(expected)))
          << a << "," << b;
    }
  }
}

TEST(SingleGradient, UnweightedRunsLeaveTheScoresAlone) {
  const Scenario s = cnormScenario(36, 2, 8);
  PreparedRun run = prepare(s);
  run.ctx->subjectScore.assign(run.ctx->nParams, 7.0);
  run.ctx->scoreOuterSum.assign(static_cast<std::size_t>(run.ctx->nParams) * run.ctx->nParams, 7.0);
  engineGradient(run, cnormParameters(s));
  for (double v : run.ctx->subjectScore) EXPECT_EQ(v, 7.0);
  for (double v : run.ctx->scoreOuterSum) EXPECT_EQ(v, 7.0);
}

TEST(SingleGradient, ZipRateUnderflowContributesNothing) {
  Scenario s;
  s.kind = "poisson";
  s.nPeriods = 2;
  s.orders = {0};
  s.subjects = {makeSubject({0, 0}, {1, 2})};
  PreparedRun run = prepare(s);
  // lambda = exp(-719.78) < DBL_MIN: the piece writes nothing.
  const std::vector<double> g = engineGradient(run, {-800.0});
  EXPECT_EQ(g[0], 0.0);
}

TEST(SingleGradient, TraceShowsNameParametersAndGradient) {
  Scenario s = cnormScenario(37, 1, 4);
  s.debugTrace = true;
  PreparedRun run = prepare(s);
  const std::vector<double> x = cnormParameters(s);
  const std::vector<double> g = engineGradient(run, x);
  const std::string& out = run.host->stdoutText;
  const std::size_t head = out.find("singleModelDerivative\n");
  ASSERT_NE(head, std::string::npos);
  const std::size_t tail = out.find("gradient\n", head);
  ASSERT_NE(tail, std::string::npos);
  char first[64];
  std::snprintf(first, sizeof first, "%18.16f ", g[0]);
  EXPECT_EQ(out.compare(tail + 9, std::string(first).size(), first), 0) << out.substr(tail);
}

}  // namespace
}  // namespace kurv
