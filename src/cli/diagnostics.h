#pragma once
// How well a fitted mixture classifies its subjects, from the posterior group
// probabilities p_ig of the subjects used (i = 1..N, g = 1..G):
//
//   estimated share pi_g  the membership model's share of group g (where the
//                         model has risk factors and so no single share: the
//                         mean posterior probability of the group);
//   assigned share        the share of subjects whose most likely group is g;
//   AvePP_g               the average posterior probability of group g over
//                         the subjects assigned to it;
//   OCC_g                 the odds of correct classification,
//                         (AvePP_g / (1 - AvePP_g)) / (pi_g / (1 - pi_g));
//   relative entropy      1 - sum_i sum_g (-p_ig ln p_ig) / (N ln G), with
//                         0 ln 0 = 0: 1 for a perfect classification, 0 when
//                         every subject is spread evenly over the groups.
//
// A quantity without a value (AvePP of a group nobody is assigned to; OCC
// and relative entropy of a one-group model) is the missing value; an OCC
// whose AvePP is exactly 1 is +infinity.

#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace kurv::cli {

struct FitRecord;

struct GroupDiagnostics {
  double estimatedPct = 0.0;  // 100 pi_g
  double assignedPct = 0.0;
  int assigned = 0;           // subjects whose most likely group is g
  double avePP = 0.0;
  double occ = 0.0;
};

// The diagnostics of one classification: one model of a single or joint
// run, or the shared groups of a multi-trajectory run.
struct ClassificationDiagnostics {
  int model = 1;        // 1-based model whose posteriors these are
  bool shared = false;  // the groups shared by a multi-trajectory run's components
  int nSubjects = 0;
  double relativeEntropy = 0.0;
  std::vector<GroupDiagnostics> groups;
};

// From the posterior rows (one per subject used, G probabilities each) and
// the estimated percentages (one per group; a missing or absent value is
// replaced by the mean posterior probability). Ties of the most likely group
// go to the lower group, as the engine assigns them.
ClassificationDiagnostics classify(const std::vector<std::vector<double>>& posteriors,
                                   const std::vector<double>& estimatedPct);

// The diagnostics of every classification of a finished run, from the
// posterior variables the engine stored.
std::vector<ClassificationDiagnostics> fitDiagnostics(const FitRecord& fit);

// fit.json's "diagnostics": one object per classification.
nlohmann::json diagnosticsJson(const std::vector<ClassificationDiagnostics>& all);

// The lines printed after the estimates table.
std::string diagnosticsText(const std::vector<ClassificationDiagnostics>& all);

// The smallest assigned share, AvePP and OCC over every group of every
// classification (missing when there is none).
struct DiagnosticsMinimum {
  double assignedPct, avePP, occ, relativeEntropy;
};
DiagnosticsMinimum smallestDiagnostics(const std::vector<ClassificationDiagnostics>& all);

}  // namespace kurv::cli
