// Cost of the multi-trajectory likelihood and gradient as the number of
// periods and of components grows.
//
// Three shared groups over 500 subjects; components cycle through censored
// normal, logit and Poisson, each with linear trajectories, prepared through
// the real argument decoding and multi-trajectory intake. Arguments: periods
// T (5, 10, 20, 40) and components C (2, 3). The gradient takes each
// "all periods but j" product from prefix and suffix products and the
// product over the other components once per subject, group and component,
// so its time should grow linearly in T and in C: "per_measurement" (time /
// (T C), nanoseconds) should stay about constant.

#include <benchmark/benchmark.h>

#include <cmath>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "core/model_context.h"
#include "models/multi_gradient.h"
#include "models/multi_likelihood.h"
#include "plugin/run_command.h"

namespace {

class MultiBenchHost : public kurv::Host {
 public:
  static constexpr double kMissing = 8.98846567431158e307;
  std::vector<std::vector<double>> data;
  std::map<std::string, std::vector<double>> rowMatrices;

  void display(const char*) override {}
  void error(const char*) override {}
  void standardOutput(const char*) override {}
  int macroUse(const char*, char* buffer, int capacity) override {
    if (capacity > 0) buffer[0] = '\0';
    return 1;
  }
  int macroSave(const char*, const char*) override { return 0; }
  int observationCount() override { return static_cast<int>(data.size()); }
  bool isSelected(int) override { return true; }
  bool isMissing(double v) override { return v >= kMissing; }
  double missingValue() override { return kMissing; }
  int readVariable(int variable, int observation, double* out) override {
    const auto& row = data.at(static_cast<std::size_t>(observation - 1));
    if (variable < 1 || variable > static_cast<int>(row.size())) return 1;
    *out = row[static_cast<std::size_t>(variable - 1)];
    return 0;
  }
  int storeVariable(int, int, double) override { return 0; }
  int matrixElement(const char* name, int row, int column, double* out) override {
    auto it = rowMatrices.find(name);
    if (it == rowMatrices.end() || row != 1 || column < 1 || column > static_cast<int>(it->second.size())) return 1;
    *out = it->second[static_cast<std::size_t>(column - 1)];
    return 0;
  }
  int storeMatrixElement(const char*, int, int, double) override { return 0; }
};

struct MultiFixture {
  MultiBenchHost host;
  kurv::ModelContext ctx;
  std::vector<double> x;
  bool ok = false;
};

const char* const kKinds[] = {"cnorm", "logit", "poisson"};

void build(MultiFixture& f, int T, int C, int subjects) {
  std::mt19937 gen(2468);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  std::normal_distribution<double> noise(0.0, 1.0);
  for (int i = 0; i < subjects; ++i) {
    const int g = i % 3;
    std::vector<double> row;
    for (int m = 0; m < C; ++m) {
      std::vector<double> y(T), t(T);
      for (int j = 0; j < T; ++j) {
        t[j] = -1.0 + 2.0 * j / (T - 1);
        const double mu = 0.5 * g + 0.4 * t[j];
        y[j] = m == 0 ? 1.5 + 2.0 * g + t[j] + noise(gen)
               : m == 1 ? (unit(gen) < 1.0 / (1.0 + std::exp(-mu)) ? 1.0 : 0.0)
                        : std::floor(3.0 * unit(gen) * std::exp(mu));
        if (unit(gen) < 0.1) y[j] = MultiBenchHost::kMissing;
      }
      row.insert(row.end(), y.begin(), y.end());
      row.insert(row.end(), t.begin(), t.end());
    }
    f.host.data.push_back(row);
  }
  std::vector<std::string> args(39, "0");
  for (int p : {16, 18, 28}) args[p - 1] = "none";
  const int name[] = {1, 18, 28}, periods[] = {2, 19, 29}, groups[] = {8, 23, 30}, bounds[] = {9, 24, 31};
  for (int m = 0; m < C; ++m) {
    args[name[m] - 1] = kKinds[m];
    args[periods[m] - 1] = std::to_string(T);
    args[groups[m] - 1] = "3";
    args[bounds[m] - 1] = "-1e6";
    args[bounds[m]] = "1e6";
    f.host.rowMatrices["kurv_mat_order" + std::to_string(m + 1)] = {1, 1, 1};
  }
  args[33] = "3";
  std::vector<const char*> argv;
  for (const auto& a : args) argv.push_back(a.c_str());
  f.ctx.host = &f.host;
  f.ok = kurv::prepareRunRecord(f.ctx, static_cast<int>(argv.size()), argv.data()) == 0;
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
  MultiFixture f;
  build(f, T, C, 500);
  if (!f.ok) {
    state.SkipWithError("run preparation failed");
    return;
  }
  const int n = f.ctx.nParams;
  double nll = 0.0;
  kurv::multModelLogLikelihood(n, f.x.data(), &nll, &f.ctx);
  std::vector<double> g(static_cast<std::size_t>(n));
  for (auto _ : state) {
    kurv::multModelDerivative(n, f.x.data(), nullptr, g.data(), &f.ctx);
    benchmark::DoNotOptimize(g.data());
  }
  state.counters["per_measurement"] = benchmark::Counter(
      static_cast<double>(state.iterations()) * T * C, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_MultiModelGradient)
    ->ArgsProduct({{5, 10, 20, 40}, {2, 3}})
    ->Unit(benchmark::kMicrosecond);

void BM_MultiModelLikelihood(benchmark::State& state) {
  const int T = static_cast<int>(state.range(0)), C = static_cast<int>(state.range(1));
  MultiFixture f;
  build(f, T, C, 500);
  if (!f.ok) {
    state.SkipWithError("run preparation failed");
    return;
  }
  double nll = 0.0;
  for (auto _ : state) {
    kurv::multModelLogLikelihood(f.ctx.nParams, f.x.data(), &nll, &f.ctx);
    benchmark::DoNotOptimize(nll);
  }
  state.counters["per_measurement"] = benchmark::Counter(
      static_cast<double>(state.iterations()) * T * C, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_MultiModelLikelihood)
    ->ArgsProduct({{5, 10, 20, 40}, {2, 3}})
    ->Unit(benchmark::kMicrosecond);

}  // namespace
