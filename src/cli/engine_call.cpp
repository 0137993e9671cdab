#include "cli/engine_call.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>

#include "cli/column_list.h"
#include "cli/csv_reader.h"
#include "cli/user_error.h"
#include "core/model_context.h"

namespace kurv::cli {
namespace {

std::string suffix(int m) { return m == 0 ? std::string() : std::to_string(m + 1); }
std::string opt(const char* name, int m) { return std::string("--") + name + suffix(m); }

long parseInteger(const std::string& text, const std::string& option, long low, long high) {
  long value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size() || value < low || value > high)
    throw UserError(option + ": '" + text + "' is not a whole number from " + std::to_string(low) +
                    " to " + std::to_string(high));
  return value;
}

std::vector<double> parseOrders(const std::vector<std::string>& values, const std::string& option,
                                long low) {
  std::vector<double> orders;
  for (const auto& word : splitWords(values))
    orders.push_back(static_cast<double>(parseInteger(word, option, low, kMaxPolyOrder)));
  return orders;
}

std::string joinNames(const DataTable& table, const std::vector<std::size_t>& columns) {
  std::string text;
  for (std::size_t c : columns) {
    if (!text.empty()) text += ' ';
    text += table.names[c];
  }
  return text;
}

// One trajectory model after checking.
struct CheckedModel {
  bool present = false;
  std::string kind;      // cnorm, logit, zip, poisson
  std::string argName;   // the name passed to the engine
  std::vector<std::size_t> var, indep, risk, tcov, exposure;
  std::vector<double> orders, iorders;
  bool hasBounds = false;
  double min = 0.0, max = 0.0;
  long refgroup = 0;  // 0: not given
};

// A rule every outcome value of a model must follow, checked before the run
// so that impossible data are named instead of fitted.
void checkOutcomeValues(const DataTable& table, const CheckedModel& model, int m) {
  for (std::size_t c : model.var) {
    const auto& values = table.values[c];
    for (std::size_t r = 0; r < values.size(); ++r) {
      const double y = values[r];
      if (isMissing(y)) continue;
      const bool bad = model.kind == "logit" ? (y != 0.0 && y != 1.0)
                                              : (model.kind == "zip" || model.kind == "poisson") && y < 0.0;
      if (bad)
        throw UserError(table.source + ": column '" + table.names[c] + "', data row " +
                        std::to_string(r + 1) + ": " + table.text[c][r] +
                        (model.kind == "logit" ? " is not 0 or 1" : " is a negative count") + " (" +
                        opt("model", m) + " " + model.kind + ")");
    }
  }
}

CheckedModel checkModel(const FitOptions& options, const DataTable& table, int m, bool isMult) {
  const ModelOptions& o = options.models[m];
  CheckedModel model;
  if (!o.any()) return model;
  model.present = true;
  const std::string var = opt("var", m);
  if (o.var.empty()) {
    // Name the first option of this model that was given.
    const std::pair<const char*, bool> options[] = {
        {"indep", !o.indep.empty()}, {"model", !o.model.empty()},   {"order", !o.order.empty()},
        {"min", !o.min.empty()},     {"max", !o.max.empty()},       {"iorder", !o.iorder.empty()},
        {"risk", !o.risk.empty()},   {"tcov", !o.tcov.empty()},     {"exposure", !o.exposure.empty()},
        {"refgroup", !o.refgroup.empty()}};
    std::string given;
    for (const auto& [name, isGiven] : options)
      if (isGiven && given.empty()) given = opt(name, m);
    throw UserError(given + " needs " + var + " (the outcome columns of model " +
                    std::to_string(m + 1) + ")");
  }
  if (o.indep.empty()) throw UserError(var + " needs " + opt("indep", m) + " (the time columns)");
  if (o.model.empty())
    throw UserError(var + " needs " + opt("model", m) + " (cnorm, logit, zip or poisson)");
  if (o.order.empty())
    throw UserError(var + " needs " + opt("order", m) + " (one polynomial order per group)");

  model.kind = o.model;
  if (model.kind != "cnorm" && model.kind != "logit" && model.kind != "zip" && model.kind != "poisson")
    throw UserError(opt("model", m) + ": '" + o.model + "' is not cnorm, logit, zip or poisson");
  model.argName = model.kind;

  model.var = resolveColumns(table, o.var, var);
  model.indep = resolveColumns(table, o.indep, opt("indep", m));
  if (model.var.size() != model.indep.size())
    throw UserError(var + " names " + std::to_string(model.var.size()) + " columns but " +
                    opt("indep", m) + " names " + std::to_string(model.indep.size()) +
                    " (one time column per outcome column)");
  const std::size_t periods = model.var.size();

  model.orders = parseOrders(o.order, opt("order", m), -1);
  model.iorders = parseOrders(o.iorder, opt("iorder", m), -1);
  const std::size_t groups = model.orders.size();
  if (!model.iorders.empty()) {
    if (model.kind != "zip")
      throw UserError(opt("iorder", m) + " (zero-inflation orders) needs " + opt("model", m) +
                      " zip, not " + model.kind);
    if (model.iorders.size() != 1 && model.iorders.size() != groups)
      throw UserError("wrong number of orders: " + opt("iorder", m) + " gives " +
                      std::to_string(model.iorders.size()) + " but needs 1 (shared) or " +
                      std::to_string(groups) + " (one per group of " + opt("order", m) + ")");
  }

  if (model.kind == "cnorm") {
    if (o.min.empty() || o.max.empty())
      throw UserError(opt("model", m) + " cnorm needs " + opt("min", m) + " and " + opt("max", m) +
                      " (the censoring bounds)");
    model.hasBounds = true;
    model.min = parseNumber(o.min, opt("min", m));
    model.max = parseNumber(o.max, opt("max", m));
    if (!(model.min < model.max))
      throw UserError(opt("min", m) + " " + o.min + " is not below " + opt("max", m) + " " + o.max);
  } else if (!o.min.empty() || !o.max.empty()) {
    throw UserError(opt("min", m) + " and " + opt("max", m) + " are censoring bounds of " +
                    opt("model", m) + " cnorm, not " + model.kind);
  }

  model.risk = resolveColumns(table, o.risk, opt("risk", m));
  model.tcov = resolveColumns(table, o.tcov, opt("tcov", m));
  model.exposure = resolveColumns(table, o.exposure, opt("exposure", m));
  if (!model.tcov.empty() && model.tcov.size() % periods != 0)
    throw UserError(opt("tcov", m) + " names " + std::to_string(model.tcov.size()) +
                    " columns: it needs one column per period (" + std::to_string(periods) +
                    ") for each covariate");
  // The engine takes exposure and a chosen reference group for the first
  // model only; given for another they would be dropped without a word
  // (and exposure columns would shift the columns after them).
  if (m > 0 && !model.exposure.empty())
    throw UserError(opt("exposure", m) + ": only the first model takes exposure columns");
  if (m > 0 && !o.refgroup.empty())
    throw UserError(opt("refgroup", m) + ": only the first model takes a reference group");
  if (!model.exposure.empty()) {
    if (model.kind != "zip" && model.kind != "poisson")
      throw UserError(opt("exposure", m) + " needs " + opt("model", m) + " zip or poisson, not " +
                      model.kind);
    if (model.exposure.size() != periods)
      throw UserError(opt("exposure", m) + " names " + std::to_string(model.exposure.size()) +
                      " columns but " + var + " names " + std::to_string(periods) +
                      " (one exposure per period)");
  }
  if (!o.refgroup.empty()) {
    model.refgroup = parseInteger(o.refgroup, opt("refgroup", m), 1, 1000000);
    if (model.refgroup > static_cast<long>(groups))
      throw UserError(opt("refgroup", m) + " " + o.refgroup + " is past the last group (" +
                      opt("order", m) + " gives " + std::to_string(groups) + " groups)");
  }
  if (isMult && !model.risk.empty())
    throw UserError(opt("risk", m) + " cannot be used with --multgroups (the shared membership "
                    "of a multi-trajectory model has no risk factors)");
  if (isMult && !o.refgroup.empty())
    throw UserError(opt("refgroup", m) + " cannot be used with --multgroups");
  return model;
}

void requireNumeric(const DataTable& table, const std::vector<std::size_t>& columns,
                    const std::string& option) {
  for (std::size_t c : columns) numericColumn(table, c, option);
}

}  // namespace

