#pragma once
// The trajectory picture: for every model a panel with each group's
// predicted trajectory, its confidence band and the observed group
// averages as points, axis labels from the data's column names and a
// legend with the group percentages. Plain SVG that any browser shows.

#include <string>
#include <vector>

namespace kurv::cli {

struct PlotPanel {
  std::string title;
  std::string xLabel;
  std::string yLabel;
  int groups = 0;
  std::vector<double> groupPct;                // missing value when unknown
  std::vector<std::vector<double>> series;     // plot rows: time, observed, predicted, lower/upper pairs
};

std::string trajectoriesSvg(const std::vector<PlotPanel>& panels);

// A label for a list of columns: their common stem when they differ only
// in trailing digits ("y1".."y6" give "y"), else "first - last".
std::string axisLabel(const std::vector<std::string>& names);

// Text with the five XML special characters escaped.
std::string xmlEscape(const std::string& text);

}  // namespace kurv::cli
