// Cost of the multi-trajectory likelihood and gradient as the number of
// periods and of components grows.
//
// Three shared groups over 500 subjects; components cycle through censored
// normal, logit and Poisson, each with linear trajectories, prepared through
// the real argument decoding and multi-trajectory intake. Arguments: periods
// T (5, 10, 20, 40) and components C (2, 3). The likelihood's time grows
// linearly in T and C ("per_measurement", time / (T C) in nanoseconds, about
// constant); it gathers each component's log-term slopes, so the gradient's
// time grows with the number of parameters only, not with T.

#include <benchmark/benchmark.h>

#include <cmath>
#include <string>
#include <vector>

#include "bench_host.h"
#include "models/multi_gradient.h"
#include "models/multi_likelihood.h"
#include "engine/run_driver.h"

namespace {

const char* const kKinds[] = {"cnorm", "logit", "poisson"};

void build(kurv::bench::BenchRun& f, int T, int C, int subjects) {
  kurv::bench::Draws draw(2468, 1.0);
  for (int i = 0; i < subjects; ++i) {
    const int g = i % 3;
    std::vector<double> row;
    for (int m = 0; m < C; ++m) {
      std::vector<double> y(T), t(T);
      for (int j = 0; j < T; ++j) {
        t[j] = -1.0 + 2.0 * j / (T - 1);
        const double mu = 0.5 * g + 0.4 * t[j];
        y[j] = m == 0 ? 1.5 + 2.0 * g + t[j] + draw.noise()
               : m == 1 ? (draw.unit() < 1.0 / (1.0 + std::exp(-mu)) ? 1.0 : 0.0)
                        : std::floor(3.0 * draw.unit() * std::exp(mu));
        if (draw.unit() < 0.1) y[j] = kurv::bench::BenchHost::kMissing;
      }
      row.insert(row.end(), y.begin(), y.end());
      row.insert(row.end(), t.begin(), t.end());
    }
    f.host.data.push_back(row);
  }
  kurv::RunDescription d;
  for (int m = 0; m < C; ++m) {
    d.models[m] = {.present = true, .name = kKinds[m], .periods = T, .groups = 3, .censorMin = -1e6, .censorMax = 1e6};
    f.host.rowMatrices["kurv_mat_order" + std::to_string(m + 1)] = {1, 1, 1};
  }
  d.multGroups = 3;
  f.ctx.host = &f.host;
  f.ok = kurv::prepareDescribedRun(f.ctx, d) == 0;
  // The parameters the data were drawn from (sigma 1, equal shares), so
  // that no subject's likelihood underflows even at 40 periods.
  f.x.assign(static_cast<std::size_t>(f.ctx.nParams), 0.0);
  for (int m = 0; f.ok && m < C; ++m)
    for (int g = 0; g < 3; ++g) {
      const std::size_t s = static_cast<std::size_t>(f.ctx.layout.groupStarts[m][g][0]);
      f.x[s] = m == 0 ? 1.5 + 2.0 * g : 0.5 * g;
      f.x[s + 1] = m == 0 ? 1.0 : 0.4;
    }
}

void BM_MultiModelGradient(benchmark::State& state) {
  const int T = static_cast<int>(state.range(0)), C = static_cast<int>(state.range(1));
  kurv::bench::BenchRun f;
  build(f, T, C, 500);
  kurv::bench::timeGradient(state, f, kurv::multModelLogLikelihood, kurv::multModelDerivative, "per_measurement",
                            T * C);
}
BENCHMARK(BM_MultiModelGradient)
    ->ArgsProduct({{5, 10, 20, 40}, {2, 3}})
    ->Unit(benchmark::kMicrosecond);

void BM_MultiModelLikelihood(benchmark::State& state) {
  const int T = static_cast<int>(state.range(0)), C = static_cast<int>(state.range(1));
  kurv::bench::BenchRun f;
  build(f, T, C, 500);
  kurv::bench::timeLikelihood(state, f, kurv::multModelLogLikelihood, "per_measurement", T * C);
}
BENCHMARK(BM_MultiModelLikelihood)
    ->ArgsProduct({{5, 10, 20, 40}, {2, 3}})
    ->Unit(benchmark::kMicrosecond);

}  // namespace
