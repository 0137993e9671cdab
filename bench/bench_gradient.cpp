// Cost of the single-model analytic gradient as the number of periods grows.
//
// A three-group censored-normal model (orders 1, 2, 1, one time-varying
// covariate) over 500 subjects, prepared through the real argument decoding
// and intake, evaluated at T = 5, 10, 20 and 40 periods. The likelihood
// gathers each group's log-term slopes while it visits the cells, so its time
// grows linearly in T ("per_period", time / T in nanoseconds, about
// constant), and the gradient only weights those slopes by the posteriors:
// its time does not depend on T at all.

#include <benchmark/benchmark.h>

#include <cmath>
#include <string>
#include <vector>

#include "bench_host.h"
#include "models/single_gradient.h"
#include "models/single_likelihood.h"

namespace {

void build(kurv::bench::BenchRun& f, int T, int subjects) {
  kurv::bench::Draws draw(12345, 1.5);
  for (int i = 0; i < subjects; ++i) {
    const int g = i % 3;
    std::vector<double> y(T), t(T), tcov(T);
    for (int j = 0; j < T; ++j) {
      t[j] = -1.0 + 2.0 * j / (T - 1);
      tcov[j] = draw.unit();
      const double v = 1.5 + 2.0 * g + 1.2 * t[j] + 0.3 * tcov[j] + draw.noise();
      y[j] = draw.unit() < 0.1 ? kurv::bench::BenchHost::kMissing : std::fmin(std::fmax(v, 0.0), 6.0);
    }
    std::vector<double> row = y;
    row.insert(row.end(), t.begin(), t.end());
    row.insert(row.end(), tcov.begin(), tcov.end());
    f.host.data.push_back(row);
  }
  f.host.rowMatrices["kurv_mat_order1"] = {1, 2, 1};
  // Trajectories (2 + 1, 3 + 1, 2 + 1 coefficients with the covariate),
  // ln sigma, two membership constants.
  f.x = {1.5, 1.2, 0.3, 3.5, 1.2, 0.1, 0.3, 5.5, 1.2, 0.3, std::log(1.5), 0.1, -0.2};
  f.ok = kurv::bench::prepareFromArguments(
             f, {"cnorm", std::to_string(T), "0", "0", "0", std::to_string(T), "0", "3",
                 "0", "6", "0", "0", "0", "0", "0", "none", "0", "none", "0", "0",
                 "0", "0", "0", "0", "0", "0", "0", "none", "0", "0",
                 "0", "0", "0", "0", "0", "0", "0", "0", "0"}) &&
         f.ctx.nParams == static_cast<int>(f.x.size());
}

void BM_SingleModelGradient(benchmark::State& state) {
  const int T = static_cast<int>(state.range(0));
  kurv::bench::BenchRun f;
  build(f, T, 500);
  kurv::bench::timeGradient(state, f, kurv::singleModelLogLikelihood, kurv::singleModelDerivative, "per_period", T);
}
BENCHMARK(BM_SingleModelGradient)->Arg(5)->Arg(10)->Arg(20)->Arg(40)->Unit(benchmark::kMicrosecond);

void BM_SingleModelLikelihood(benchmark::State& state) {
  kurv::bench::BenchRun f;
  build(f, static_cast<int>(state.range(0)), 500);
  kurv::bench::timeLikelihood(state, f, kurv::singleModelLogLikelihood);
}
BENCHMARK(BM_SingleModelLikelihood)->Arg(5)->Arg(10)->Arg(20)->Arg(40)->Unit(benchmark::kMicrosecond);

}  // namespace
