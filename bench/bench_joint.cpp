// Cost of the joint model's likelihood and analytic gradient as the number
// of periods grows.
//
// A censored-normal model of three groups (orders 1, 2, 1) joined with a
// logit model of two groups (orders 1, 1) over 500 subjects, prepared
// through the real argument decoding and intake and evaluated at the default
// start values, at T = 5, 10, 20 and 40 periods of each model. The
// likelihood's time grows linearly in T ("per_period" about constant); it
// gathers the log-term slopes, so the gradient's time does not depend on T.

#include <benchmark/benchmark.h>

#include <cmath>
#include <string>
#include <vector>

#include "bench_host.h"
#include "engine/start_values.h"
#include "models/joint_gradient.h"
#include "models/joint_likelihood.h"

namespace {

// Evaluated at the default start values.
void build(kurv::bench::BenchRun& f, int T, int subjects) {
  kurv::bench::Draws draw(12345, 1.5);
  for (int i = 0; i < subjects; ++i) {
    const int g = i % 3, k = (i % 3 + (draw.unit() < 0.3)) % 2;
    std::vector<double> y(T), t(T), z(T);
    for (int j = 0; j < T; ++j) {
      t[j] = -1.0 + 2.0 * j / (T - 1);
      const double v = 1.5 + 2.0 * g + 1.2 * t[j] + draw.noise();
      y[j] = draw.unit() < 0.1 ? kurv::bench::BenchHost::kMissing : std::fmin(std::fmax(v, 0.0), 6.0);
      z[j] = draw.unit() < 0.25 + 0.5 * k ? 1.0 : 0.0;
    }
    std::vector<double> row = y;
    row.insert(row.end(), t.begin(), t.end());
    row.insert(row.end(), z.begin(), z.end());
    row.insert(row.end(), t.begin(), t.end());
    f.host.data.push_back(row);
  }
  f.host.rowMatrices["kurv_mat_order1"] = {1, 2, 1};
  f.host.rowMatrices["kurv_mat_order2"] = {1, 1};
  const std::string periods = std::to_string(T);
  f.ok = kurv::bench::prepareFromArguments(
             f, {"cnorm", periods, "0", "0", "0", "0", "0", "3", "0", "6",
                 "0", "0", "0", "0", "0", "none", "0", "logit", periods, "0",
                 "0", "0", "2", "0", "0", "0", "0", "none", "0", "0",
                 "0", "0", "0", "0", "0", "0", "0", "0", "0"}) &&
         f.ctx.isJointModel();
  if (!f.ok) return;
  kurv::buildDefaultStartValues(f.ctx);
  f.x = f.ctx.params;
}

void BM_JointModelLikelihood(benchmark::State& state) {
  const int T = static_cast<int>(state.range(0));
  kurv::bench::BenchRun f;
  build(f, T, 500);
  kurv::bench::timeLikelihood(state, f, kurv::jointModelLogLikelihood, "per_period", T);
}
BENCHMARK(BM_JointModelLikelihood)->Arg(5)->Arg(10)->Arg(20)->Arg(40)->Unit(benchmark::kMicrosecond);

void BM_JointModelGradient(benchmark::State& state) {
  const int T = static_cast<int>(state.range(0));
  kurv::bench::BenchRun f;
  build(f, T, 500);
  kurv::bench::timeGradient(state, f, kurv::jointModelLogLikelihood, kurv::jointModelDerivative, "per_period", T);
}
BENCHMARK(BM_JointModelGradient)->Arg(5)->Arg(10)->Arg(20)->Arg(40)->Unit(benchmark::kMicrosecond);

}  // namespace
