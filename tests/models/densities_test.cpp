// Densities of single measurements and dropout factors against the textbook
// forms of scenario.h, cell by cell, on hand-made data that reach every
// branch: censoring below, at and above each bound, nonzero logit values,
// zero inflation per group and shared, exposure (0 and missing), the
// zero-only first group, unusable periods, and the dropout factor's
// existence rules. Then the exponent clamp's ends, the outcome-analysis
// density, and the derivative pieces of model 2 of a joint run.

#include <gtest/gtest.h>

#include <cfloat>

#include "models/densities.h"
#include "models/measurement_derivative.h"
#include "models/measurement_tables.h"
#include "scenario.h"

namespace kurv {
namespace {

using namespace modeltest;

Subject subject(std::vector<double> y, std::vector<double> t) { return {.y = std::move(y), .t = std::move(t)}; }

Scenario dropoutSubjects() {
  Scenario s{.T = 5, .dcov = 1, .orders = {0, 0}, .dropoutOrders = {1, 2}, .exempt = true};
  for (auto y : std::vector<std::vector<double>>{{1, 2, 3, 4, 5}, {1, 2, M, M, M}, {1, 2, M, M, M}, {M, 1, 2, 3, 4},
                                                 {1, M, 3, 4, 5}, {1, 2, 3, 4, 5}, {M, M, M, M, M}, {1, 2, 3, 4, 5}})
    s.subjects.push_back({.y = y, .t = {1, 2, 3, 4, 5}, .dcov = {0.1, 0.2, 0.3, 0.4, 0.5}});
  s.subjects[2].exempt = 1;       // drops out too, but exempt from the model
  s.subjects[5].dcov[3] = M;      // no factor where a dropout covariate is missing
  s.subjects[7].selected = false;  // excluded
  return s;
}

TEST(Densities, EveryCellAgainstTheTextbookForms) {
  Scenario cnorm{.T = 5, .tcov = 2, .orders = {1, 2}, .censorMin = 0, .censorMax = 8};
  cnorm.subjects = {subject({-1, 0, 4.2, 8, 9}, {0.5, 1, 1.5, 2, 2.5}), subject({1, M, 2, 3, 4}, {1, 2, M, 3, 4})};
  cnorm.subjects[0].tcov = {0.3, -1, 0.5, 1, 0, 2, 0.4, -0.5, 1, 0.2};
  cnorm.subjects[1].tcov = {0, 0, 0, M, 0, 1, 1, 1, 1, 1};
  Scenario zip{.kind = "zip", .T = 4, .orders = {1, 0}, .inflOrders = {1, -1}, .exposure = true};
  zip.subjects = {subject({0, 3, 0, 2}, {0.5, 1, 1.5, 2}), subject({4, 0, 1, 0}, {0, 1, 2, 3})};
  zip.subjects[0].exposure = {0, 1.5, 2, 0.5};  // exposure 0: lambda 0
  zip.subjects[1].exposure = {1, M, 0, 0.7};
  Scenario zipShared = zip;
  zipShared.inflOrders = {0};
  Scenario zeroOnly{.T = 3, .orders = {-1, 1}, .subjects = {subject({0, 2.5, 0}, {1, 2, 3})}};
  Scenario completeLength{.T = 5, .orders = {0}, .dropoutOrders = {2}};
  completeLength.subjects = {subject({M, 1, 2, 3, M}, {1, 2, 3, 4, 5}), subject({1, 2, 3, M, M}, {1, 2, 3, 4, 5})};
  const std::pair<const char*, Scenario> cases[] = {
      {"cnorm", cnorm}, {"logit", {.kind = "logit", .T = 3, .orders = {1}, .subjects = {subject({0, 1, 2}, {0, 1, 2})}}},
      {"zip per group", zip}, {"zip shared", zipShared}, {"zero-only group", zeroOnly},
      {"dropout", dropoutSubjects()}, {"complete data length", completeLength}};
  for (const auto& [name, s] : cases) {
    SCOPED_TRACE(name);
    Prepared run = prepare(s);
    ASSERT_TRUE(run.ctx) << run.host->errors;
    ModelContext& c = *run.ctx;
    const std::vector<double> x = parametersOf(s, 5);
    const Facts f = factsOf(s);
    const double sigma = s.kind == "cnorm" ? std::exp(x[layoutOf(s).sigma]) : 0.0;
    for (bool tables : {false, true}) {  // from the data, then from the cached tables
      if (tables) prepareMeasurementTables(c);
      for (int k = 0; k < s.G(); ++k) {
        for (int i = 0; i < c.nObs; ++i) {
          for (int j = 0; j < s.T; ++j) {
            const double expected = f.usable[i][j] ? referenceDensity(s, x, k, i, j) : 1.0;
            const double density = measurementDensity(x.data(), c, {0, k, i, j}, groupBlocks(c, 0, k), sigma);
            // logGamma's series error, 2.1e-11 in ln y!, bounds the Poisson cells.
            EXPECT_NEAR(density, expected, 2.5e-11 * expected) << k << "," << i << "," << j;
            const auto factor = dropoutProb(x.data(), c, k, i, j, groupBlocks(c, 0, k).dropout);
            EXPECT_NEAR(factor.value_or(1.0), referenceDropout(s, f, x, k, i, j), 1e-15) << k << "," << i << "," << j;
          }
        }
      }
    }
  }
}

// The exponent clamp [-ln DBL_MAX - 10, ln DBL_MAX - 10] keeps probabilities
// off exactly 0 and 1; a Poisson mean below DBL_MIN gives a nonzero count
// density 0 and a flat derivative.
TEST(Densities, ClampEnds) {
  const double high = std::log(DBL_MAX) - 10.0, low = std::exp(-high - 20.0);
  Prepared logit = prepare({.kind = "logit", .T = 2, .orders = {0}, .subjects = {subject({1, 0}, {1, 2})}});
  Prepared poisson = prepare({.kind = "poisson", .T = 2, .orders = {0}, .subjects = {subject({3, 0}, {1, 2})}});
  auto at = [](Prepared& run, double b, int j) {
    const std::vector<double> x = {b};
    return measurementDensity(x.data(), *run.ctx, {0, 0, 0, j}, groupBlocks(*run.ctx, 0, 0), 1.0);
  };
  EXPECT_EQ(at(logit, -800, 0), low / (low + 1.0));
  EXPECT_EQ(at(logit, 800, 1), 1.0 - std::exp(high) / (std::exp(high) + 1.0));
  EXPECT_EQ(at(poisson, -800, 0), 0.0);
  EXPECT_EQ(at(poisson, -800, 1), 1.0);
  EXPECT_EQ(at(poisson, 800, 1), std::exp(-high));
  poisson.ctx->currentModel = poisson.ctx->cursorSubject = poisson.ctx->cursorGroup = 0;
  poisson.ctx->cursorPeriod = 1;
  std::vector<double> x = {-800.0}, work = {7.0};
  measurementDerivative(1, x.data(), work.data(), poisson.ctx.get());
  EXPECT_EQ(work[0], 0.0);
}

TEST(Densities, OutcomeAnalysis) {
  ModelContext c;
  c.outcomeValue = {0.0, 1.0, 3.0, -2.0, 9.0};
  struct Case { int kind, i; double eta, sigma, omega, expected; };
  const Case cases[] = {
      {kLogit, 0, 0.4, 0, 0, 1.0 - logistic(0.4)}, {kLogit, 2, 0.4, 0, 0, logistic(0.4)},
      {kCnorm, 2, 1.0, 2.0, 0, pdf(1.0) / 2.0}, {kCnorm, 3, 1.0, 2.0, 0, Phi(-1.5)},
      {kCnorm, 4, 1.0, 2.0, 0, 1.0 - Phi(4.0)}, {kZip, 0, 0.5, 0, 0.2, 0.2 + 0.8 * std::exp(-std::exp(0.5))},
      {kZip, 2, 0.5, 0, 0.2, 0.8 * poisson(3, std::exp(0.5))}, {kZip, 2, -719.0, 0, 0.0, 0.0}};
  for (const Case& k : cases) {
    c.omodelKind = k.kind;
    c.hasOutcomeCensorMin = c.hasOutcomeCensorMax = k.i >= 3;  // bounds -2 and 9
    c.outcomeCensorMin = -2.0, c.outcomeCensorMax = 9.0;
    EXPECT_NEAR(outcomeDensity(c, k.i, k.eta, k.sigma, k.omega), k.expected, 2.5e-11 * k.expected) << k.kind << " " << k.i;
  }
}

// Model 2 of a joint run (model 1: one normal group, 2 periods; model 2: 3
// periods, groups of orders 1 and 2, normal censored at -1 and 2): each
// derivative piece against central differences of the density it
// differentiates, at model 2's positions of the parameter vector.
TEST(Densities, JointModelTwoPiecesAgainstDifferences) {
  for (const char* kind : {"cnorm", "logit", "poisson"}) {
    SCOPED_TRACE(kind);
    testing::MemoryHost host;
    const bool cnorm = std::string(kind) == "cnorm";
    host.data = {{0.5, 1.0, 1, 2, cnorm ? -1.5 : 0.0, cnorm ? 0.7 : 1.0, cnorm ? 2.0 : 3.0, 0.5, 1.0, 1.5}};
    host.setRowVector("kurv_mat_order1", {0});
    host.setRowVector("kurv_mat_order2", {1, 2});
    auto args = testing::defaultArgs();
    const std::pair<int, const char*> set[] = {{2, "2"}, {18, kind}, {19, "3"}, {23, "2"}, {24, "-1"}, {25, "2"}};
    for (auto [position, value] : set) testing::setArg(args, position, value);
    auto ctx = testing::prepareTestRun(host, args);
    ASSERT_TRUE(ctx && ctx->isJointModel()) << host.errors;
    ModelContext& c = *ctx;
    prepareMeasurementTables(c);
    const int n = c.nParams, sigmaAt = logSigmaIndex(c, 1);
    std::vector<double> x(n, 0.2);
    if (cnorm) x[sigmaAt] = std::log(0.9);
    c.currentModel = 1, c.cursorSubject = 0;
    for (int k = 0; k < 2; ++k) {
      for (int j = 0; j < 3; ++j) {
        c.cursorGroup = k, c.cursorPeriod = j;
        std::vector<double> work(n, 99.0);
        measurementDerivative(n, x.data(), work.data(), &c);
        const int start = groupBlocks(c, 1, k).trajectory, size = trajectoryBlockSize(c, 1, k);
        for (int p = 0; p < n; ++p) {
          const bool own = (p >= start && p < start + size) || (cnorm && p == sigmaAt);
          if (!own) continue;
          auto density = [&](double v) {
            std::vector<double> y = x;
            y[p] = v;
            return measurementDensity(y.data(), c, {1, k, 0, j}, groupBlocks(c, 1, k), std::exp(y[sigmaAt]));
          };
          // The piece gives d/dsigma at the log-sigma position: d/d ln sigma / sigma.
          const double fd = (density(x[p] + 1e-6) - density(x[p] - 1e-6)) / 2e-6 / (p == sigmaAt && cnorm ? 0.9 : 1.0);
          EXPECT_NEAR(work[p], fd, 1e-7 * std::max(1.0, std::fabs(fd))) << k << "," << j << " position " << p;
        }
        EXPECT_EQ(work[0], 99.0);  // model 1's positions are not the piece's
      }
    }
  }
}

}  // namespace
}  // namespace kurv
