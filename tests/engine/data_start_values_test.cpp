// Start values guessed from the data. Growth-like data (12 weighings of 50
// subjects in three quadratic groups) are the case where the defaults
// (intercepts spread over the whole range, zero slopes) start two groups
// above every early measurement and the fit ends at a far worse maximum; the
// guess must start every group where data lie and reach the better one. For
// every kind the guessed trajectories of well-separated groups of equal size
// lie near the simulated ones.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>

#include "core/run_summary.h"
#include "engine/data_start_values.h"
#include "engine/run_driver.h"
#include "models/single_likelihood.h"
#include "support/run_builder.h"

namespace kurv {
namespace {

// Uniform and normal draws from a 32-bit Mersenne Twister (its sequence is
// fixed by the standard), the normal ones by Box and Muller.
struct Draws {
  std::mt19937 gen;
  double uniform() { return (gen() + 0.5) / 4294967296.0; }
  double normal() { return std::sqrt(-2.0 * std::log(uniform())) * std::cos(2.0 * M_PI * uniform()); }
};

struct Simulated {
  testing::MemoryHost host;
  RunDescription description = testing::defaultDescription();
};

// n subjects in T periods (t = 1..T), outcome drawn by `draw(subject, t,
// draws)` from a generator seeded with `seed`.
template <typename Draw>
void simulate(Simulated& s, const char* kind, int n, int T, const std::vector<double>& orders, Draw draw,
              unsigned seed = 17) {
  Draws d{std::mt19937(seed)};
  for (int i = 0; i < n; ++i) {
    std::vector<double> row;
    for (int t = 1; t <= T; ++t) row.push_back(draw(i, t, d));
    for (int t = 1; t <= T; ++t) row.push_back(t);
    s.host.data.push_back(row);
  }
  s.host.setRowVector("kurv_mat_order1", orders);
  ModelDescription& m = s.description.models[0];
  m.name = kind, m.periods = T, m.groups = static_cast<int>(orders.size());
  if (std::string(kind) == "cnorm") m.censorMin = -1e6, m.censorMax = 1e6;
}

// 50 subjects, 12 weighings at t = 1..12: a quarter in a slow-growing
// group, the others in a middle and a fast one; a level per subject and
// noise of standard deviation 1.5.
void growth(Simulated& s, unsigned seed) {
  const double b[3][3] = {{3, 1.5, 0.05}, {4, 3.0, 0.10}, {5, 4.5, 0.2}};
  int g = 0;
  double level = 0.0;
  simulate(s, "cnorm", 50, 12, {2, 2, 2}, [&](int, int t, Draws& d) {
    if (t == 1) g = d.uniform() < 0.25 ? 0 : (d.uniform() < 0.67 ? 1 : 2), level = 0.5 * d.normal();
    return b[g][0] + level + b[g][1] * t + b[g][2] * t * t + 1.5 * d.normal();
  }, seed);
}

TEST(DataStartValues, GrowthDataEveryGroupStartsAmongTheDataAndReachesTheBetterMaximum) {
  for (unsigned seed : {1u, 2u, 3u}) {
    SCOPED_TRACE(seed);
    double logLik[2] = {0, 0};
    for (bool guess : {false, true}) {
      Simulated s;
      growth(s, seed);
      s.description.dataStartValues = guess;
      if (guess) {
        // At the guessed start every group has a fair share of the posterior
        // probability: none starts where no data lie.
        auto ctx = testing::prepareTestRun(s.host, s.description);
        ASSERT_TRUE(ctx) << s.host.errors;
        ASSERT_TRUE(guessStartValuesFromData(*ctx));
        double f = 0.0;
        singleModelLogLikelihood(ctx->nParams, ctx->params.data(), &f, ctx.get());
        for (int k = 0; k < 3; ++k) {
          double share = 0.0;
          for (int i = 0; i < ctx->nObs; ++i) share += ctx->groupTerm[ctx->gi(k, i)] / ctx->nObs;
          EXPECT_GT(share, 0.15) << "group " << k;
        }
      }
      RunSummary summary;
      ASSERT_EQ(runDescribed(s.host, s.description, &summary), 0) << s.host.errors;
      ASSERT_TRUE(summary.fitted) << s.host.stdoutText;
      logLik[guess] = summary.logLikelihood;
      EXPECT_EQ(s.host.displayed.find("Start values guessed from the data") != std::string::npos, guess);
      EXPECT_TRUE(!guess || *std::min_element(summary.groupPct[0].begin(), summary.groupPct[0].end()) > 5.0);
    }
    EXPECT_GT(logLik[1], logLik[0] + 100.0);
  }
}

TEST(DataStartValues, SeparatedGroupsOfEqualSizeStartNearTheirTrajectories) {
  struct Case {
    const char* kind;
    std::vector<double> truth;  // intercept and slope of groups 1 and 2 (then ln sigma)
    double tolerance;
  };
  const Case cases[] = {{"cnorm", {2, 0.5, 12, -0.3, std::log(1.5)}, 0.1},
                        {"logit", {-2.5, 0.1, 1.5, 0.2}, 0.25},
                        {"poisson", {-0.5, 0.05, 2.0, 0.1}, 0.1}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.kind);
    Simulated s;
    const std::string kind = c.kind;
    simulate(s, c.kind, 600, 8, {1, 1}, [&](int i, int t, Draws& d) {  // subject i in group i % 2
      const int g = i % 2;
      const double eta = c.truth[2 * g] + c.truth[2 * g + 1] * t;
      if (kind == "cnorm") return eta + 1.5 * d.normal();
      if (kind == "logit") return d.uniform() < 1.0 / (1.0 + std::exp(-eta)) ? 1.0 : 0.0;
      double count = 0.0;  // Poisson by counting arrivals of unit rate
      for (double time = -std::log(d.uniform()); time < std::exp(eta); time -= std::log(d.uniform())) ++count;
      return count;
    });
    auto ctx = testing::prepareTestRun(s.host, s.description);
    ASSERT_TRUE(ctx) << s.host.errors;
    const std::vector<double> defaults = ctx->params;
    ASSERT_TRUE(guessStartValuesFromData(*ctx));
    for (std::size_t p = 0; p < c.truth.size(); ++p) EXPECT_NEAR(ctx->params[p], c.truth[p], c.tolerance) << p;
    EXPECT_EQ(ctx->params.back(), defaults.back());  // the membership constant keeps equal shares
    // The display shows the same values in the user's form.
    EXPECT_EQ(ctx->startDisplay[0], ctx->params[0]);
  }
}

TEST(DataStartValues, NotForJointRunsNorFewerSubjectsThanGroups) {
  Simulated few;
  simulate(few, "cnorm", 2, 4, {0, 0, 0}, [](int i, int t, Draws&) { return i + 0.1 * t; });
  auto ctx = testing::prepareTestRun(few.host, few.description);
  ASSERT_TRUE(ctx) << few.host.errors;
  const std::vector<double> before = ctx->params;
  EXPECT_FALSE(guessStartValuesFromData(*ctx));
  EXPECT_EQ(ctx->params, before);
  ctx->nModels = 2, ctx->nGroups[1] = 2;  // a joint run
  EXPECT_FALSE(guessStartValuesFromData(*ctx));
}

}  // namespace
}  // namespace kurv
