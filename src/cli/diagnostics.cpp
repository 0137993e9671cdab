#include "cli/diagnostics.h"

#include <cmath>
#include <cstdio>
#include <limits>

#include "cli/data_table.h"
#include "cli/fit_outputs.h"

namespace kurv::cli {
namespace {

using nlohmann::json;

// A value, infinite or finite; not the missing value (a finite 2^1023) nor NaN.
bool known(double v) { return !std::isnan(v) && (std::isinf(v) || !isMissing(v)); }

json number(double v) {
  if (!known(v)) return nullptr;
  if (std::isinf(v)) return v > 0 ? "inf" : "-inf";  // JSON has no infinity
  return v;
}

// A value in a column of `width` characters with `decimals` decimals; "."
// for a missing value and "inf" for an infinite one.
std::string cell(double v, int width, int decimals) {
  char buffer[64];
  if (std::fabs(v) < 1e-12) v = 0.0;  // no "-0.0000" from rounding
  if (!known(v))
    std::snprintf(buffer, sizeof buffer, "%*s", width, ".");
  else if (std::isinf(v))
    std::snprintf(buffer, sizeof buffer, "%*s", width, v > 0 ? "inf" : "-inf");
  else if (std::fabs(v) >= 1e9)
    std::snprintf(buffer, sizeof buffer, "%*.3e", width, v);
  else
    std::snprintf(buffer, sizeof buffer, "%*.*f", width, decimals, v);
  return buffer;
}

}  // namespace

ClassificationDiagnostics classify(const std::vector<std::vector<double>>& posteriors,
                                   const std::vector<double>& estimatedPct) {
  ClassificationDiagnostics d;
  const std::size_t G = estimatedPct.size();
  const double N = static_cast<double>(posteriors.size());
  d.nSubjects = static_cast<int>(posteriors.size());
  d.groups.assign(G, GroupDiagnostics{});
  std::vector<double> meanPosterior(G, 0.0), assignedSum(G, 0.0);
  double entropy = 0.0;  // sum_i sum_g -p ln p
  for (const auto& p : posteriors) {
    std::size_t likely = 0;
    for (std::size_t g = 0; g < G; ++g) {
      const double v = g < p.size() ? p[g] : 0.0;
      meanPosterior[g] += v / N;
      if (v > 0.0) entropy -= v * std::log(v);
      if (g > 0 && v > p[likely]) likely = g;
    }
    if (G > 0) {
      ++d.groups[likely].assigned;
      assignedSum[likely] += p[likely];
    }
  }
  const double missing = kMissing;
  d.relativeEntropy = G > 1 && N > 0 ? 1.0 - entropy / (N * std::log(static_cast<double>(G))) : missing;
  for (std::size_t g = 0; g < G; ++g) {
    GroupDiagnostics& r = d.groups[g];
    const double given = estimatedPct[g];
    r.estimatedPct = known(given) ? given : (N > 0 ? 100.0 * meanPosterior[g] : missing);
    r.assignedPct = N > 0 ? 100.0 * r.assigned / N : missing;
    r.avePP = r.assigned > 0 ? assignedSum[g] / r.assigned : missing;
    const double pi = known(r.estimatedPct) ? r.estimatedPct / 100.0 : missing;
    if (G < 2 || !known(r.avePP) || !known(pi) || !(pi > 0.0 && pi < 1.0))
      r.occ = missing;
    else if (r.avePP >= 1.0)
      r.occ = std::numeric_limits<double>::infinity();
    else
      r.occ = (r.avePP / (1.0 - r.avePP)) / (pi / (1.0 - pi));
  }
  return d;
}

std::vector<ClassificationDiagnostics> fitDiagnostics(const FitRecord& fit) {
  const EngineCall& call = fit.call;
  std::vector<ClassificationDiagnostics> all;
  // The posterior variables: per model its most likely group, then one
  // probability per group. A multi-trajectory run stores one set for the
  // groups its components share.
  const int classifications = call.isMult ? 1 : call.nModels;
  int offset = 0;
  for (int m = 0; m < classifications; ++m) {
    const int G = call.nGroups[m];
    if (offset + G >= call.nPosteriorVariables) break;
    std::vector<std::vector<double>> rows;
    for (int i = 0; i < static_cast<int>(call.rows.size()); ++i) {
      if (isMissing(fit.host.result(offset, i))) continue;  // a subject the run did not use
      std::vector<double> p(G);
      for (int g = 0; g < G; ++g) p[g] = fit.host.result(offset + 1 + g, i);
      rows.push_back(std::move(p));
    }
    ClassificationDiagnostics d = classify(rows, groupPercentages(fit, m));
    d.model = m + 1;
    d.shared = call.isMult;
    all.push_back(std::move(d));
    offset += 1 + G;
  }
  return all;
}

json diagnosticsJson(const std::vector<ClassificationDiagnostics>& all) {
  json out = json::array();
  for (const auto& d : all) {
    json j;
    j["model"] = d.model;
    if (d.shared) j["shared"] = true;
    j["n_subjects"] = d.nSubjects;
    j["relative_entropy"] = number(d.relativeEntropy);
    json groups = json::array();
    for (std::size_t g = 0; g < d.groups.size(); ++g) {
      const GroupDiagnostics& r = d.groups[g];
      groups.push_back({{"group", g + 1},
                        {"estimated_pct", number(r.estimatedPct)},
                        {"assigned_pct", number(r.assignedPct)},
                        {"n_assigned", r.assigned},
                        {"avepp", number(r.avePP)},
                        {"occ", number(r.occ)}});
    }
    j["groups"] = groups;
    out.push_back(j);
  }
  return out;
}

std::string diagnosticsText(const std::vector<ClassificationDiagnostics>& all) {
  std::string out;
  for (const auto& d : all) {
    char line[160];
    if (d.shared)
      std::snprintf(line, sizeof line, "\nClassification diagnostics (shared groups, %d subjects)\n", d.nSubjects);
    else
      std::snprintf(line, sizeof line, "\nClassification diagnostics (model %d, %d subjects)\n", d.model, d.nSubjects);
    out += line;
    out += " Group  Estimated %  Assigned %     AvePP        OCC\n";
    for (std::size_t g = 0; g < d.groups.size(); ++g) {
      const GroupDiagnostics& r = d.groups[g];
      std::snprintf(line, sizeof line, "%6d", static_cast<int>(g + 1));
      out += line + cell(r.estimatedPct, 13, 2) + cell(r.assignedPct, 12, 2) + cell(r.avePP, 10, 4) +
             cell(r.occ, 11, 2) + "\n";
    }
    out += " Relative entropy" + cell(d.relativeEntropy, 8, 4) + "\n";
  }
  return out;
}

DiagnosticsMinimum smallestDiagnostics(const std::vector<ClassificationDiagnostics>& all) {
  DiagnosticsMinimum m{kMissing, kMissing, kMissing, kMissing};
  auto lower = [](double& to, double v) {
    if (known(v) && (!known(to) || v < to)) to = v;
  };
  for (const auto& d : all) {
    lower(m.relativeEntropy, d.relativeEntropy);
    for (const auto& g : d.groups) {
      lower(m.assignedPct, g.assignedPct);
      lower(m.avePP, g.avePP);
      lower(m.occ, g.occ);
    }
  }
  return m;
}

}  // namespace kurv::cli
