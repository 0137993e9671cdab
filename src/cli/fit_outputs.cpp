#include "cli/fit_outputs.h"

#include <nlohmann/json.hpp>

#include "cli/column_list.h"
#include "cli/diagnostics.h"
#include "cli/multi_start.h"
#include "cli/number_text.h"
#include "cli/svg_plot.h"
#include "report/estimate_row.h"

namespace kurv::cli {
namespace {

using nlohmann::json;

json number(double value) { return isMissing(value) || !std::isfinite(value) ? json(nullptr) : json(value); }

json words(const std::vector<std::string>& values) { return splitWords(values); }

// One array per model of the group percentages `shares` gives for it.
json perModelPercentages(const FitRecord& fit, std::vector<double> (*shares)(const FitRecord&, int)) {
  json all = json::array();
  for (int m = 0; m < fit.call.nModels; ++m) {
    json model = json::array();
    for (double p : shares(fit, m)) model.push_back(number(p));
    all.push_back(model);
  }
  return all;
}

json optionsJson(const FitOptions& o) {
  json j;
  j["data"] = o.data;
  json models = json::array();
  for (const auto& m : o.models) {
    if (!m.any()) continue;
    json model;
    model["var"] = words(m.var);
    model["indep"] = words(m.indep);
    model["model"] = m.model;
    model["order"] = words(m.order);
    if (!m.min.empty()) model["min"] = m.min;
    if (!m.max.empty()) model["max"] = m.max;
    if (!m.iorder.empty()) model["iorder"] = words(m.iorder);
    if (!m.risk.empty()) model["risk"] = words(m.risk);
    if (!m.tcov.empty()) model["tcov"] = words(m.tcov);
    if (!m.exposure.empty()) model["exposure"] = words(m.exposure);
    if (!m.refgroup.empty()) model["refgroup"] = m.refgroup;
    models.push_back(model);
  }
  j["models"] = models;
  auto put = [&j](const char* key, const std::string& value) {
    if (!value.empty()) j[key] = value;
  };
  auto putList = [&j](const char* key, const std::vector<std::string>& values) {
    if (!values.empty()) j[key] = words(values);
  };
  putList("plottcov", o.plottcov);
  putList("start", o.start);
  putList("dropout", o.dropout);
  putList("dcov", o.dcov);
  putList("rorder", o.rorder);
  put("weight", o.weight);
  put("exempt", o.exempt);
  put("omodel", o.omodel);
  put("ovar", o.ovar);
  put("if", o.ifColumn);
  put("multgroups", o.multgroups);
  put("id", o.id);
  put("long", o.longId);
  j["trace"] = o.trace;
  j["debug"] = o.debug;
  j["novar"] = o.novar;
  return j;
}

}  // namespace

std::vector<double> posteriorGroupPercentages(const FitRecord& fit, int m) {
  std::vector<double> pct(fit.call.nGroups[m], kMissing);
  if (const Matrix* matrix = fit.host.matrix("groupPct" + std::to_string(m + 1)); matrix && !matrix->empty())
    for (int g = 0; g < fit.call.nGroups[m] && g < static_cast<int>(matrix->front().size()); ++g)
      pct[g] = matrix->front()[g];
  return pct;
}

std::vector<double> groupPercentages(const FitRecord& fit, int m) {
  const auto& estimated = fit.summary.groupPct;
  if (m < static_cast<int>(estimated.size()) && static_cast<int>(estimated[m].size()) == fit.call.nGroups[m])
    return estimated[m];
  return posteriorGroupPercentages(fit, m);
}

std::string fitJson(const FitRecord& fit) {
  const RunSummary& s = fit.summary;
  json j;
  j["loglik"] = s.logLikelihood;
  j["aic"] = s.aic;
  j["bic_measurements"] = s.bicMeasurements;
  j["bic_subjects"] = s.bicSubjects;
  j["n_params"] = s.nParams;
  j["n_subjects"] = s.nSubjects;
  j["n_measurements"] = s.nMeasurements;
  j["n_observations"] = s.nObs;
  j["minimizer_code"] = s.minimizerCode;
  json estimates = json::array();
  for (int k = 0; k < s.nParams; ++k) {
    const double estimate = k < static_cast<int>(s.estimates.size()) ? s.estimates[k] : kMissing;
    const double se = k < static_cast<int>(s.stdErrors.size()) ? s.stdErrors[k] : kMissing;
    json row;
    // A parameter the engine left unnamed is called by its position.
    row["name"] = k < static_cast<int>(s.names.size()) ? s.names[k] : std::string(1, 'p').append(std::to_string(k + 1));
    row["estimate"] = number(estimate);
    row["se"] = number(se);
    row["t"] = nullptr;
    row["p"] = nullptr;
    // The test of "parameter = 0" as the printed table makes it: none
    // without standard errors or from one too small to divide by.
    if (!fit.options.novar && !isMissing(se) && !isMissing(estimate) && se > kTinyStdError &&
        s.nMeasurements >= 1) {
      const double t = estimate / se;
      row["t"] = number(t);
      row["p"] = number(twoSidedTPValue(t, s.nMeasurements));
    }
    estimates.push_back(row);
  }
  j["estimates"] = estimates;
  json covariance = json::array();
  for (int r = 0; r < s.nParams; ++r) {
    json row = json::array();
    for (int c = 0; c < s.nParams; ++c) {
      const std::size_t k = static_cast<std::size_t>(r) * s.nParams + c;
      row.push_back(number(k < s.covariance.size() ? s.covariance[k] : kMissing));
    }
    covariance.push_back(row);
  }
  j["covariance"] = covariance;
  j["group_pct"] = perModelPercentages(fit, groupPercentages);
  j["group_pct_posterior"] = perModelPercentages(fit, posteriorGroupPercentages);
  if (fit.call.isJoint && !s.conditionalPct.empty()) {
    // Model 2's shares given each model-1 group, and the shares of the pairs
    // of groups P(j) P(k | j); model 2's marginal shares are group_pct[1].
    const std::vector<double> pct1 = groupPercentages(fit, 0);
    json conditional = json::array(), pairs = json::array();
    for (std::size_t g = 0; g < s.conditionalPct.size(); ++g) {
      json row = json::array(), pairRow = json::array();
      for (double p : s.conditionalPct[g]) {
        row.push_back(number(p));
        pairRow.push_back(isMissing(p) || isMissing(pct1[g]) ? json(nullptr) : number(p * pct1[g] / 100.0));
      }
      conditional.push_back(row);
      pairs.push_back(pairRow);
    }
    j["conditional_pct"] = conditional;
    j["joint_pct"] = pairs;
  }
  j["diagnostics"] = diagnosticsJson(fitDiagnostics(fit));
  if (fit.starts) j["starts"] = startsJson(*fit.starts);
  j["options"] = optionsJson(fit.options);
  j["engine_arguments"] = fit.call.args;
  return j.dump(2) + "\n";
}

std::string posteriorsCsv(const FitRecord& fit) {
  const EngineCall& call = fit.call;
  std::string out = csvField(call.idColumn.empty() ? std::string("row") : call.idColumn);
  out += ",group";
  for (int g = 1; g <= call.nGroups[0]; ++g) out += ",prob" + std::to_string(g);
  if (call.isJoint) {
    out += ",group_model2";
    for (int g = 1; g <= call.nGroups[1]; ++g) out += ",prob" + std::to_string(g) + "_model2";
  }
  out += "\n";
  // Host observation of each table row; rows the engine never saw stay empty.
  std::vector<int> observation(fit.table.rowCount(), -1);
  for (std::size_t i = 0; i < call.rows.size(); ++i) observation[call.rows[i]] = static_cast<int>(i);
  const auto idColumn = call.idColumn.empty() ? std::nullopt : fit.table.find(call.idColumn);
  for (std::size_t r = 0; r < fit.table.rowCount(); ++r) {
    out += idColumn ? csvField(fit.table.text[*idColumn][r]) : std::to_string(r + 1);
    for (int k = 0; k < call.nPosteriorVariables; ++k) {
      out += ',';
      if (observation[r] >= 0) out += cellText(fit.host.result(k, observation[r]));
    }
    out += "\n";
  }
  return out;
}

std::string plotCsv(const FitRecord& fit, int m) {
  const int groups = fit.call.nGroups[m];
  std::string out = "time";
  for (int g = 1; g <= groups; ++g) out += ",observed" + std::to_string(g);
  for (int g = 1; g <= groups; ++g) out += ",predicted" + std::to_string(g);
  for (int g = 1; g <= groups; ++g) out += ",lower" + std::to_string(g) + ",upper" + std::to_string(g);
  const Matrix* matrix = fit.host.matrix("outPlot" + std::to_string(m + 1));
  const int columns = matrix && !matrix->empty() ? static_cast<int>(matrix->front().size()) : 0;
  if (columns > 1 + 4 * groups)
    for (int g = 1; g <= groups; ++g) out += ",dropout" + std::to_string(g);
  out += "\n";
  if (!matrix) return out;
  for (const auto& row : *matrix) {
    for (std::size_t c = 0; c < row.size(); ++c) {
      if (c > 0) out += ',';
      out += cellText(row[c]);
    }
    out += "\n";
  }
  return out;
}

std::map<std::string, std::string> fitOutputFiles(const FitRecord& fit) {
  std::map<std::string, std::string> files;
  files["fit.json"] = fitJson(fit);
  files["posteriors.csv"] = posteriorsCsv(fit);
  std::vector<PlotPanel> panels;
  for (int m = 0; m < fit.call.nModels; ++m) {
    files["plot" + std::to_string(m + 1) + ".csv"] = plotCsv(fit, m);
    PlotPanel panel;
    panel.title = "Model " + std::to_string(m + 1) + " (" + fit.call.modelKind[m] + ")";
    panel.xLabel = axisLabel(fit.call.timeNames[m]);
    panel.yLabel = axisLabel(fit.call.outcomeNames[m]);
    panel.groups = fit.call.nGroups[m];
    panel.groupPct = groupPercentages(fit, m);
    if (const Matrix* matrix = fit.host.matrix("outPlot" + std::to_string(m + 1))) panel.series = *matrix;
    panels.push_back(std::move(panel));
  }
  files["trajectories.svg"] = trajectoriesSvg(panels);
  return files;
}

}  // namespace kurv::cli
