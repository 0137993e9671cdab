// The reports of a fitted model against independent truth: Student t
// probabilities and p-values from R, group shares and expected values against
// closed forms, quadrature and central differences; the single and
// multi-trajectory estimates tables line by line.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>

#include "models/parameter_layout.h"
#include "report/estimate_row.h"
#include "report/estimates_table.h"
#include "report/expected_trajectory.h"
#include "report/group_percentages.h"
#include "report/multi_table.h"
#include "report/outcome_means.h"
#include "support/csv_data.h"
#include "support/run_builder.h"

namespace kurv {
namespace {

using testing::MemoryHost;
const std::string kFixtures = std::string(KURV_FIXTURE_DIR) + "/report/";

double logistic(double x) { return 1.0 / (1.0 + std::exp(-x)); }

// Model 1 with one group per order, and a diagonal covariance of the errors.
ModelContext fitted(MemoryHost& host, int kind, std::vector<double> orders, std::vector<double> params,
                    std::vector<double> se) {
  ModelContext ctx;
  ctx.host = &host;
  ctx.modelKind[0] = kind;
  ctx.nGroups[0] = static_cast<int>(orders.size());
  ctx.polyOrder[0] = orders;
  ctx.nParams = static_cast<int>(params.size());
  ctx.params = params;
  ctx.stdErrors = se;
  ctx.covariance.assign(params.size() * params.size(), 0.0);
  for (std::size_t k = 0; k < se.size(); ++k) ctx.covariance[k * se.size() + k] = se[k] * se[k];
  return ctx;
}

// interc1 linear1 interc2 linear2 quadra2 log(sigma) theta2, the scale
// correlated with an intercept and with the constant.
ModelContext twoGroupCnorm(MemoryHost& host) {
  ModelContext ctx = fitted(host, kCnorm, {1, 2}, {10.0, 0.5, 20.0, -1.0, 0.05, std::log(2.0), 0.0},
                            {2.0, 0.25, 2e6, 0.5, 0.025, 0.1, 0.2});
  ctx.censorMin[0] = -1e10;
  ctx.censorMax[0] = 1e10;
  ctx.scaleIndex[0] = 5;
  ctx.nMeasurements = 100;
  ctx.covariance[5 * 7 + 0] = ctx.covariance[0 * 7 + 5] = 0.01;
  ctx.covariance[5 * 7 + 6] = ctx.covariance[6 * 7 + 5] = 0.003;
  layoutParameters(ctx);
  return ctx;
}

TEST(StudentTCdf, MatchesRForDf1To200) {
  // tests/fixtures/report/student_t_reference.R: pt() on 23 values of t from
  // 0 to 50 for every df; the finite series is exact up to rounding.
  std::ifstream in(kFixtures + "student_t_reference.csv");
  std::string line;
  std::getline(in, line);  // header
  int count = 0, df;
  double t, p;
  for (; std::getline(in, line) && std::sscanf(line.c_str(), "%d,%lf,%lf", &df, &t, &p) == 3; ++count)
    EXPECT_NEAR(studentTCdf(t, df), p, 2e-15) << "df=" << df << " t=" << t;
  EXPECT_EQ(count, 200 * 23);
}

TEST(EstimatesTable, TwoGroupCnormLineByLine) {
  MemoryHost host;
  ModelContext ctx = twoGroupCnorm(host);
  const std::vector<double> before = ctx.covariance;
  printEstimatesTable(ctx);
  // tests/fixtures/report/two_group_cnorm_table.txt: p-values from R,
  // 2 * (1 - pt(c(5, 2, 0, 10), 100)) = 2.5e-06, 0.0482, 1, 0; sigma 2 with
  // error 2 * 0.1 (delta method); shares 1/2 with error 100 * 0.2 / 4.
  EXPECT_EQ(host.displayed, testing::readTextFile(kFixtures + "two_group_cnorm_table.txt"));
  EXPECT_EQ(host.macros["_outvars"], "interc1 linear1 interc2 linear2 quadra2 sigma theta2 ");
  // The covariance now refers to sigma: its row and column times 2.
  for (int r = 0; r < 7; ++r)
    for (int c = 0; c < 7; ++c)
      EXPECT_DOUBLE_EQ(ctx.covariance[r * 7 + c], before[r * 7 + c] * (r == 5 ? 2 : 1) * (c == 5 ? 2 : 1));
  EXPECT_EQ(ctx.params[5], std::log(2.0));

  // Without a covariance: blank errors and tests, and a note in the heading
  // (two_group_cnorm_no_se.txt).
  MemoryHost failedHost;
  ModelContext failed = twoGroupCnorm(failedHost);
  failed.covFailCode = 3;
  failed.stdErrors.assign(7, failedHost.missingValue());
  printEstimatesTable(failed);
  EXPECT_EQ(failedHost.displayed, testing::readTextFile(kFixtures + "two_group_cnorm_no_se.txt"));
}

TEST(EstimatesTable, ReferenceGroupOtherThanFirstOwnsNoConstant) {
  // Reference group 2: the constants 0 and log 2 belong to groups 1 and 3.
  MemoryHost host;
  ModelContext ctx = fitted(host, kLogit, {0, 0, 0}, {-1, 0, 1, 0, std::log(2.0)}, {0.1, 0.1, 0.1, 0.3, 0.4});
  ctx.refGroup[0] = 1;
  ctx.hasRefGroup[0] = true;
  layoutParameters(ctx);
  printEstimatesTable(ctx);
  for (int g = 0; g < 3; ++g) EXPECT_NEAR(ctx.groupPct[g], g == 2 ? 50.0 : 25.0, 1e-12) << g;
  // Independent constants: var(p_r) = p_r^2 (p_1^2 var_1 + p_3^2 var_3).
  EXPECT_NEAR(ctx.groupPctSe[1], 100.0 * 0.25 * std::sqrt(0.0625 * 0.09 + 0.25 * 0.16), 1e-12);
  EXPECT_EQ(host.macros["_outvars"], "interc1 interc2 interc3 theta1 theta3 ");
}

// Shares in percent: exp(c_g) / sum exp(c_h), the reference group's c being 0.
std::vector<double> shares(const std::vector<double>& constants, int ref) {
  std::vector<double> e(constants.size() + 1, 1.0);
  double sum = 0.0;
  for (std::size_t g = 0, c = 0; g < e.size(); ++g) {
    if (static_cast<int>(g) != ref) e[g] = std::exp(constants[c++]);
    sum += e[g];
  }
  for (double& v : e) v *= 100.0 / sum;
  return e;
}

TEST(GroupPercentages, DeltaMethodForEveryReferenceGroup) {
  // Four groups, constants at indexes 1..3 of 5; other entries must not enter.
  const std::vector<double> block = {0.30, 0.05, -0.02, 0.05, 0.20, 0.04, -0.02, 0.04, 0.50};
  std::vector<double> full(25, 7.0);
  for (int a = 0; a < 9; ++a) full[(1 + a / 3) * 5 + 1 + a % 3] = block[a];
  const std::vector<double> c0 = {0.4, -1.2, 0.9};
  for (int ref = 0; ref < 4; ++ref) {
    std::vector<double> constants = c0, pct(4), se(4);
    groupPercentages(constants, ref, full.data(), 5, 1, -1.0, pct, se);
    // Central-difference Jacobian of the shares, step 1e-6: error ~1e-10.
    std::vector<double> jac(12);
    for (int c = 0; c < 3; ++c) {
      std::vector<double> up = c0, down = c0;
      up[c] += 1e-6;
      down[c] -= 1e-6;
      const auto pu = shares(up, ref), pd = shares(down, ref);
      for (int g = 0; g < 4; ++g) jac[g * 3 + c] = (pu[g] - pd[g]) / 2e-4;
    }
    for (int g = 0; g < 4; ++g) {
      double v = 0.0;
      for (int a = 0; a < 9; ++a) v += jac[g * 3 + a / 3] * block[a] * jac[g * 3 + a % 3];
      EXPECT_NEAR(pct[g], shares(c0, ref)[g], 1e-12) << "reference " << ref << " group " << g;
      EXPECT_NEAR(se[g], 100.0 * std::sqrt(v), 1e-7) << "reference " << ref << " group " << g;
    }
  }
  // exp(800) overflows: the constant is clamped to log(DBL_MAX) - 10.
  std::vector<double> big = {800.0}, pct(2), se(2);
  groupPercentages(big, 0, nullptr, 1, 0, -1.0, pct, se);
  EXPECT_NEAR(big[0], std::log(1.7976931348623157e308) - 10.0, 1e-12);
  EXPECT_NEAR(pct[1], 100.0, 1e-12);
  EXPECT_EQ(se[0], -1.0);  // missing without a covariance
}

// E[min(max(X, lo), hi)], X ~ N(eta, sigma^2), by Simpson's rule on eta -+ 12
// sigma (beyond: < 1e-30 of the mass), split at the kinks lo and hi.
double censoredMeanByQuadrature(double eta, double sigma, double lo, double hi) {
  auto part = [&](double a, double b, auto value) {
    const int n = 4000;
    const double h = (b - a) / n;
    double sum = 0.0;
    for (int k = 0; k <= n; ++k) {
      const double x = a + k * h, z = (x - eta) / sigma;
      sum += (k == 0 || k == n ? 1 : k % 2 ? 4 : 2) * value(x) * std::exp(-0.5 * z * z);
    }
    return sum * h / 3 / (sigma * std::sqrt(2 * M_PI));
  };
  return part(std::min(lo, eta - 12 * sigma), lo, [&](double) { return lo; }) +
         part(lo, hi, [](double x) { return x; }) +
         part(hi, std::max(hi, eta + 12 * sigma), [&](double) { return hi; });
}

struct TrajectoryCase {
  const char* title;
  ModelContext ctx;
  double t, exposure;
  std::vector<double> mean;  // of every group, from closed forms
};

std::vector<TrajectoryCase> trajectoryCases(MemoryHost& host) {
  std::vector<TrajectoryCase> all;
  ModelContext cnorm = twoGroupCnorm(host);
  all.push_back({"cnorm, bounds far away: the linear predictor", cnorm, 2.0, 1.0, {11.0, 18.2}});
  cnorm.censorMin[0] = 0.0;
  cnorm.censorMax[0] = 10.0;
  cnorm.params = {3.0, 0.5, 4.0, 1.5, -0.1, std::log(2.0), 0.3};
  all.push_back({"cnorm, both bounds active, sigma 2", cnorm, 2.5, 1.0,
                 {censoredMeanByQuadrature(3.0 + 0.5 * 2.5, 2.0, 0.0, 10.0),
                  censoredMeanByQuadrature(4.0 + 1.5 * 2.5 - 0.1 * 6.25, 2.0, 0.0, 10.0)}});
  // interc1 | interc2 linear2 quadra2 | alpha0g1 | alpha0g2 alpha1g2 | theta2
  ModelContext zip = fitted(host, kZip, {0, 2}, {0.1, 0.2, 0.3, -0.05, -2.0, -1.0, 0.4, 0.0}, {});
  zip.nPeriods[0] = zip.nExposure[0] = zip.nInflOrder[0] = 2;
  zip.inflOrder[0] = {0, 1};
  layoutParameters(zip);
  all.push_back({"zip, inflation per group, exposure 2", zip, 1.5, 2.0,
                 {2 * std::exp(0.1) * (1 - logistic(-2.0)),
                  2 * std::exp(0.2 + 0.45 - 0.05 * 2.25) * (1 - logistic(-1.0 + 0.4 * 1.5))}});
  // interc1 linear1 | interc2 | alpha0 alpha1 shared by both groups | theta2
  ModelContext shared = fitted(host, kZip, {1, 0}, {0.1, 0.2, 0.3, -1.0, 0.4, 0.0}, {});
  shared.nInflOrder[0] = shared.singleInflOrder[0] = 1;
  shared.inflOrder[0] = {1};
  layoutParameters(shared);
  const double keep = 1 - logistic(-1.0 + 0.4 * 2.0);
  all.push_back({"zip, one shared inflation order 1", shared, 2.0, 1.0,
                 {keep * std::exp(0.1 + 0.2 * 2.0), keep * std::exp(0.3)}});
  // Group 1 of order -1; covariate c of group 2 at period j in column c * 2 + j.
  ModelContext cov = fitted(host, kLogit, {-1, 0}, {0.0, 0.5, 0.25, 0.0}, {});
  cov.nPeriods[0] = 2;
  cov.nTcov[0] = 4;
  cov.tcovPerPeriod[0] = 2;
  cov.plotTcov = {1.0, 2.0, host.missingValue(), 5.0};
  layoutParameters(cov);
  cov.cursorPeriod = 1;
  all.push_back({"logit, plot covariates 2 and 5", cov, 1.0, 1.0, {0.0, logistic(0.5 * 2.0 + 0.25 * 5.0)}});
  cov.cursorPeriod = 0;
  all.push_back({"logit, plot covariates 1 and missing", cov, 1.7, 1.0, {0.0, logistic(0.5)}});
  return all;
}

TEST(ExpectedTrajectory, MeansAgainstClosedFormsAndSlopesAgainstDifferences) {
  MemoryHost host;
  for (TrajectoryCase& c : trajectoryCases(host)) {
    SCOPED_TRACE(c.title);
    ModelContext& ctx = c.ctx;
    const int n = ctx.nParams, last = ctx.nGroups[0] - 1;
    ctx.covariance.assign(n * n, 0.001);  // dense and positive definite
    for (int k = 0; k < n; ++k) ctx.covariance[k * n + k] = 0.01 * (k + 1);
    std::vector<double> mean(last + 1), variance(last + 1), other(last + 1), ignored(last + 1);
    expectedTrajectoryPoint(c.t, c.exposure, mean, variance, ctx);
    const std::vector<double> d = ctx.derivativeWork;  // gradient of the last group's mean
    for (int g = 0; g <= last; ++g) EXPECT_NEAR(mean[g], c.mean[g], 1e-10 * std::max(1.0, c.mean[g])) << g;
    // Central differences (step 1e-6, error ~1e-10); the scale is left out of bands.
    std::vector<double> fd(n);
    const std::vector<double> base = ctx.params;
    for (int k = 0; k < n; ++k) {
      if (k == ctx.scaleIndex[0]) continue;
      const double h = 1e-6 * (std::fabs(base[k]) + 1.0);
      for (int side : {1, -1}) {
        ctx.params[k] = base[k] + side * h;
        expectedTrajectoryPoint(c.t, c.exposure, other, ignored, ctx);
        fd[k] += side * other[last] / (2 * h);
      }
      ctx.params = base;
    }
    double v = 0.0;
    for (int r = 0; r < n; ++r) {
      EXPECT_NEAR(d[r], fd[r], 1e-7 * std::max(1.0, std::fabs(fd[r]))) << "parameter " << r;
      for (int s = 0; s < n; ++s) v += fd[r] * ctx.covariance[r * n + s] * fd[s];
    }
    EXPECT_NEAR(variance[last], v, 1e-6 * (v + 1e-3));
  }
}

TEST(OutcomeGroupMeans, MeansAndLimitsOfEveryOutcomeModel) {
  // theta2 | a constant per group | log sigma = log 1.5 of a normal outcome,
  // censored to [0, 3] or not, or a zip outcome's inflation constant 0.4,
  // used when the outcome is inflated. The limits are the mean at eta -+ 1.96 se.
  struct Case { int kind; bool bounded, inflated; };
  MemoryHost host;
  for (Case c : {Case{kCnorm, true, false}, {kCnorm, false, false}, {kLogit, false, false}, {kZip, false, false},
                 {kZip, false, true}}) {
    ModelContext ctx = fitted(host, kLogit, {0, 0}, {0, 0, 2.5, c.kind == kCnorm ? std::log(1.5) : 0.4},
                              {0.05, 1.0, 0.3, 0.1});
    ctx.hasOutcome = true;
    ctx.omodelKind = c.kind;
    // Laid out by hand: a parameter before the outcome block, the group
    // constants, the outcome's own parameter.
    using K = BlockKind;
    ctx.layout.params = {{0, 0, K::Trajectory, 0, "a"}, {0, 0, K::Outcome, 0, "GROUP1"},
                         {0, 1, K::Outcome, 0, "GROUP2"}, {0, -1, K::Outcome, 0, "own"}};
    ctx.hasOutcomeCensorMin = ctx.hasOutcomeCensorMax = c.bounded;
    ctx.outcomeCensorMax = 3.0;
    ctx.outcomeHasZeroInflation = c.inflated;
    outcomeGroupMeans(ctx);
    auto f = [&](double eta) {
      if (c.kind == kCnorm) return c.bounded ? censoredMeanByQuadrature(eta, 1.5, 0.0, 3.0) : eta;
      return c.kind == kLogit ? logistic(eta) : std::exp(eta) * (c.inflated ? 1 - logistic(0.4) : 1.0);
    };
    for (int k = 0; k < 2; ++k) {
      const double eta = ctx.params[1 + k], se = ctx.stdErrors[1 + k];
      EXPECT_NEAR(ctx.outcomeGroupMean[k], f(eta), 1e-10) << c.kind << c.bounded << c.inflated << " " << k;
      EXPECT_NEAR(ctx.outcomeGroupLower[k], f(eta - 1.96 * se), 1e-10) << c.kind << c.bounded << c.inflated;
      EXPECT_NEAR(ctx.outcomeGroupUpper[k], f(eta + 1.96 * se), 1e-10) << c.kind << c.bounded << c.inflated;
    }
  }
}

// Model 1 (orders 1 and 0) beside a ZIP model 2 of two constant groups with
// the zero-inflation orders `inflation`, prepared from `data` with `more` arguments.
std::unique_ptr<ModelContext> besideZip(MemoryHost& host, std::vector<std::vector<double>> data,
                                        std::vector<double> inflation, testing::ArgChanges more) {
  host.data = std::move(data);
  host.setRowVector("kurv_mat_order1", {1, 0});
  host.setRowVector("kurv_mat_order2", {0, 0});
  host.setRowVector("kurv_mat_iorder2", inflation);
  more.insert(more.begin(), {{8, "2"}, {18, "zip"}, {19, "1"}, {23, "2"}});
  auto ctx = testing::prepareTestRun(host, testing::argsWith(more));
  host.displayed.clear();
  return ctx;
}

// The estimates table of a multi-trajectory run, line by line
// (tests/fixtures/report/multi_table.txt): a censored
// normal component with a linear and a constant group, then a ZIP component
// of two constant groups with a time-varying covariate each, whose first
// group has a linear zero-inflation block and whose second has none, then
// the shared membership.
TEST(MultiTable, RowsPerComponentThenSharedPercentages) {
  MemoryHost host;
  auto ctx = besideZip(host, {{1, 0, 2, 0, 0.5}, {2, 1, 0, 1, -0.5}}, {1, -1}, {{22, "1"}, {26, "2"}, {34, "2"}});
  ASSERT_TRUE(ctx) << host.errors;
  ASSERT_EQ(ctx->nParams, 11);
  ctx->params = {1, 2, 3, std::log(2.0), 0.5, 0.25, 0.6, 0.35, -1, 0.2, std::log(3.0)};
  ctx->stdErrors = {0.1, 0.2, 0.3, 0.4, 0.5, 0.55, 0.6, 0.65, 0.7, 0.8, 0.9};
  ctx->covariance.assign(121, 1.0);
  ctx->covFailCode = 1;
  printMultiEstimatesTable(*ctx);

  EXPECT_EQ(host.displayed, testing::readTextFile(kFixtures + "multi_table.txt"));
  EXPECT_EQ(host.macros["_outvars"],
            "interc1 linear1 interc2 sigma1 m2interc1 m2tcov1_1 m2interc2 m2tcov1_2 m2alpha0g1 m2alpha1g1 mtheta2 ");
  // Sigma's row and column now refer to sigma = 2 itself; the rest is as it was.
  EXPECT_EQ((std::vector<double>{ctx->covariance[3 * 11 + 3], ctx->covariance[3 * 11 + 10], ctx->covariance[0]}),
            (std::vector<double>{4.0, 2.0, 1.0}));
  EXPECT_NEAR(ctx->groupPct[1], 75.0, 1e-12);
}

// A joint run whose model 2 is a ZIP model with one shared linear
// zero-inflation block beside a censored normal model 1: model 2's section
// carries the inflation rows after its trajectories, under their own names
// (tests/fixtures/report/joint_zip_table.txt).
TEST(JointTable, Model2ZeroInflationRowsFollowItsTrajectories) {
  MemoryHost host;
  auto ctx = besideZip(host, {{1, 0, 2, 0}, {2, 1, 0, 1}}, {1}, {{26, "1"}});
  ASSERT_TRUE(ctx) << host.errors;
  ctx->params.assign(static_cast<std::size_t>(ctx->nParams), 0.5);
  ctx->stdErrors.assign(static_cast<std::size_t>(ctx->nParams), 0.1);
  ctx->covariance.assign(static_cast<std::size_t>(ctx->nParams) * ctx->nParams, 0.0);
  printEstimatesTable(*ctx);
  EXPECT_EQ(host.displayed, testing::readTextFile(kFixtures + "joint_zip_table.txt"));
  EXPECT_NE(host.macros["_outvars"].find("m2alpha0 m2alpha1 "), std::string::npos) << host.macros["_outvars"];
}

}  // namespace
}  // namespace kurv
