#pragma once
// `kurv select`: the number of groups chosen by BIC among adequate models.
//
// Each number of groups k of the range is fitted (from --starts starting
// points each); a model is adequate when every group holds at least
// --min-share percent of the subjects by most likely group, and has an
// average posterior probability of assignment of at least --min-avepp and
// odds of correct classification of at least --min-occ. The recommendation
// is the adequate model of the best BIC (BIC = L - k/2 ln N, the higher the
// better, with N the subjects or, with --bic measurements, the
// measurements); every other model is listed with the reason it was passed
// over. With --refine-orders the recommended model's highest polynomial
// terms whose p-value exceeds 0.05 are then lowered one at a time (the
// least significant first), refitting after each.

#include <ostream>
#include <string>
#include <vector>

#include "cli/fit_options.h"

namespace kurv::cli {

struct SelectOptions {
  FitOptions fit;            // every fit option; fit.models[0].order holds the --order lists
  std::string groups;        // "1-6" or "3"
  std::string bic;           // "subjects" (default) or "measurements"
  std::string minShare;      // percent, default 5
  std::string minAvePP;      // default 0.7
  std::string minOcc;        // default 5
  bool refineOrders = false;
};

// The orders of every number of groups from the --order lists: one list for
// every k, or one list per k of the range; a list of one order gives every
// group that order. `low`..`high` is the range. UserError when they do not fit.
std::vector<std::vector<std::string>> ordersByGroups(const std::vector<std::string>& lists, int low, int high);

// The range of --groups ("3" or "2-5", within 1..kMaxSelectGroups).
inline constexpr int kMaxSelectGroups = 20;
std::pair<int, int> parseGroupRange(const std::string& text);

int runSelect(const SelectOptions& options, std::ostream& results, std::ostream& messages);

}  // namespace kurv::cli
