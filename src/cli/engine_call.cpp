#include "cli/engine_call.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>

#include "cli/column_list.h"
#include "cli/csv_reader.h"
#include "cli/user_error.h"

namespace kurv::cli {
namespace {

// Largest polynomial order of a trajectory (intercept up to quintic).
constexpr int kMaxOrder = 5;

std::string suffix(int m) { return m == 0 ? std::string() : std::to_string(m + 1); }
std::string opt(const char* name, int m) { return std::string("--") + name + suffix(m); }

std::string integerText(long value) { return std::to_string(value); }

// Reals travel as text: 17 significant digits give back the same double.
std::string realText(double value) {
  char buffer[40];
  std::snprintf(buffer, sizeof buffer, "%.17g", value);
  return buffer;
}

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
    orders.push_back(static_cast<double>(parseInteger(word, option, low, kMaxOrder)));
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

EngineCall buildEngineCall(const FitOptions& options, const DataTable& table) {
  const bool isMult = !options.multgroups.empty();
  if (!options.models[0].any()) throw UserError("kurv fit needs --var, --indep, --model and --order");
  if (options.models[2].any() && !isMult)
    throw UserError("a third model (--var3, --model3, ...) is only for multi-trajectory runs: "
                    "add --multgroups");
  if (isMult && !options.models[1].any())
    throw UserError("--multgroups needs a second model (--var2, --indep2, --model2, --order2)");

  std::array<CheckedModel, 3> models;
  for (int m = 0; m < 3; ++m) models[m] = checkModel(options, table, m, isMult);
  const CheckedModel& m1 = models[0];
  const CheckedModel& m2 = models[1];
  const CheckedModel& m3 = models[2];
  const std::size_t groups1 = m1.orders.size();
  const std::size_t periods1 = m1.var.size();

  long multGroups = 0;
  if (isMult) {
    multGroups = parseInteger(options.multgroups, "--multgroups", 1, 1000000);
    for (int m = 0; m < 3; ++m)
      if (models[m].present && static_cast<long>(models[m].orders.size()) != multGroups)
        throw UserError("wrong number of orders: --multgroups " + options.multgroups + " but " +
                        opt("order", m) + " gives " + std::to_string(models[m].orders.size()));
    const std::pair<const char*, bool> modelOneOnly[] = {
        {"--dropout", !options.dropout.empty()}, {"--dcov", !options.dcov.empty()},
        {"--exempt", !options.exempt.empty()},   {"--omodel", !options.omodel.empty()},
        {"--ovar", !options.ovar.empty()},       {"--rorder", !options.rorder.empty()}};
    for (const auto& [name, given] : modelOneOnly)
      if (given) throw UserError(std::string(name) + " cannot be used with --multgroups");
    if (!m3.exposure.empty() || !m3.tcov.empty())
      throw UserError("the third model of a multi-trajectory run takes no --exposure3 or --tcov3");
  }

  // Model-1-only options.
  const auto dcov = resolveColumns(table, options.dcov, "--dcov");
  const auto dropout = parseOrders(options.dropout, "--dropout", -1);
  const auto rorder = parseOrders(options.rorder, "--rorder", 0);
  if (!dropout.empty() && dropout.size() != 1 && dropout.size() != groups1)
    throw UserError("wrong number of orders: --dropout gives " + std::to_string(dropout.size()) +
                    " but needs 1 (shared) or " + std::to_string(groups1) + " (one per group)");
  if (!dcov.empty() && dropout.empty()) throw UserError("--dcov needs --dropout (the dropout model)");
  if (!options.exempt.empty() && dropout.empty())
    throw UserError("--exempt needs --dropout (the dropout model)");
  if (!dcov.empty() && dcov.size() % periods1 != 0)
    throw UserError("--dcov names " + std::to_string(dcov.size()) +
                    " columns: it needs one column per period (" + std::to_string(periods1) +
                    ") for each covariate");
  if (!rorder.empty()) {
    if (m1.kind != "cnorm") throw UserError("--rorder (random effects) needs --model cnorm");
    if (rorder.size() != 1 && rorder.size() != groups1)
      throw UserError("wrong number of orders: --rorder gives " + std::to_string(rorder.size()) +
                      " but needs 1 (shared) or " + std::to_string(groups1) + " (one per group)");
  }
  if (options.omodel.empty() != options.ovar.empty())
    throw UserError(options.omodel.empty() ? "--ovar needs --omodel (its distribution)"
                                           : "--omodel needs --ovar (the outcome column)");
  if (!options.omodel.empty() && options.omodel != "normal" && options.omodel != "cnorm" &&
      options.omodel != "logit" && options.omodel != "zip" && options.omodel != "poisson")
    throw UserError("--omodel: '" + options.omodel + "' is not normal, cnorm, logit, zip or poisson");

  std::vector<double> plotTcov;
  for (const auto& word : splitWords(options.plottcov))
    plotTcov.push_back(parseNumber(word, "--plottcov"));
  if (!plotTcov.empty() && m1.tcov.empty())
    throw UserError("--plottcov needs --tcov (the covariates it gives values for)");
  if (plotTcov.size() > m1.tcov.size())
    throw UserError("--plottcov gives " + std::to_string(plotTcov.size()) +
                    " values but --tcov names only " + std::to_string(m1.tcov.size()) + " columns");
  std::vector<double> start;
  for (const auto& word : splitWords(options.start)) start.push_back(parseNumber(word, "--start"));

  auto single = [&](const std::string& name, const std::string& option) -> std::vector<std::size_t> {
    if (name.empty()) return {};
    auto columns = resolveColumns(table, {name}, option);
    if (columns.size() != 1) throw UserError(option + " takes one column, not '" + name + "'");
    return columns;
  };
  const auto weight = single(options.weight, "--weight");
  const auto exempt = single(options.exempt, "--exempt");
  const auto ovar = single(options.ovar, "--ovar");
  const auto ifColumn = single(options.ifColumn, "--if");
  const auto idColumn = single(options.id, "--id");

  // Every column the engine reads must hold numbers.
  for (int m = 0; m < 3; ++m) {
    const CheckedModel& model = models[m];
    requireNumeric(table, model.var, opt("var", m));
    requireNumeric(table, model.indep, opt("indep", m));
    requireNumeric(table, model.risk, opt("risk", m));
    requireNumeric(table, model.tcov, opt("tcov", m));
    requireNumeric(table, model.exposure, opt("exposure", m));
    if (model.present) checkOutcomeValues(table, model, m);
  }
  requireNumeric(table, weight, "--weight");
  requireNumeric(table, exempt, "--exempt");
  requireNumeric(table, ovar, "--ovar");
  requireNumeric(table, dcov, "--dcov");
  requireNumeric(table, ifColumn, "--if");
  if (table.rowCount() == 0) throw UserError(table.source + " has no data rows");

  EngineCall call;
  call.isMult = isMult;
  call.isJoint = !isMult && m2.present;
  call.nModels = 1 + (m2.present ? 1 : 0) + (m3.present ? 1 : 0);
  auto& a = call.args;
  auto countArg = [](std::size_t n) { return integerText(static_cast<long>(n)); };
  a[0] = m1.argName;
  a[1] = countArg(periods1);
  a[2] = countArg(m1.risk.size());
  a[3] = weight.empty() ? "0" : "1";
  a[4] = countArg(m1.exposure.size());
  a[5] = countArg(m1.tcov.size());
  a[6] = countArg(plotTcov.size());
  a[7] = countArg(groups1);
  a[8] = m1.hasBounds ? realText(m1.min) : "0";
  a[9] = m1.hasBounds ? realText(m1.max) : "0";
  a[10] = countArg(m1.iorders.size());
  a[11] = countArg(rorder.size());
  a[12] = countArg(dropout.size());
  a[13] = countArg(dcov.size());
  a[14] = exempt.empty() ? "0" : "1";
  a[15] = options.omodel.empty() ? "none" : options.omodel;
  a[16] = integerText(m1.refgroup > 0 ? m1.refgroup : 1);
  a[17] = m2.present ? m2.argName : "none";
  a[18] = countArg(m2.var.size());
  a[19] = countArg(m2.risk.size());
  a[20] = countArg(m2.exposure.size());
  a[21] = countArg(m2.tcov.size());
  a[22] = countArg(m2.orders.size());
  a[23] = m2.hasBounds ? realText(m2.min) : "0";
  a[24] = m2.hasBounds ? realText(m2.max) : "0";
  a[25] = countArg(m2.iorders.size());
  a[26] = integerText(m2.refgroup);
  a[27] = m3.present ? m3.argName : "none";
  a[28] = countArg(m3.var.size());
  a[29] = countArg(m3.orders.size());
  a[30] = m3.hasBounds ? realText(m3.min) : "0";
  a[31] = m3.hasBounds ? realText(m3.max) : "0";
  a[32] = countArg(m3.iorders.size());
  a[33] = integerText(multGroups);
  a[34] = countArg(start.size());
  a[35] = options.trace ? "1" : "0";
  a[36] = options.debug ? "1" : "0";
  a[37] = options.novar ? "1" : "0";
  a[38] = "0";

  auto addMatrix = [&](const std::string& name, const std::vector<double>& values) {
    if (!values.empty()) call.matrices[name] = values;
  };
  for (int m = 0; m < 3; ++m) {
    addMatrix("kurv_mat_order" + std::to_string(m + 1), models[m].orders);
    addMatrix("kurv_mat_iorder" + std::to_string(m + 1), models[m].iorders);
  }
  addMatrix("kurv_mat_dropoutorder1", dropout);
  addMatrix("kurv_mat_rorder1", rorder);
  addMatrix("kurv_start", start);
  addMatrix("kurv_plottcov1", plotTcov);

  auto addMacro = [&](const std::string& name, const std::vector<std::size_t>& columns) {
    if (!columns.empty()) call.macros[name] = joinNames(table, columns);
  };
  addMacro("_risk1", m1.risk);
  addMacro("_risk2", m2.risk);
  addMacro("_tcov1", m1.tcov);
  addMacro("_dcov1", dcov);

  // The variables in the engine's order: model 1's outcomes and times, its
  // risk factors, weight, exposures, covariates, the outcome-analysis
  // variable, dropout covariates and exemption; then model 2's outcomes,
  // times, risk factors, exposures and covariates; then a third component's
  // outcomes and times.
  auto& v = call.variableColumns;
  auto append = [&v](const std::vector<std::size_t>& columns) {
    v.insert(v.end(), columns.begin(), columns.end());
  };
  append(m1.var);
  append(m1.indep);
  append(m1.risk);
  append(weight);
  append(m1.exposure);
  append(m1.tcov);
  append(ovar);
  append(dcov);
  append(exempt);
  if (m2.present) {
    append(m2.var);
    append(m2.indep);
    append(m2.risk);
    append(m2.exposure);
    append(m2.tcov);
  }
  if (m3.present) {
    append(m3.var);
    append(m3.indep);
  }

  // Rows. The if-condition of single and joint runs is the host's selection
  // test: the engine reports and excludes the other rows itself. The
  // multi-trajectory intake does not consult the selection, so those runs
  // see only the selected rows.
  std::vector<bool> chosen(table.rowCount(), true);
  if (!ifColumn.empty()) {
    const auto& values = table.values[ifColumn[0]];
    for (std::size_t r = 0; r < values.size(); ++r) chosen[r] = !isMissing(values[r]) && values[r] != 0.0;
  }
  for (std::size_t r = 0; r < table.rowCount(); ++r) {
    if (isMult && !chosen[r]) continue;
    call.rows.push_back(r);
    if (!isMult && !ifColumn.empty()) call.selected.push_back(chosen[r]);
  }
  if (std::find(chosen.begin(), chosen.end(), true) == chosen.end())
    throw UserError("--if " + options.ifColumn + " selects no row");

  for (int m = 0; m < 3; ++m) {
    const CheckedModel& model = models[m];
    if (!model.present) continue;
    call.nGroups[m] = static_cast<int>(model.orders.size());
    call.nPeriods[m] = static_cast<int>(model.var.size());
    call.modelKind[m] = model.kind;
    for (std::size_t c : model.var) call.outcomeNames[m].push_back(table.names[c]);
    for (std::size_t c : model.indep) call.timeNames[m].push_back(table.names[c]);
    const int g = call.nGroups[m];
    const int plotColumns = 1 + 4 * g + (m == 0 && !dropout.empty() ? g : 0);
    call.resultShapes["groupPct" + std::to_string(m + 1)] = {1, g};
    call.resultShapes["outPlot" + std::to_string(m + 1)] = {call.nPeriods[m], plotColumns};
  }
  call.nPosteriorVariables = 1 + call.nGroups[0] + (call.isJoint ? 1 + call.nGroups[1] : 0);
  call.idColumn = options.id;
  return call;
}

}  // namespace kurv::cli
