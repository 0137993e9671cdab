#pragma once
// The picture of `kurv select`: BIC against the number of groups, adequate
// models as filled points, inadequate ones hollow, the recommended model
// ringed and labelled. Plain SVG.

#include <string>
#include <vector>

namespace kurv::cli {

struct BicPoint {
  int groups = 0;
  double bic = 0.0;       // missing value: no fit
  bool adequate = false;
};

// `recommended` is a number of groups, or 0 for none.
std::string bicSvg(const std::vector<BicPoint>& points, int recommended, const std::string& yLabel);

}  // namespace kurv::cli
