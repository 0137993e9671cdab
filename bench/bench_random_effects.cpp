// Cost of one random-effects censored normal likelihood evaluation: 1,000
// subjects, 10 periods, 3 groups (linear trajectories, a shared random
// intercept and slope), without censoring (argument 0: bounds far away),
// with light censoring at 0 and 7.5 (argument 1) and heavy censoring at 0
// and 6 (argument 2: the top group sits near 6). With censoring the cost is dominated by the
// subjects with three or more censored measurements, whose rectangle
// probability takes the lattice rule (up to 500,000 integrand evaluations
// for each subject and group). The counter "censored3" is the share of
// subjects with at least three censored measurements.

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "bench_host.h"
#include "randomeffects/random_effects_likelihood.h"

namespace {

constexpr int kSubjects = 1000;
constexpr int kPeriods = 10;

void BM_RandomEffectsLikelihood(benchmark::State& state) {
  const int level = static_cast<int>(state.range(0));
  const double lo = level > 0 ? 0.0 : -1e300, hi = level == 0 ? 1e300 : (level == 1 ? 7.5 : 6.0);
  kurv::bench::BenchRun run;
  kurv::bench::Draws draw(2026, 1.0);
  int many = 0;
  for (int i = 0; i < kSubjects; ++i) {
    const int g = i % 3;
    const double b0 = 0.8 * draw.noise(), b1 = 0.15 * draw.noise();
    std::vector<double> y(kPeriods), t(kPeriods);
    int nCensored = 0;
    for (int j = 0; j < kPeriods; ++j) {
      t[j] = j * 0.5;
      y[j] = std::fmin(std::fmax(1.0 + 2.0 * g + (0.3 + b1) * t[j] + b0 + 0.6 * draw.noise(), lo), hi);
      nCensored += y[j] <= lo || y[j] >= hi;
    }
    many += nCensored >= 3;
    std::vector<double> row = y;
    row.insert(row.end(), t.begin(), t.end());
    run.host.data.push_back(row);
  }
  run.host.rowMatrices["kurv_mat_order1"] = {1, 1, 1};
  run.host.rowMatrices["kurv_mat_rorder1"] = {1};
  char bounds[2][32];
  std::snprintf(bounds[0], sizeof bounds[0], "%g", lo);
  std::snprintf(bounds[1], sizeof bounds[1], "%g", hi);
  // Trajectories, ln sigma, ln sd of intercept and slope, two membership constants.
  run.x = {1.0, 0.3, 3.0, 0.3, 5.0, 0.3, std::log(0.6), std::log(0.8), std::log(0.15), 0.0, 0.0};
  run.ok = kurv::bench::prepareFromArguments(
               run, {"cnorm", std::to_string(kPeriods), "0", "0", "0", "0", "0", "3",
                     bounds[0], bounds[1], "0", "1", "0", "0", "0", "none", "0", "none", "0", "0",
                     "0", "0", "0", "0", "0", "0", "0", "none", "0", "0",
                     "0", "0", "0", "0", "0", "0", "0", "0", "0"}) &&
           run.ctx.nParams == static_cast<int>(run.x.size());
  kurv::bench::timeLikelihood(state, run, kurv::randomEffectsCnormLogLikelihood);
  if (!run.ok) return;
  state.counters["censored3"] = static_cast<double>(many) / kSubjects;
}
BENCHMARK(BM_RandomEffectsLikelihood)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace
