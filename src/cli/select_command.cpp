#include "cli/select_command.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <memory>
#include <nlohmann/json.hpp>

#include "cli/atomic_files.h"
#include "cli/bic_plot.h"
#include "cli/column_list.h"
#include "cli/diagnostics.h"
#include "cli/engine_call.h"
#include "cli/fit_command.h"
#include "cli/fit_outputs.h"
#include "cli/long_format.h"
#include "cli/multi_start.h"
#include "cli/number_text.h"
#include "cli/user_error.h"
#include "core/model_context.h"
#include "engine/run_driver.h"
#include "report/estimate_row.h"

namespace kurv::cli {
namespace {

using nlohmann::json;

// The p-value above which --refine-orders lowers a group's highest term.
constexpr double kRefineLevel = 0.05;

struct Thresholds {
  double minShare = 5.0;  // percent of the subjects, by most likely group
  double minAvePP = 0.7;
  double minOcc = 5.0;
  bool byMeasurements = false;
};

// One number of groups: its options, the kept fit and what the table shows.
struct Candidate {
  int groups = 0;
  FitOptions options;
  MultiStartFit fit;
  std::vector<ClassificationDiagnostics> diagnostics;
  DiagnosticsMinimum least{kMissing, kMissing, kMissing, kMissing};
  bool fitted = false;
  bool adequate = false;
  std::vector<std::string> failures;  // why it is not adequate

