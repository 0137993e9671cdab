#pragma once
// Fitting from several starting points (`--starts N --seed S`).
//
// Start 1 is the engine's own start (its defaults, or the user's --start).
// Starts 2..N perturb that start in the parameter form, where every
// direction is unbounded (scales as logarithms, shares as log-odds), with
// uniform draws from the 64-bit Mersenne Twister seeded with S:
//   a trajectory intercept by up to +-w, where w is the spacing of the
//     default intercepts, (yMax - yMin) / (G + 1) over the intake's outcome
//     range (mean +- 2 standard deviations), for a censored normal outcome,
//     2 on the logit scale and 1 on the log scale of counts;
//   a linear term by up to +-w / (2 R), R the range of the times, so that the
//     trajectory moves by up to w/2 over the study;
//   each membership constant by up to +-1 on the log-odds scale;
//   each log scale by up to +-0.5 (a factor of e^0.5 on sigma);
// and leave the rest (higher powers, covariate, dropout, zero-inflation and
// risk-factor coefficients) at the start. Only uniform draws built from the
// generator's raw output are used, whose sequence the C++ standard fixes,
// so the same options and seed give the same starts everywhere.
//
// The fit kept is the best maximum; among starts within 1e-6 relative of it
// the first, so that whenever start 1 reaches the best maximum the result is
// the fit without --starts, whatever the seed.

#include <cstdint>
#include <memory>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "cli/cli_host.h"
#include "cli/data_table.h"
#include "cli/engine_call.h"
#include "cli/fit_options.h"
#include "core/run_summary.h"

namespace kurv::cli {

// Two log-likelihoods are the same maximum when they differ by at most this
// much relative to the larger magnitude.
inline constexpr double kSameMaximum = 1e-6;

struct StartsPlan {
  int count = 1;
  std::uint64_t seed = 1;
};

// --starts (1 to 1000) and --seed (0 to 2^63 - 1); UserError when bad.
StartsPlan parseStarts(const FitOptions& options);

// One engine run with what its outputs need. The host refers to `call`, so
// a run lives at one address.
struct FittedRun {
  EngineCall call;
  std::unique_ptr<CliHost> host;
  RunSummary summary;
  int code = 0;                  // the engine's return
  std::ostringstream results;    // buffered results text (several starts)
  std::ostringstream messages;   // buffered messages
  std::vector<double> startValues;  // user form given as "kurv_start"; empty: the engine's start
};

struct StartOutcome {
  bool fitted = false;
  double logLikelihood = 0.0;
};

struct StartsReport {
  StartsPlan plan;
  int best = -1;         // 0-based start kept; -1 when none reached results
  int reachedBest = 0;   // starts within kSameMaximum of the best maximum
  std::vector<StartOutcome> starts;
  struct Maximum {
    double logLikelihood;
    int starts;
  };
  std::vector<Maximum> maxima;  // distinct maxima, best first
  std::vector<double> bestStartValues;  // user form of the kept start; empty: the engine's own
};

// The start values (user form, as --start takes them) of starts 2..count;
// empty when the run cannot be prepared (the first start then reports why).
std::vector<std::vector<double>> perturbedStarts(const DataTable& table, const EngineCall& call,
                                                 const StartsPlan& plan);

// Runs the engine once: its text goes to the given streams, or to the run's
// buffers when they are null.
std::unique_ptr<FittedRun> runEngine(const DataTable& table, const EngineCall& call,
                                     std::ostream* results, std::ostream* messages);

struct MultiStartFit {
  std::unique_ptr<FittedRun> kept;  // the best fit; start 1 when no start fitted
  StartsReport report;
};

// Fits from every start of `plan`. With one start the engine's text goes
// live to `results` and `messages` (when given); otherwise each run's text
// is buffered in it.
MultiStartFit fitFromStarts(const DataTable& table, const EngineCall& call, const StartsPlan& plan,
                            std::ostream* results = nullptr, std::ostream* messages = nullptr);

// The distinct maxima of the fitted starts and the kept start.
void summariseStarts(StartsReport& report);

// fit.json's "starts".
nlohmann::json startsJson(const StartsReport& report);

}  // namespace kurv::cli
