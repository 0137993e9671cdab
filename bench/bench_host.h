#pragma once
// Just enough of a host for preparing a run from an in-memory data set:
// variables from `data` (one row per observation), row-vector matrices from
// `rowMatrices`; everything displayed is discarded, every row is selected.
// Beside it, the run the model benchmarks prepare on it and the timing loop
// they share.

#include <benchmark/benchmark.h>

#include <map>
#include <random>
#include <string>
#include <vector>

#include "core/evaluation.h"
#include "core/host.h"
#include "core/model_context.h"
#include "plugin/run_command.h"

namespace kurv::bench {

class BenchHost : public Host {
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

// The random draws of a benchmark's synthetic data set: a generator with a
// fixed seed, so that every run times the same data, feeding a uniform on
// [0, 1) and a normal with mean 0 and standard deviation `sd`.
struct Draws {
  std::mt19937 gen;
  std::uniform_real_distribution<double> unitDistribution{0.0, 1.0};
  std::normal_distribution<double> noiseDistribution;
  Draws(unsigned seed, double sd) : gen(seed), noiseDistribution(0.0, sd) {}
  double unit() { return unitDistribution(gen); }
  double noise() { return noiseDistribution(gen); }
};

// A run prepared for a benchmark: its host and run record, the point `x` at
// which the likelihood and gradient are evaluated, and whether preparation
// succeeded (a benchmark of a run that is not `ok` is skipped with an error).
struct BenchRun {
  BenchHost host;
  ModelContext ctx;
  std::vector<double> x;
  bool ok = false;
};

// Prepares `run.ctx` on `run.host` from the plug-in's argument strings;
// true when the run record was built.
inline bool prepareFromArguments(BenchRun& run, const std::vector<std::string>& args) {
  std::vector<const char*> argv;
  for (const auto& a : args) argv.push_back(a.c_str());
  run.ctx.host = &run.host;
  return prepareRunRecord(run.ctx, static_cast<int>(argv.size()), argv.data()) == 0;
}

// Calls `evaluate` once per benchmark iteration, keeping its result alive.
// With a counter name, reports that counter as CPU seconds per unit of work,
// one evaluation doing `unitsPerEvaluation` units (periods, measurements).
template <class Evaluate>
void timeEvaluations(benchmark::State& state, const char* counter, double unitsPerEvaluation, Evaluate evaluate) {
  for (auto _ : state) {
    auto result = evaluate();
    benchmark::DoNotOptimize(result);
  }
  if (counter != nullptr)
    state.counters[counter] =
        benchmark::Counter(static_cast<double>(state.iterations()) * unitsPerEvaluation,
                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

// Times the negative log-likelihood of `run` at `run.x`.
inline void timeLikelihood(benchmark::State& state, BenchRun& run, LikelihoodCallback likelihood,
                           const char* counter = nullptr, double unitsPerEvaluation = 1.0) {
  if (!run.ok) {
    state.SkipWithError("run preparation failed");
    return;
  }
  double nll = 0.0;
  timeEvaluations(state, counter, unitsPerEvaluation, [&] {
    likelihood(run.ctx.nParams, run.x.data(), &nll, &run.ctx);
    return nll;
  });
}

// Times the analytic gradient of `run` at `run.x`. A gradient reuses the
// per-subject and per-group terms of the likelihood at the same point, so
// the likelihood is evaluated there once, untimed, before the loop.
inline void timeGradient(benchmark::State& state, BenchRun& run, LikelihoodCallback likelihood,
                         GradientCallback gradient, const char* counter, double unitsPerEvaluation) {
  if (!run.ok) {
    state.SkipWithError("run preparation failed");
    return;
  }
  const int n = run.ctx.nParams;
  double nll = 0.0;
  likelihood(n, run.x.data(), &nll, &run.ctx);
  std::vector<double> g(static_cast<std::size_t>(n));
  int unused = 0;
  timeEvaluations(state, counter, unitsPerEvaluation, [&] {
    gradient(n, run.x.data(), &unused, g.data(), &run.ctx);
    return g.data();
  });
}

}  // namespace kurv::bench