  const RunSummary& summary() const { return fit.kept->summary; }
  double bic(const Thresholds& t) const {
    if (!fitted) return kMissing;
    return t.byMeasurements ? summary().bicMeasurements : summary().bicSubjects;
  }
};

bool known(double v) { return !std::isnan(v) && (std::isinf(v) || !isMissing(v)); }

std::string number(const char* format, double v) {
  char buffer[64];
  if (!known(v)) return ".";
  if (std::isinf(v)) return v > 0 ? "inf" : "-inf";
  std::snprintf(buffer, sizeof buffer, format, v);
  return buffer;
}

json jsonNumber(double v) {
  if (!known(v)) return nullptr;
  if (std::isinf(v)) return v > 0 ? "inf" : "-inf";
  return v;
}

double parseThreshold(const std::string& text, const char* option, double fallback) {
  if (text.empty()) return fallback;
  const double v = parseNumber(text, option);
  if (!(v >= 0.0) || !std::isfinite(v)) throw UserError(std::string(option) + ": '" + text + "' is not a number of 0 or more");
  return v;
}

std::string joinWords(const std::vector<std::string>& words) {
  std::string text;
  for (const auto& w : words) text += (text.empty() ? "" : " ") + w;
  return text;
}

// Adequacy: the checks each group must pass, with a reason per failure.
void judge(Candidate& c, const Thresholds& t) {
  c.failures.clear();
  if (!c.fitted) {
    c.failures.push_back(c.fit.kept->code != 0 ? "the engine refused the run" : "the fit stopped without results");
    c.adequate = false;
    return;
  }
  char line[160];
  for (const auto& d : c.diagnostics)
    for (std::size_t g = 0; g < d.groups.size(); ++g) {
      const GroupDiagnostics& r = d.groups[g];
      const int group = static_cast<int>(g + 1);
      if (!(r.assignedPct >= t.minShare)) {
        std::snprintf(line, sizeof line, "group %d holds %.1f%% of the subjects (below %g%%)", group, r.assignedPct, t.minShare);
        c.failures.push_back(line);
      }
      if (d.groups.size() < 2) continue;  // one group classifies perfectly
      if (!known(r.avePP) || !(r.avePP >= t.minAvePP)) {
        std::snprintf(line, sizeof line, "group %d has AvePP %s (below %g)", group, number("%.3f", r.avePP).c_str(), t.minAvePP);
        c.failures.push_back(line);
      }
      if (!known(r.occ) || !(r.occ >= t.minOcc)) {
        std::snprintf(line, sizeof line, "group %d has OCC %s (below %g)", group, number("%.2f", r.occ).c_str(), t.minOcc);
        c.failures.push_back(line);
      }
    }
  c.adequate = c.failures.empty();
}

void fitCandidate(Candidate& c, const FitData& data, const StartsPlan& plan) {
  FitOptions wide = data.options;
  wide.models[0].order = c.options.models[0].order;
  const EngineCall call = buildEngineCall(wide, data.table);
  c.fit = fitFromStarts(data.table, call, plan);
  c.fitted = c.fit.kept->code == 0 && c.fit.kept->summary.fitted;
  c.diagnostics.clear();
  if (c.fitted) {
    const FitRecord record{c.options, data.table, c.fit.kept->call, c.fit.kept->summary, *c.fit.kept->host};
    c.diagnostics = fitDiagnostics(record);
    c.least = smallestDiagnostics(c.diagnostics);
  }
}

std::string progressLine(const Candidate& c, const Thresholds& t) {
  char line[512];
  const StartsReport& s = c.fit.report;
  if (!c.fitted) {
    // The engine's or the minimizer's own words, on one line.
    std::string why;
    for (const auto& word : splitWords({c.fit.kept->messages.str()})) why += (why.empty() ? "" : " ") + word;
    if (why.size() > 160) why = why.substr(0, 157) + "...";
    std::snprintf(line, sizeof line, "kurv: %d group%s (orders %s): no results from %d start%s%s%s\n", c.groups,
                  c.groups == 1 ? "" : "s", joinWords(c.options.models[0].order).c_str(), s.plan.count,
                  s.plan.count == 1 ? "" : "s", why.empty() ? "" : ": ", why.c_str());
  } else
    std::snprintf(line, sizeof line, "kurv: %d group%s (orders %s): log-likelihood %.2f, BIC %.2f; %d of %d start%s reached the best maximum\n",
                  c.groups, c.groups == 1 ? "" : "s", joinWords(c.options.models[0].order).c_str(),
                  c.summary().logLikelihood, c.bic(t), s.reachedBest, s.plan.count, s.plan.count == 1 ? "" : "s");
  return line;
}

std::string tableText(const std::vector<Candidate>& all, const Thresholds& t) {
  std::string out = "\nModel selection (BIC = log-likelihood - 0.5 x parameters x ln ";
  out += t.byMeasurements ? "measurements" : "subjects";
  out += "; the higher the better)\n\n";
  out += "Groups  Orders          Log-lik  Params    BIC (N)    BIC (n)        AIC  Entropy  Min share  Min AvePP   Min OCC  Best starts\n";
  for (const auto& c : all) {
    char line[320];
    const RunSummary& s = c.summary();
    std::string starts = std::to_string(c.fit.report.reachedBest) + "/" + std::to_string(c.fit.report.plan.count);
    std::string orders = joinWords(c.options.models[0].order);
    if (orders.size() > 12) orders = orders.substr(0, 11) + "~";
    std::snprintf(line, sizeof line, "%6d  %-12s %10s %7s %10s %10s %10s %8s %9s%% %10s %9s  %11s%s\n", c.groups, orders.c_str(),
                  c.fitted ? number("%.2f", s.logLikelihood).c_str() : ".",
                  c.fitted ? std::to_string(s.nParams).c_str() : ".",
                  c.fitted ? number("%.2f", s.bicSubjects).c_str() : ".",
                  c.fitted ? number("%.2f", s.bicMeasurements).c_str() : ".", c.fitted ? number("%.2f", s.aic).c_str() : ".",
                  number("%.4f", c.least.relativeEntropy).c_str(), number("%.1f", c.least.assignedPct).c_str(),
                  number("%.4f", c.least.avePP).c_str(), number(c.least.occ < 1e6 ? "%.2f" : "%.2e", c.least.occ).c_str(), starts.c_str(),
                  c.adequate ? "" : "  *");
    out += line;
  }
  out += "(* fails an adequacy check)\n";
  return out;
}

// The adequate candidate of the best BIC (the fewer groups on a tie); -1 if none.
int recommend(const std::vector<Candidate>& all, const Thresholds& t) {
  int best = -1;
  for (int i = 0; i < static_cast<int>(all.size()); ++i)
    if (all[i].adequate && (best < 0 || all[i].bic(t) > all[best].bic(t))) best = i;
  return best;
}

std::string recommendationText(const std::vector<Candidate>& all, int best, const Thresholds& t) {
  char line[512];
  std::string out;
  const char* bicName = t.byMeasurements ? "BIC (n)" : "BIC (N)";
  if (best < 0) {
    std::snprintf(line, sizeof line,
                  "\nNo model passed the adequacy checks (every group at least %g%% of the subjects, AvePP at least %g, "
                  "OCC at least %g):\n", t.minShare, t.minAvePP, t.minOcc);
    out += line;
  } else {
    std::snprintf(line, sizeof line,
                  "\nRecommended: %d group%s (orders %s), the best %s %.2f among the models whose every group holds at "
                  "least %g%% of the subjects with AvePP at least %g and OCC at least %g.\n%s",
                  all[best].groups, all[best].groups == 1 ? "" : "s", joinWords(all[best].options.models[0].order).c_str(),
                  bicName, all[best].bic(t), t.minShare, t.minAvePP, t.minOcc, all.size() > 1 ? "Passed over:\n" : "");
    out += line;
  }
  for (int i = 0; i < static_cast<int>(all.size()); ++i) {
    if (i == best) continue;
    const Candidate& c = all[i];
    std::string why;
    if (!c.adequate)
      for (const auto& f : c.failures) why += (why.empty() ? "" : "; ") + f;
    else {
      std::snprintf(line, sizeof line, "%s %.2f is below %.2f", bicName, c.bic(t), all[best].bic(t));
      why = line;
    }
    std::snprintf(line, sizeof line, "  %d group%s: ", c.groups, c.groups == 1 ? "" : "s");
    out += line + why + "\n";
  }
  return out;
}

json candidateJson(const Candidate& c, bool recommended) {
  json j;
  j["groups"] = c.groups;
  j["orders"] = splitWords(c.options.models[0].order);
  j["fitted"] = c.fitted;
  const RunSummary& s = c.summary();
  j["loglik"] = c.fitted ? json(s.logLikelihood) : json(nullptr);
  j["n_params"] = c.fitted ? json(s.nParams) : json(nullptr);
  j["bic_subjects"] = c.fitted ? json(s.bicSubjects) : json(nullptr);
  j["bic_measurements"] = c.fitted ? json(s.bicMeasurements) : json(nullptr);
  j["aic"] = c.fitted ? json(s.aic) : json(nullptr);
  j["relative_entropy"] = jsonNumber(c.least.relativeEntropy);
  j["min_assigned_pct"] = jsonNumber(c.least.assignedPct);
  j["min_avepp"] = jsonNumber(c.least.avePP);
  j["min_occ"] = jsonNumber(c.least.occ);
  j["starts"] = c.fit.report.plan.count;
  j["reached_best"] = c.fit.report.reachedBest;
  j["adequate"] = c.adequate;
  j["recommended"] = recommended;
  j["failures"] = c.failures;
  j["diagnostics"] = diagnosticsJson(c.diagnostics);
  return j;
}

std::string selectionCsv(const std::vector<Candidate>& all, int best) {
  std::string out = "groups,orders,loglik,n_params,bic_subjects,bic_measurements,aic,relative_entropy,min_assigned_pct,"
                    "min_avepp,min_occ,starts,reached_best,adequate,recommended\n";
  for (int i = 0; i < static_cast<int>(all.size()); ++i) {
    const Candidate& c = all[i];
    const RunSummary& s = c.summary();
    auto v = [&](double x) { return c.fitted ? cellText(x) : std::string(); };
    auto d = [](double x) { return !known(x) ? std::string() : std::isinf(x) ? std::string("inf") : shortestText(x); };
    out += std::to_string(c.groups) + "," + csvField(joinWords(c.options.models[0].order)) + "," + v(s.logLikelihood) + "," +
           (c.fitted ? std::to_string(s.nParams) : "") + "," + v(s.bicSubjects) + "," + v(s.bicMeasurements) + "," + v(s.aic) +
           "," + d(c.least.relativeEntropy) + "," + d(c.least.assignedPct) + "," + d(c.least.avePP) + "," + d(c.least.occ) + "," +
           std::to_string(c.fit.report.plan.count) + "," + std::to_string(c.fit.report.reachedBest) + "," +
           (c.adequate ? "1" : "0") + "," + (i == best ? "1" : "0") + "\n";
  }
  return out;
}

// The layout of a run, from the run prepared through a host that shows
// nothing; empty when it cannot be prepared.
ParameterLayout layoutOf(const DataTable& table, const EngineCall& call) {
  std::ostream quiet(nullptr);
  CliHost probe(table, call, quiet, quiet);
  ModelContext ctx;
  ctx.host = &probe;
  if (prepareDescribedRun(ctx, call.description) != 0) return {};
  return ctx.layout;
}

// --refine-orders: the least significant highest term of any group (p above
// kRefineLevel) is lowered by one, and the model refitted, until every
// group's highest term is significant or of order 0. Returns the steps taken.
std::vector<std::string> refineOrders(Candidate& c, const FitData& data, const StartsPlan& plan,
                                      std::ostream& messages) {
  std::vector<std::string> steps;
  for (int round = 0; round < 6 * c.groups && c.fitted; ++round) {
    std::vector<std::string> orders = splitWords(c.options.models[0].order);
    const RunSummary& s = c.summary();
    const ParameterLayout layout = layoutOf(data.table, c.fit.kept->call);
    int worst = -1;
    double worstP = kRefineLevel;
    for (int g = 0; g < static_cast<int>(orders.size()); ++g) {
      const int order = std::stoi(orders[g]);
      if (order < 1) continue;
      const int k = layout.find(0, BlockKind::Trajectory, g, order);
      if (k < 0 || k >= static_cast<int>(s.stdErrors.size())) continue;
      const double se = s.stdErrors[k], estimate = s.estimates[k];
      if (isMissing(se) || !(se > kTinyStdError)) continue;
      const double p = twoSidedTPValue(estimate / se, s.nMeasurements);
      if (p > worstP) worstP = p, worst = g;
    }
    if (worst < 0) break;
    char line[160];
    std::snprintf(line, sizeof line, "group %d: order %s to %d (p = %.3f)", worst + 1, orders[worst].c_str(),
                  std::stoi(orders[worst]) - 1, worstP);
    orders[worst] = std::to_string(std::stoi(orders[worst]) - 1);
    Candidate next;
    next.groups = c.groups;
    next.options = c.options;
    next.options.models[0].order = orders;
    fitCandidate(next, data, plan);
    if (!next.fitted) {
      messages << "kurv: refining: " << line << " gave no results; the orders stay "
               << joinWords(c.options.models[0].order) << "\n";
      break;
    }
    messages << "kurv: refining: " << line << "\n";
    steps.push_back(line);
    c = std::move(next);
  }
  return steps;
}

}  // namespace

std::pair<int, int> parseGroupRange(const std::string& text) {
  const auto whole = [&](std::string_view part) {
    int v = 0;
    const auto [end, ec] = std::from_chars(part.data(), part.data() + part.size(), v);
    if (part.empty() || ec != std::errc() || end != part.data() + part.size() || v < 1 || v > kMaxSelectGroups)
      throw UserError("--groups: '" + text + "' is not a number of groups from 1 to " + std::to_string(kMaxSelectGroups) +
                      " or a range such as 1-6");
    return v;
  };
  const std::string_view all(text);
  const auto dash = all.find('-');
  const int low = whole(all.substr(0, dash));
  const int high = dash == std::string_view::npos ? low : whole(all.substr(dash + 1));
  if (high < low) throw UserError("--groups: the range '" + text + "' runs backwards");
  return {low, high};
}

std::vector<std::vector<std::string>> ordersByGroups(const std::vector<std::string>& lists, int low, int high) {
  const int count = high - low + 1;
  if (lists.empty()) throw UserError("kurv select needs --order (one order for every group, e.g. --order 3)");
  if (lists.size() != 1 && static_cast<int>(lists.size()) != count)
    throw UserError("--order gives " + std::to_string(lists.size()) + " lists but needs 1 (for every number of groups) or " +
                    std::to_string(count) + " (one per number of groups of --groups)");
  std::vector<std::vector<std::string>> out;
  for (int k = low; k <= high; ++k) {
    const std::string& list = lists.size() == 1 ? lists[0] : lists[k - low];
    const auto words = splitWords({list});
    if (words.size() == 1)
      out.emplace_back(k, words[0]);
    else if (static_cast<int>(words.size()) == k)
      out.push_back(words);
    else
      throw UserError("--order: the list '" + list + "' for " + std::to_string(k) + " groups gives " +
                      std::to_string(words.size()) + " orders (it needs 1 for every group or " + std::to_string(k) + ")");
  }
  return out;
}

int runSelect(const SelectOptions& options, std::ostream& results, std::ostream& messages) {
  try {
    // Everything a user can get wrong is found before the first fit.
    const FitOptions& o = options.fit;
    if (o.models[1].any() || o.models[2].any() || !o.multgroups.empty())
      throw UserError("kurv select chooses the groups of one trajectory model: it takes no --var2, --var3 or --multgroups");
    if (!o.start.empty())
      throw UserError("kurv select takes no --start (each number of groups needs its own); use --starts");
    if (o.out.empty()) throw UserError("kurv select needs --out (the folder for selection.json, selection.csv, bic.svg and best/)");
    const auto [low, high] = parseGroupRange(options.groups);
    if (!options.bic.empty() && options.bic != "subjects" && options.bic != "measurements")
      throw UserError("--bic: '" + options.bic + "' is not subjects or measurements");
    Thresholds t;
    t.minShare = parseThreshold(options.minShare, "--min-share", 5.0);
    t.minAvePP = parseThreshold(options.minAvePP, "--min-avepp", 0.7);
    t.minOcc = parseThreshold(options.minOcc, "--min-occ", 5.0);
    t.byMeasurements = options.bic == "measurements";
    const StartsPlan plan = parseStarts(o);
    const FitData data = readFitData(o);
    const auto orders = ordersByGroups(data.options.models[0].order, low, high);
    std::vector<Candidate> all(orders.size());
    for (std::size_t i = 0; i < orders.size(); ++i) {
      all[i].groups = low + static_cast<int>(i);
      all[i].options = o;
      all[i].options.models[0].order = orders[i];
      FitOptions wide = data.options;
      wide.models[0].order = orders[i];
      buildEngineCall(wide, data.table);  // its checks, now
    }

    for (auto& c : all) {
      fitCandidate(c, data, plan);
      judge(c, t);
      messages << progressLine(c, t) << std::flush;
    }
    if (std::none_of(all.begin(), all.end(), [](const Candidate& c) { return c.fitted; })) {
      messages << "kurv: no number of groups gave results; nothing was written\n";
      return kExitNoResults;
    }
    const int best = recommend(all, t);
    results << tableText(all, t) << recommendationText(all, best, t);

    std::vector<std::string> refinement;
    if (best >= 0 && options.refineOrders) {
      Candidate refined = std::move(all[best]);
      refinement = refineOrders(refined, data, plan, messages);
      judge(refined, t);
      all[best] = std::move(refined);
      char line[256];
      std::snprintf(line, sizeof line, "Refined orders of the %d-group model: %s (%zu step%s)%s\n", all[best].groups,
                    joinWords(all[best].options.models[0].order).c_str(), refinement.size(),
                    refinement.size() == 1 ? "" : "s", all[best].adequate ? "" : "; the refined model fails an adequacy check");
      results << "\n" << line;
    }

    std::map<std::string, std::string> files;
    json j;
    j["criterion"] = t.byMeasurements ? "bic_measurements" : "bic_subjects";
    j["thresholds"] = {{"min_share_pct", t.minShare}, {"min_avepp", t.minAvePP}, {"min_occ", t.minOcc}};
    j["recommended_groups"] = best >= 0 ? json(all[best].groups) : json(nullptr);
    if (options.refineOrders && best >= 0) {
      j["refined_orders"] = splitWords(all[best].options.models[0].order);
      j["refinement_steps"] = refinement;
    }
    json models = json::array();
    for (int i = 0; i < static_cast<int>(all.size()); ++i) models.push_back(candidateJson(all[i], i == best));
    j["models"] = models;
    j["starts"] = plan.count;
    j["seed"] = plan.seed;
    j["data"] = o.data;
    files["selection.json"] = j.dump(2) + "\n";
    files["selection.csv"] = selectionCsv(all, best);
    std::vector<BicPoint> points;
    for (const auto& c : all) points.push_back({c.groups, c.bic(t), c.adequate});
    files["bic.svg"] = bicSvg(points, best >= 0 ? all[best].groups : 0,
                              t.byMeasurements ? "BIC (measurements)" : "BIC (subjects)");
    if (best >= 0) {
      Candidate& c = all[best];
      FittedRun& run = *c.fit.kept;
      const FitRecord record{c.options, data.table, run.call, run.summary, *run.host,
                             plan.count > 1 ? &c.fit.report : nullptr};
      for (auto& [name, content] : fitOutputFiles(record)) files["best/" + name] = std::move(content);
    }
    writeFilesAtomically(o.out, files);
    std::string names;
    for (const auto& [name, content] : files) names += (names.empty() ? "" : ", ") + name;
    messages << "kurv: wrote " << o.out << ": " << names << "\n";
    return kExitOk;
  } catch (const UserError& e) {
    messages << "kurv: " << e.what() << "\n";
    return kExitUserError;
  }
}

}  // namespace kurv::cli
