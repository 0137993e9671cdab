// The minimizer's own cost per iteration (Newton step, dogleg, assessment,
// factored BFGS update; in difference mode also the bookkeeping of the
// difference gradient), measured on an ill-conditioned quadratic whose
// function and gradient cost O(n), next to one evaluation of a likelihood
// of realistic size: a four-group censored-normal trajectory mixture over
// 1,000 subjects with 10 occasions each.

#include <benchmark/benchmark.h>

#include <cfloat>
#include <cmath>
#include <vector>

#include "optim/minimizer.h"

namespace {

using kurv::MinimizerState;

// f = ½ Σ λᵢ(xᵢ − 1)² + 1 with λᵢ from 1 to 10⁴: the secant method needs
// many iterations, so a fixed iteration budget is all used.
double eigenvalue(int i, int n) { return 1.0 + 9999.0 * i / std::max(n - 1, 1); }

class Quadratic : public kurv::Objective {
 public:
  std::optional<double> value(std::span<const double> x) override {
    const int n = static_cast<int>(x.size());
    double s = 0.0;
    for (int i = 0; i < n; ++i) s += eigenvalue(i, n) * (x[i] - 1) * (x[i] - 1);
    return 0.5 * s + 1;
  }
  bool gradient(std::span<const double> x, std::span<double> g) override {
    const int n = static_cast<int>(x.size());
    for (int i = 0; i < n; ++i) g[i] = eigenvalue(i, n) * (x[i] - 1);
    return true;
  }
};

constexpr int kIterations = 40;

MinimizerState freshState(int n) {
  MinimizerState st;
  kurv::setMinimizerDefaults(kurv::kGeneralMinimization, kurv::realWorkLength(n), st);
  kurv::setMinimizerIntegerSettings(st);
  st.maxIterations = kIterations;
  return st;
}

using Minimize = void (*)(MinimizerState&, std::span<const double>, std::span<double>, kurv::Objective&, int, int);

// Runs `minimize` from a fresh state on the n-dimensional quadratic (n the
// benchmark argument) once per benchmark iteration and reports the CPU
// seconds per minimizer iteration as "per_iteration".
void timeMinimizerIterations(benchmark::State& bench, Minimize minimize) {
  const int n = static_cast<int>(bench.range(0));
  std::vector<double> d(n, 1.0);
  long iterations = 0;
  for (auto _ : bench) {
    MinimizerState st = freshState(n);
    std::vector<double> x(n, 0.0);
    Quadratic quadratic;
    minimize(st, d, x, quadratic, kurv::kIntWorkLength, kurv::realWorkLength(n));
    iterations += st.iterationCount;
    benchmark::DoNotOptimize(x.data());
  }
  bench.counters["per_iteration"] = benchmark::Counter(
      static_cast<double>(iterations), benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void BM_IterationGradientMode(benchmark::State& bench) {
  timeMinimizerIterations(bench, kurv::minimizeWithGradient);
}
BENCHMARK(BM_IterationGradientMode)->Arg(10)->Arg(50)->Arg(100)->Arg(200)->Unit(benchmark::kMillisecond);

void BM_IterationDifferenceMode(benchmark::State& bench) {
  timeMinimizerIterations(bench, kurv::minimizeWithDifferences);
}
BENCHMARK(BM_IterationDifferenceMode)->Arg(10)->Arg(50)->Arg(100)->Arg(200)->Unit(benchmark::kMillisecond);

// One likelihood evaluation of realistic size: 1,000 subjects, 10 occasions,
// 4 groups with cubic trajectories, censored normal density (normal density
// inside, normal tail probability at a censoring bound), log-sum over groups.
void BM_RealisticLikelihood(benchmark::State& bench) {
  constexpr int kSubjects = 1000, kPeriods = 10, kGroups = 4, kOrder = 3;
  std::vector<double> y(kSubjects * kPeriods), t(kSubjects * kPeriods);
  for (int i = 0; i < kSubjects; ++i)
    for (int j = 0; j < kPeriods; ++j) {
      t[i * kPeriods + j] = j - 4.5;
      y[i * kPeriods + j] = std::fmod(i * 0.37 + j * 1.3, 7.0) - 1.0;
    }
  std::vector<double> beta(kGroups * (kOrder + 1), 0.1), prob(kGroups, 0.25);
  const double sigma = 1.3, lower = -0.5, upper = 5.0;
  for (auto _ : bench) {
    double nll = 0.0;
    for (int i = 0; i < kSubjects; ++i) {
      double lik = 0.0;
      for (int g = 0; g < kGroups; ++g) {
        double prod = prob[g];
        for (int j = 0; j < kPeriods; ++j) {
          const double tt = t[i * kPeriods + j];
          const double* b = &beta[g * (kOrder + 1)];
          const double mu = b[0] + tt * (b[1] + tt * (b[2] + tt * b[3]));
          const double v = y[i * kPeriods + j];
          double dens;
          if (v <= lower) {
            dens = 0.5 * std::erfc(-(lower - mu) / (sigma * M_SQRT2));
          } else if (v >= upper) {
            dens = 0.5 * std::erfc((upper - mu) / (sigma * M_SQRT2));
          } else {
            const double z = (v - mu) / sigma;
            dens = std::exp(-0.5 * z * z) / (sigma * 2.5066282746310002);
          }
          prod *= dens;
        }
        lik += prod;
      }
      nll -= std::log(lik);
    }
    benchmark::DoNotOptimize(nll);
  }
}
BENCHMARK(BM_RealisticLikelihood)->Unit(benchmark::kMicrosecond);

}  // namespace

