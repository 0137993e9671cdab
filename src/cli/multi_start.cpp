#include "cli/multi_start.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <random>

#include "cli/column_list.h"
#include "cli/user_error.h"
#include "core/model_context.h"
#include "engine/fit_phases.h"
#include "engine/run_driver.h"
#include "engine/start_values.h"
#include "plugin/plugin_args.h"

namespace kurv::cli {
namespace {

// The results a host receives are the estimates in "parmData", their
// covariance in "varData" and the parameter names in the macro "_outvars";
// the engine writes them only after a successful fit. When its summary
// leaves any of these out, they are taken from there.
void completeSummaryFromHost(RunSummary& summary, const CliHost& host) {
  const Matrix* parm = host.matrix("parmData");
  if (!parm || parm->empty()) return;
  summary.fitted = true;
  if (summary.estimates.empty()) summary.estimates = parm->front();
  if (summary.nParams == 0) summary.nParams = static_cast<int>(summary.estimates.size());
  const auto n = static_cast<std::size_t>(summary.nParams);
  if (summary.covariance.empty())
    if (const Matrix* var = host.matrix("varData"); var && var->size() >= n) {
      for (std::size_t r = 0; r < n; ++r)
        for (std::size_t c = 0; c < n; ++c) summary.covariance.push_back(c < (*var)[r].size() ? (*var)[r][c] : 0.0);
    }
  if (summary.names.empty())
    if (const auto it = host.savedMacros().find("_outvars"); it != host.savedMacros().end())
      summary.names = splitWords({it->second});
}

template <typename T>
T parseWhole(const std::string& text, const char* option, T low, T high) {
  T value{};
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size() || value < low || value > high)
    throw UserError(std::string(option) + ": '" + text + "' is not a whole number from " + std::to_string(low) +
                    " to " + std::to_string(high));
  return value;
}

// Uniform on [-1, 1) from the top 53 bits of the generator's raw output.
double symmetricUniform(std::mt19937_64& engine) {
  return 2.0 * (static_cast<double>(engine() >> 11) * 0x1.0p-53) - 1.0;
}

// The range of model m's times over every subject and period read.
double timeRange(const ModelContext& ctx, int m) {
  double low = HUGE_VAL, high = -HUGE_VAL;
  for (const auto& period : ctx.timeT[m])
    for (double t : period)
      if (std::isfinite(t) && !ctx.host->isMissing(t)) low = std::min(low, t), high = std::max(high, t);
  return high > low ? high - low : 0.0;
}

// Half-widths of the perturbation of each parameter (see the header).
std::vector<double> perturbationWidths(const ModelContext& ctx) {
  std::vector<double> width(static_cast<std::size_t>(ctx.nParams), 0.0);
  for (int k = 0; k < ctx.nParams && k < ctx.layout.size(); ++k) {
    const ParameterInfo& p = ctx.layout.params[k];
    const int m = p.model;
    if (p.kind == BlockKind::Trajectory && (p.index == 0 || p.index == 1)) {
      const int G = std::max(ctx.nGroups[m], 1);
      double w = ctx.modelKind[m] == kLogit ? 2.0 : ctx.modelKind[m] == kZip ? 1.0 : (ctx.yMax[m] - ctx.yMin[m]) / (G + 1);
      if (!(w > 0.0) || !std::isfinite(w)) w = 1.0;
      if (p.index == 1) {
        const double range = timeRange(ctx, m);
        w = range > 0.0 ? w / (2.0 * range) : 0.0;
      }
      width[k] = w;
    } else if (p.kind == BlockKind::Membership && p.index == 0) {
      width[k] = 1.0;
    } else if (p.transform == Transform::Log) {
      width[k] = 0.5;
    }
  }
  return width;
}

}  // namespace

StartsPlan parseStarts(const FitOptions& options) {
  StartsPlan plan;
  if (!options.starts.empty()) plan.count = parseWhole<int>(options.starts, "--starts", 1, 1000);
  if (!options.seed.empty()) {
    if (options.starts.empty()) throw UserError("--seed needs --starts (the number of starting points)");
    plan.seed = parseWhole<std::uint64_t>(options.seed, "--seed", 0, (std::uint64_t{1} << 63) - 1);
  }
  return plan;
}