double parseNumber(const std::string& text, const std::string& option) {
  double value = 0.0;
  if (!parseCell(text, value) || isMissing(value))
    throw UserError(option + ": '" + text + "' is not a number");
  return value;
}

namespace {

// Everything of a run after checking: the models and the options that only
// model 1 takes, as columns, orders and numbers.
struct CheckedRun {
  bool isMult = false;
  long multGroups = 0;
  std::array<CheckedModel, 3> models;
  std::vector<std::size_t> dcov, weight, exempt, ovar, ifColumn, idColumn;
  std::vector<double> dropout, rorder, plotTcov, start;
  bool defaultStart = false;  // --start default
};

// A multi-trajectory run shares one membership model over components of the
// same number of groups; the extras of model 1 do not exist there.
void checkMultiTrajectory(const FitOptions& options, CheckedRun& run) {
  if (!run.isMult) return;
  run.multGroups = parseInteger(options.multgroups, "--multgroups", 1, 1000000);
  for (int m = 0; m < 3; ++m)
    if (run.models[m].present && static_cast<long>(run.models[m].orders.size()) != run.multGroups)
      throw UserError("wrong number of orders: --multgroups " + options.multgroups + " but " + opt("order", m) +
                      " gives " + std::to_string(run.models[m].orders.size()));
  const std::pair<const char*, bool> modelOneOnly[] = {
      {"--dropout", !options.dropout.empty()}, {"--dcov", !options.dcov.empty()},
      {"--exempt", !options.exempt.empty()},   {"--omodel", !options.omodel.empty()},
      {"--ovar", !options.ovar.empty()},       {"--rorder", !options.rorder.empty()}};
  for (const auto& [name, given] : modelOneOnly)
    if (given) throw UserError(std::string(name) + " cannot be used with --multgroups");
}

std::vector<std::size_t> singleColumn(const DataTable& table, const std::string& name, const std::string& option) {
  if (name.empty()) return {};
  auto columns = resolveColumns(table, {name}, option);
  if (columns.size() != 1) throw UserError(option + " takes one column, not '" + name + "'");
  return columns;
}

// Dropout, random effects, outcome analysis, plot covariates, start values
// and the one-column options.
void checkModelOneExtras(const FitOptions& options, const DataTable& table, CheckedRun& run) {
  const CheckedModel& m1 = run.models[0];
  const std::size_t groups = m1.orders.size();
  const std::size_t periods = m1.var.size();
  run.dcov = resolveColumns(table, options.dcov, "--dcov");
  run.dropout = parseOrders(options.dropout, "--dropout", -1);
  run.rorder = parseOrders(options.rorder, "--rorder", 0);
  if (!run.dropout.empty() && run.dropout.size() != 1 && run.dropout.size() != groups)
    throw UserError("wrong number of orders: --dropout gives " + std::to_string(run.dropout.size()) +
                    " but needs 1 (shared) or " + std::to_string(groups) + " (one per group)");
  if (!run.dcov.empty() && run.dropout.empty()) throw UserError("--dcov needs --dropout (the dropout model)");
  if (!options.exempt.empty() && run.dropout.empty()) throw UserError("--exempt needs --dropout (the dropout model)");
  if (!run.dcov.empty() && run.dcov.size() % periods != 0)
    throw UserError("--dcov names " + std::to_string(run.dcov.size()) + " columns: it needs one column per period (" +
                    std::to_string(periods) + ") for each covariate");
  if (!run.rorder.empty()) {
    if (m1.kind != "cnorm") throw UserError("--rorder (random effects) needs --model cnorm");
    if (run.rorder.size() != 1 && run.rorder.size() != groups)
      throw UserError("wrong number of orders: --rorder gives " + std::to_string(run.rorder.size()) +
                      " but needs 1 (shared) or " + std::to_string(groups) + " (one per group)");
  }
  if (options.omodel.empty() != options.ovar.empty())
    throw UserError(options.omodel.empty() ? "--ovar needs --omodel (its distribution)"
                                           : "--omodel needs --ovar (the outcome column)");
  if (!options.omodel.empty() && options.omodel != "normal" && options.omodel != "cnorm" &&
      options.omodel != "logit" && options.omodel != "zip" && options.omodel != "poisson")
    throw UserError("--omodel: '" + options.omodel + "' is not normal, cnorm, logit, zip or poisson");

  for (const auto& word : splitWords(options.plottcov)) run.plotTcov.push_back(parseNumber(word, "--plottcov"));
  if (!run.plotTcov.empty() && m1.tcov.empty())
    throw UserError("--plottcov needs --tcov (the covariates it gives values for)");
  if (run.plotTcov.size() > m1.tcov.size())
    throw UserError("--plottcov gives " + std::to_string(run.plotTcov.size()) + " values but --tcov names only " +
                    std::to_string(m1.tcov.size()) + " columns");
  // "--start default": the engine's defaults instead of a guess from the data.
  const std::vector<std::string> startWords = splitWords(options.start);
  run.defaultStart = startWords.size() == 1 && startWords[0] == "default";
  if (!run.defaultStart)
    for (const auto& word : startWords) run.start.push_back(parseNumber(word, "--start"));

  run.weight = singleColumn(table, options.weight, "--weight");
  run.exempt = singleColumn(table, options.exempt, "--exempt");
  run.ovar = singleColumn(table, options.ovar, "--ovar");
  run.ifColumn = singleColumn(table, options.ifColumn, "--if");
  run.idColumn = singleColumn(table, options.id, "--id");
}

// Every column the engine reads must hold numbers, and every outcome must
// be possible under its model.
void checkColumnsHoldNumbers(const DataTable& table, const CheckedRun& run) {
  for (int m = 0; m < 3; ++m) {
    const CheckedModel& model = run.models[m];
    requireNumeric(table, model.var, opt("var", m));
    requireNumeric(table, model.indep, opt("indep", m));
    requireNumeric(table, model.risk, opt("risk", m));
    requireNumeric(table, model.tcov, opt("tcov", m));
    requireNumeric(table, model.exposure, opt("exposure", m));
    if (model.present) checkOutcomeValues(table, model, m);
  }
  requireNumeric(table, run.weight, "--weight");
  requireNumeric(table, run.exempt, "--exempt");
  requireNumeric(table, run.ovar, "--ovar");
  requireNumeric(table, run.dcov, "--dcov");
  requireNumeric(table, run.ifColumn, "--if");
  if (table.rowCount() == 0) throw UserError(table.source + " has no data rows");
}

CheckedRun checkRun(const FitOptions& options, const DataTable& table) {
  CheckedRun run;
  run.isMult = !options.multgroups.empty();
  if (!options.models[0].any()) throw UserError("kurv fit needs --var, --indep, --model and --order");
  if (options.models[2].any() && !run.isMult)
    throw UserError("a third model (--var3, --model3, ...) is only for multi-trajectory runs: add --multgroups");
  if (run.isMult && !options.models[1].any())
    throw UserError("--multgroups needs a second model (--var2, --indep2, --model2, --order2)");
  for (int m = 0; m < 3; ++m) run.models[m] = checkModel(options, table, m, run.isMult);
  checkMultiTrajectory(options, run);
  checkModelOneExtras(options, table, run);
  checkColumnsHoldNumbers(table, run);
  return run;
}

// The run's description for the engine (its checks are the engine's; the
// ones above only name the option a user got wrong).
RunDescription engineDescription(const CheckedRun& run, const FitOptions& options) {
  RunDescription d;
  for (int m = 0; m < 3; ++m) {
    const CheckedModel& from = run.models[m];
    ModelDescription& to = d.models[m];
    to.present = from.present;
    to.name = from.argName;
    to.periods = static_cast<int>(from.var.size());
    to.risk = static_cast<int>(from.risk.size());
    to.exposure = static_cast<int>(from.exposure.size());
    to.tcov = static_cast<int>(from.tcov.size());
    to.groups = static_cast<int>(from.orders.size());  // "kurv_mat_order<m>"
    to.censorMin = from.hasBounds ? from.min : 0.0;
    to.censorMax = from.hasBounds ? from.max : 0.0;
    to.inflOrders = static_cast<int>(from.iorders.size());
    to.refGroup = static_cast<int>(from.refgroup);
  }
  if (d.models[0].refGroup <= 0) d.models[0].refGroup = 1;
  d.weights = !run.weight.empty();
  d.plotTcov = static_cast<int>(run.plotTcov.size());
  d.reOrders = static_cast<int>(run.rorder.size());
  d.dropoutOrders = static_cast<int>(run.dropout.size());
  d.dcov = static_cast<int>(run.dcov.size());
  d.dropoutExempt = !run.exempt.empty();
  d.outcome = !options.omodel.empty();
  d.outcomeModel = options.omodel;
  d.multGroups = static_cast<int>(run.multGroups);
  d.startValues = static_cast<int>(run.start.size());
  d.dataStartValues = run.start.empty() && !run.defaultStart;
  d.trace = options.trace;
  d.debug = options.debug;
  d.noStdErrors = options.novar;
  if (!options.threads.empty()) d.threads = static_cast<int>(parseInteger(options.threads, "--threads", 1, 1024));
  return d;
}

void addMatricesAndMacros(EngineCall& call, const CheckedRun& run, const DataTable& table) {
  auto addMatrix = [&](const std::string& name, const std::vector<double>& values) {
    if (!values.empty()) call.matrices[name] = values;
  };
  for (int m = 0; m < 3; ++m) {
    addMatrix("kurv_mat_order" + std::to_string(m + 1), run.models[m].orders);
    addMatrix("kurv_mat_iorder" + std::to_string(m + 1), run.models[m].iorders);
  }
  addMatrix("kurv_mat_dropoutorder1", run.dropout);
  addMatrix("kurv_mat_rorder1", run.rorder);
  addMatrix("kurv_start", run.start);
  addMatrix("kurv_plottcov1", run.plotTcov);
  auto addMacro = [&](const std::string& name, const std::vector<std::size_t>& columns) {
    if (!columns.empty()) call.macros[name] = joinNames(table, columns);
  };
  addMacro("_risk1", run.models[0].risk);
  addMacro("_risk2", run.models[1].risk);
  addMacro("_tcov1", run.models[0].tcov);
  addMacro("_dcov1", run.dcov);
}

// The variables in the engine's order: model 1's outcomes and times, its
// risk factors, weight, exposures, covariates, the outcome-analysis
// variable, dropout covariates and exemption; then model 2's outcomes,
// times, risk factors, exposures and covariates; then a third component's
// outcomes and times.
std::vector<std::size_t> variableLayout(const CheckedRun& run) {
  const CheckedModel& m1 = run.models[0];
  const CheckedModel& m2 = run.models[1];
  const CheckedModel& m3 = run.models[2];
  std::vector<std::size_t> v;
  for (const auto* block : {&m1.var, &m1.indep, &m1.risk, &run.weight, &m1.exposure, &m1.tcov, &run.ovar, &run.dcov,
                            &run.exempt})
    v.insert(v.end(), block->begin(), block->end());
  if (m2.present)
    for (const auto* block : {&m2.var, &m2.indep, &m2.risk, &m2.exposure, &m2.tcov})
      v.insert(v.end(), block->begin(), block->end());
  if (m3.present)
    for (const auto* block : {&m3.var, &m3.indep}) v.insert(v.end(), block->begin(), block->end());
  return v;
}

// Rows. The if-condition is the host's selection test: the engine reports
// and excludes the other rows itself.
void selectRows(EngineCall& call, const CheckedRun& run, const DataTable& table, const std::string& ifName) {
  std::vector<bool> chosen(table.rowCount(), true);
  if (!run.ifColumn.empty()) {
    const auto& values = table.values[run.ifColumn[0]];
    for (std::size_t r = 0; r < values.size(); ++r) chosen[r] = !isMissing(values[r]) && values[r] != 0.0;
  }
  if (std::find(chosen.begin(), chosen.end(), true) == chosen.end())
    throw UserError("--if " + ifName + " selects no row");
  for (std::size_t r = 0; r < table.rowCount(); ++r) {
    call.rows.push_back(r);
    if (!run.ifColumn.empty()) call.selected.push_back(chosen[r]);
  }
}

// What the engine writes back: per model the group percentages and the plot
// series (with dropout rates for model 1 when the dropout model is on), and
// the posterior variables.
void describeResults(EngineCall& call, const CheckedRun& run, const DataTable& table) {
  call.isMult = run.isMult;
  call.isJoint = !run.isMult && run.models[1].present;
  call.nModels = 1 + (run.models[1].present ? 1 : 0) + (run.models[2].present ? 1 : 0);
  for (int m = 0; m < 3; ++m) {
    const CheckedModel& model = run.models[m];
    if (!model.present) continue;
    call.nGroups[m] = static_cast<int>(model.orders.size());
    call.nPeriods[m] = static_cast<int>(model.var.size());
    call.modelKind[m] = model.kind;
    for (std::size_t c : model.var) call.outcomeNames[m].push_back(table.names[c]);
    for (std::size_t c : model.indep) call.timeNames[m].push_back(table.names[c]);
    const int g = call.nGroups[m];
    const int plotColumns = 1 + 4 * g + (m == 0 && !run.dropout.empty() ? g : 0);
    call.resultShapes["groupPct" + std::to_string(m + 1)] = {1, g};
    call.resultShapes["outPlot" + std::to_string(m + 1)] = {call.nPeriods[m], plotColumns};
  }
  call.nPosteriorVariables = 1 + call.nGroups[0] + (call.isJoint ? 1 + call.nGroups[1] : 0);
}

}  // namespace

EngineCall buildEngineCall(const FitOptions& options, const DataTable& table) {
  const CheckedRun run = checkRun(options, table);
  EngineCall call;
  call.description = engineDescription(run, options);
  call.args = encodePluginArgs(call.description);
  addMatricesAndMacros(call, run, table);
  call.variableColumns = variableLayout(run);
  selectRows(call, run, table, options.ifColumn);
  describeResults(call, run, table);
  call.idColumn = options.id;
  return call;
}

}  // namespace kurv::cli
