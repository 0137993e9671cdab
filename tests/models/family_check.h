#pragma once
// What the joint and multi-trajectory likelihood tests share: a run prepared
// for one family's likelihood and gradient, and the check of that gradient
// against central differences of the engine's subject likelihoods.

#include <gtest/gtest.h>

#include "core/evaluation.h"
#include "scenario.h"

namespace kurv::modeltest {

// A prepared run; the host outlives the record that points at it.
template <LikelihoodCallback likelihood, GradientCallback derivative>
struct FamilyRun {
  std::unique_ptr<testing::MemoryHost> host = std::make_unique<testing::MemoryHost>();
  std::unique_ptr<ModelContext> ctx;
  double nll(const std::vector<double>& x) {
    double f = 0.0;
    likelihood(static_cast<int>(x.size()), x.data(), &f, ctx.get());
    return f;
  }
  std::vector<double> gradient(const std::vector<double>& x) {
    std::vector<double> g(x.size());
    nll(x);
    derivative(static_cast<int>(x.size()), x.data(), nullptr, g.data(), ctx.get());
    return g;
  }
};

// The gradient at x against the sum over subjects of -w_i d ln L_i / dx_p,
// the subject likelihoods L_i read from `lik` and differenced centrally with
// step 1e-5 max(1, |x_p|) (error budget in likelihood_test.cpp); with
// weights, the score outer-product sum against the difference scores'.
template <class Run>
void expectGradientMatchesDifferences(Run& run, std::vector<double> x, std::vector<double> ModelContext::*lik,
                                      bool weights) {
  const ModelContext& c = *run.ctx;
  const int n = static_cast<int>(x.size());
  std::vector<std::vector<double>> score(c.nObs, std::vector<double>(n));
  for (int p = 0; p < n; ++p) {
    const double saved = x[p], h = 1e-5 * std::max(1.0, std::fabs(saved));
    auto at = [&](double v) { x[p] = v; run.nll(x); return c.*lik; };
    const std::vector<double> up = at(saved + h), down = at(saved - h);
    x[p] = saved;
    for (int i = 0; i < c.nObs; ++i)
      score[i][p] = c.excluded[i] ? 0.0 : -c.weight[i] * std::log(up[i] / down[i]) / (2 * h);
  }
  const std::vector<double> g = run.gradient(x);
  for (int a = 0; a < n; ++a) {
    double fd = 0.0;
    for (const auto& s : score) fd += s[a];
    EXPECT_NEAR(g[a], fd, 1e-6 * std::max(1.0, std::fabs(fd))) << "parameter " << a;
    for (int b = 0; b < n && weights; ++b) {
      double outer = 0.0;
      for (const auto& s : score) outer += s[a] * s[b];
      EXPECT_NEAR(c.scoreOuterSum[a * n + b], outer, 1e-6 * std::max(1.0, std::fabs(outer))) << a << "," << b;
    }
  }
}

}  // namespace kurv::modeltest