std::vector<std::vector<double>> perturbedStarts(const DataTable& table, const EngineCall& call,
                                                 const StartsPlan& plan) {
  if (plan.count <= 1) return {};
  // The engine's own start: the run prepared up to its start values, through
  // a host that shows nothing.
  std::ostream quiet(nullptr);
  CliHost probe(table, call, quiet, quiet);
  ModelContext ctx;
  ctx.host = &probe;
  if (prepareDescribedRun(ctx, call.description) != 0) return {};
  settleStartValues(ctx);
  const std::vector<double> start = ctx.params;
  const std::vector<double> width = perturbationWidths(ctx);
  std::mt19937_64 engine(plan.seed);
  std::vector<std::vector<double>> starts;
  for (int s = 1; s < plan.count; ++s) {
    std::vector<double> p = start;
    // One draw per parameter, used or not, so that a start's draws do not
    // depend on which parameters move.
    for (int k = 0; k < ctx.nParams; ++k) p[k] += width[k] * symmetricUniform(engine);
    starts.push_back(userFormOf(ctx, p));
  }
  return starts;
}

std::unique_ptr<FittedRun> runEngine(const DataTable& table, const EngineCall& call, std::ostream* results,
                                     std::ostream* messages) {
  auto run = std::make_unique<FittedRun>();
  run->call = call;
  run->host = std::make_unique<CliHost>(table, run->call, results ? *results : run->results,
                                        messages ? *messages : run->messages);
  run->code = runDescribed(*run->host, run->call.description, &run->summary);
  if (run->code == 0) completeSummaryFromHost(run->summary, *run->host);
  return run;
}

void summariseStarts(StartsReport& report) {
  std::vector<double> values;
  for (const auto& s : report.starts)
    if (s.fitted && std::isfinite(s.logLikelihood)) values.push_back(s.logLikelihood);
  std::sort(values.begin(), values.end(), std::greater<>());
  report.maxima.clear();
  auto same = [](double a, double b) { return std::fabs(a - b) <= kSameMaximum * std::max(std::fabs(a), std::fabs(b)); };
  for (double v : values) {
    if (report.maxima.empty() || !same(report.maxima.back().logLikelihood, v))
      report.maxima.push_back({v, 0});
    ++report.maxima.back().starts;
  }
  report.best = -1;
  report.reachedBest = report.maxima.empty() ? 0 : report.maxima.front().starts;
  if (report.maxima.empty()) return;
  const double best = report.maxima.front().logLikelihood;
  for (std::size_t s = 0; s < report.starts.size() && report.best < 0; ++s)
    if (report.starts[s].fitted && same(best, report.starts[s].logLikelihood)) report.best = static_cast<int>(s);
  // The best maximum is reported as the kept fit reached it.
  report.maxima.front().logLikelihood = report.starts[report.best].logLikelihood;
}

MultiStartFit fitFromStarts(const DataTable& table, const EngineCall& call, const StartsPlan& plan,
                            std::ostream* results, std::ostream* messages) {
  MultiStartFit fit;
  fit.report.plan = plan;
  const bool live = plan.count <= 1;
  std::vector<std::unique_ptr<FittedRun>> runs;
  runs.push_back(runEngine(table, call, live ? results : nullptr, live ? messages : nullptr));
  // A run the engine refuses is refused from every start.
  const auto perturbed = runs.front()->code == 0 ? perturbedStarts(table, call, plan) : std::vector<std::vector<double>>{};
  for (const auto& values : perturbed) {
    EngineCall started = call;
    started.matrices["kurv_start"] = values;
    started.description.startValues = static_cast<int>(values.size());
    started.args = encodePluginArgs(started.description);
    runs.push_back(runEngine(table, started, nullptr, nullptr));
    runs.back()->startValues = values;
  }
  for (const auto& run : runs)
    fit.report.starts.push_back({run->code == 0 && run->summary.fitted, run->summary.logLikelihood});
  summariseStarts(fit.report);
  fit.kept = std::move(runs[fit.report.best >= 0 ? fit.report.best : 0]);
  fit.report.bestStartValues = fit.kept->startValues;
  return fit;
}

nlohmann::json startsJson(const StartsReport& report) {
  using nlohmann::json;
  json j;
  j["starts"] = report.plan.count;
  j["seed"] = report.plan.seed;
  j["fitted"] = std::count_if(report.starts.begin(), report.starts.end(), [](const StartOutcome& s) { return s.fitted; });
  j["best_start"] = report.best + 1;
  j["reached_best"] = report.reachedBest;
  json maxima = json::array();
  for (const auto& m : report.maxima) maxima.push_back({{"loglik", m.logLikelihood}, {"starts", m.starts}});
  j["maxima"] = maxima;
  json each = json::array();
  for (const auto& s : report.starts) each.push_back(s.fitted ? json(s.logLikelihood) : json(nullptr));
  j["loglik_by_start"] = each;
  if (!report.bestStartValues.empty()) j["best_start_values"] = report.bestStartValues;
  return j;
}

}  // namespace kurv::cli
