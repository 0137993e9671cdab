// Cost of one likelihood-plus-gradient evaluation of the single-trajectory
// model against the exp calls it needs.
//
// A censored-normal model far inside its bounds (no cell censored), 3 groups
// of quadratic trajectories, 10 periods, sigma 4, 100,000 subjects: the data
// of the speed goals. BM_LikelihoodAndGradient/threads evaluates the
// likelihood and then its gradient at one interior point; BM_ExpLoop is the
// yardstick, a plain loop of G * N * T = 3,000,000 exp calls over varied
// arguments. The ratio of the two times is the kernel's cost in exp calls
// (the counter "per_cell" is the time per (subject, period, group) cell in
// nanoseconds).

#include <benchmark/benchmark.h>

#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "bench_host.h"
#include "core/model_context.h"
#include "core/run_description.h"
#include "engine/run_driver.h"
#include "models/single_gradient.h"
#include "models/single_likelihood.h"
#include "plugin/run_command.h"

namespace {

constexpr int kSubjects = 100000;
constexpr int kPeriods = 10;
constexpr int kGroups = 3;

struct Fixture {
  kurv::bench::BenchHost host;
  kurv::ModelContext ctx;
  std::vector<double> x;
  bool ok = false;
  Fixture() {
    std::mt19937 gen(11);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    std::normal_distribution<double> noise(0.0, 4.0);
    const double b[3][3] = {{5, 0.5, 0.02}, {10, 4, -0.2}, {30, 6, -0.8}};
    for (int i = 0; i < kSubjects; ++i) {
      const double u = unit(gen);
      const int g = u < 0.3 ? 0 : (u < 0.75 ? 1 : 2);
      std::vector<double> row(2 * kPeriods);
      for (int j = 0; j < kPeriods; ++j) {
        const double t = j + 1.0;
        row[j] = b[g][0] + b[g][1] * t + b[g][2] * t * t + noise(gen);
        row[kPeriods + j] = t;
      }
      host.data.push_back(row);
    }
    host.rowMatrices["kurv_mat_order1"] = {2, 2, 2};
    std::vector<std::string> args = {"cnorm", std::to_string(kPeriods), "0", "0", "0", "0", "0", "3",
                                     "-1000", "1000", "0", "0", "0", "0", "0", "none", "0", "none", "0", "0",
                                     "0", "0", "0", "0", "0", "0", "0", "none", "0", "0",
                                     "0", "0", "0", "0", "0", "0", "0", "0", "0"};
    std::vector<const char*> argv;
    for (const auto& a : args) argv.push_back(a.c_str());
    ctx.host = &host;
    ok = kurv::prepareRunRecord(ctx, static_cast<int>(argv.size()), argv.data()) == 0;
    x = {5.1, 0.45, 0.021, 9.9, 4.1, -0.21, 30.2, 5.9, -0.79, std::log(4.1), 0.4, -0.2};
  }
};

Fixture& fixture() {
  static Fixture f;
  return f;
}

void BM_LikelihoodAndGradient(benchmark::State& state) {
  Fixture& f = fixture();
  if (!f.ok || f.ctx.nParams != static_cast<int>(f.x.size())) {
    state.SkipWithError("run preparation failed");
    return;
  }
  f.ctx.nThreads = static_cast<int>(state.range(0));
  const int n = f.ctx.nParams;
  std::vector<double> g(static_cast<std::size_t>(n));
  double nll = 0.0;
  int index = 1;
  for (auto _ : state) {
    kurv::singleModelLogLikelihood(n, f.x.data(), &nll, &f.ctx);
    kurv::singleModelDerivative(n, f.x.data(), &index, g.data(), &f.ctx);
    benchmark::DoNotOptimize(g.data());
  }
  state.counters["per_cell"] = benchmark::Counter(
      static_cast<double>(state.iterations()) * kSubjects * kPeriods * kGroups,
      benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_LikelihoodAndGradient)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_ExpLoop(benchmark::State& state) {
  const std::size_t cells = static_cast<std::size_t>(kSubjects) * kPeriods * kGroups;
  std::vector<double> v(cells);
  std::mt19937 gen(3);
  std::uniform_real_distribution<double> arg(-8.0, 0.0);
  for (double& a : v) a = arg(gen);
  for (auto _ : state) {
    double sum = 0.0;
    for (double a : v) sum += std::exp(a);
    benchmark::DoNotOptimize(sum);
  }
  state.counters["per_cell"] = benchmark::Counter(static_cast<double>(state.iterations()) * cells,
                                                  benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_ExpLoop)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
