#include "cli/svg_plot.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

#include "cli/data_table.h"

namespace kurv::cli {
namespace {

// Panel geometry in SVG user units.
constexpr double kPanelWidth = 720.0;
constexpr double kPanelHeight = 460.0;
constexpr double kLeft = 80.0;     // room for the y tick labels and axis label
constexpr double kRight = 190.0;   // room for the legend
constexpr double kTop = 50.0;      // room for the title
constexpr double kBottom = 70.0;   // room for the x tick labels and axis label

// Colours that stay distinguishable for the common colour-vision
// deficiencies (the Okabe-Ito palette).
constexpr const char* kPalette[] = {"#0072B2", "#D55E00", "#009E73", "#CC79A7",
                                    "#E69F00", "#56B4E9", "#000000", "#F0E442"};

std::string fmt(double value) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%.2f", value);
  return buffer;
}

std::string tickText(double value, double step) {
  // As many decimals as the step needs, no more.
  const int decimals = step >= 1.0 ? 0 : std::min(6, static_cast<int>(std::ceil(-std::log10(step) - 1e-9)));
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%.*f", decimals, std::fabs(value) < step * 1e-9 ? 0.0 : value);
  return buffer;
}

// A "nice" step of 1, 2 or 5 times a power of ten that cuts the range into
// about `count` intervals (Heckbert's labelling rule).
double niceStep(double range, int count) {
  const double raw = range / count;
  const double power = std::pow(10.0, std::floor(std::log10(raw)));
  const double fraction = raw / power;
  const double nice = fraction < 1.5 ? 1.0 : fraction < 3.0 ? 2.0 : fraction < 7.0 ? 5.0 : 10.0;
  return nice * power;
}

struct Axis {
  double low = 0.0, high = 1.0, step = 0.2;
};

Axis niceAxis(double low, double high) {
  if (!(low < high)) {
    const double pad = std::fabs(low) > 0 ? std::fabs(low) * 0.1 : 1.0;
    low -= pad;
    high += pad;
  }
  Axis axis;
  axis.step = niceStep(high - low, 5);
  axis.low = std::floor(low / axis.step) * axis.step;
  axis.high = std::ceil(high / axis.step) * axis.step;
  return axis;
}

bool present(double v) { return std::isfinite(v) && !isMissing(v); }

void panelSvg(std::string& out, const PlotPanel& panel, double offsetX) {
  const int g = panel.groups;
  const auto& rows = panel.series;
  auto cell = [&](const std::vector<double>& row, int column) {
    return column < static_cast<int>(row.size()) ? row[column] : kMissing;
  };
  double xMin = std::numeric_limits<double>::max(), xMax = std::numeric_limits<double>::lowest();
  double yMin = xMin, yMax = xMax;
  for (const auto& row : rows) {
    if (!present(cell(row, 0))) continue;
    xMin = std::min(xMin, row[0]);
    xMax = std::max(xMax, row[0]);
    for (int c = 1; c <= 4 * g; ++c)
      if (present(cell(row, c))) {
        yMin = std::min(yMin, row[c]);
        yMax = std::max(yMax, row[c]);
      }
  }
  if (xMin > xMax) xMin = 0.0, xMax = 1.0;
  if (yMin > yMax) yMin = 0.0, yMax = 1.0;
  const Axis xAxis = niceAxis(xMin, xMax);
  const Axis yAxis = niceAxis(yMin, yMax);
  const double plotW = kPanelWidth - kLeft - kRight;
  const double plotH = kPanelHeight - kTop - kBottom;
  auto px = [&](double x) { return offsetX + kLeft + (x - xAxis.low) / (xAxis.high - xAxis.low) * plotW; };
  auto py = [&](double y) { return kTop + plotH - (y - yAxis.low) / (yAxis.high - yAxis.low) * plotH; };

  out += "<g>\n";
  out += "<text x=\"" + fmt(offsetX + kLeft + plotW / 2) + "\" y=\"28\" text-anchor=\"middle\" font-size=\"16\" font-weight=\"bold\">" +
         xmlEscape(panel.title) + "</text>\n";
  // Frame, grid and ticks.
  out += "<rect x=\"" + fmt(offsetX + kLeft) + "\" y=\"" + fmt(kTop) + "\" width=\"" + fmt(plotW) +
         "\" height=\"" + fmt(plotH) + "\" fill=\"none\" stroke=\"#444\"/>\n";
  for (double x = xAxis.low; x <= xAxis.high + xAxis.step * 1e-6; x += xAxis.step) {
    out += "<line x1=\"" + fmt(px(x)) + "\" y1=\"" + fmt(kTop + plotH) + "\" x2=\"" + fmt(px(x)) + "\" y2=\"" +
           fmt(kTop + plotH + 5) + "\" stroke=\"#444\"/>\n";
    out += "<text x=\"" + fmt(px(x)) + "\" y=\"" + fmt(kTop + plotH + 20) +
           "\" text-anchor=\"middle\" font-size=\"12\">" + tickText(x, xAxis.step) + "</text>\n";
  }
  for (double y = yAxis.low; y <= yAxis.high + yAxis.step * 1e-6; y += yAxis.step) {
    out += "<line x1=\"" + fmt(offsetX + kLeft) + "\" y1=\"" + fmt(py(y)) + "\" x2=\"" + fmt(offsetX + kLeft + plotW) +
           "\" y2=\"" + fmt(py(y)) + "\" stroke=\"#ddd\"/>\n";
    out += "<text x=\"" + fmt(offsetX + kLeft - 8) + "\" y=\"" + fmt(py(y) + 4) +
           "\" text-anchor=\"end\" font-size=\"12\">" + tickText(y, yAxis.step) + "</text>\n";
  }
  out += "<text x=\"" + fmt(offsetX + kLeft + plotW / 2) + "\" y=\"" + fmt(kPanelHeight - 20) +
         "\" text-anchor=\"middle\" font-size=\"14\">" + xmlEscape(panel.xLabel) + "</text>\n";
  const double yLabelX = offsetX + 22, yLabelY = kTop + plotH / 2;
  out += "<text x=\"" + fmt(yLabelX) + "\" y=\"" + fmt(yLabelY) + "\" text-anchor=\"middle\" font-size=\"14\" transform=\"rotate(-90 " +
         fmt(yLabelX) + " " + fmt(yLabelY) + ")\">" + xmlEscape(panel.yLabel) + "</text>\n";

  for (int k = 0; k < g; ++k) {
    const std::string colour = kPalette[k % (sizeof kPalette / sizeof kPalette[0])];
    const int obs = 1 + k, pred = 1 + g + k, lower = 1 + 2 * g + 2 * k, upper = lower + 1;
    // Runs of consecutive rows where the prediction and its band exist.
    std::vector<std::vector<const std::vector<double>*>> runs(1);
    for (const auto& row : rows) {
      if (present(cell(row, 0)) && present(cell(row, pred)) && present(cell(row, lower)) &&
          present(cell(row, upper)))
        runs.back().push_back(&row);
      else if (!runs.back().empty())
        runs.emplace_back();
    }
    for (const auto& run : runs) {
      if (run.empty()) continue;
      std::string band, line;
      for (const auto* row : run) band += fmt(px((*row)[0])) + "," + fmt(py((*row)[upper])) + " ";
      for (auto it = run.rbegin(); it != run.rend(); ++it)
        band += fmt(px((**it)[0])) + "," + fmt(py((**it)[lower])) + " ";
      for (const auto* row : run) line += fmt(px((*row)[0])) + "," + fmt(py((*row)[pred])) + " ";
      band.pop_back();
      line.pop_back();
      out += "<polygon points=\"" + band + "\" fill=\"" + colour + "\" fill-opacity=\"0.18\" stroke=\"none\"/>\n";
      out += "<polyline points=\"" + line + "\" fill=\"none\" stroke=\"" + colour + "\" stroke-width=\"2.5\"/>\n";
    }
    for (const auto& row : rows)
      if (present(cell(row, 0)) && present(cell(row, obs)))
        out += "<circle cx=\"" + fmt(px(row[0])) + "\" cy=\"" + fmt(py(row[obs])) + "\" r=\"4\" fill=\"white\" stroke=\"" +
               colour + "\" stroke-width=\"2\"/>\n";
    // Legend entry.
    const double ly = kTop + 20 + 24 * k;
    const double lx = offsetX + kLeft + plotW + 20;
    out += "<line x1=\"" + fmt(lx) + "\" y1=\"" + fmt(ly) + "\" x2=\"" + fmt(lx + 28) + "\" y2=\"" + fmt(ly) +
           "\" stroke=\"" + colour + "\" stroke-width=\"2.5\"/>\n";
    out += "<circle cx=\"" + fmt(lx + 14) + "\" cy=\"" + fmt(ly) + "\" r=\"4\" fill=\"white\" stroke=\"" + colour +
           "\" stroke-width=\"2\"/>\n";
    const double pct = k < static_cast<int>(panel.groupPct.size()) ? panel.groupPct[k] : kMissing;
    char label[64];
    if (present(pct))
      std::snprintf(label, sizeof label, "Group %d: %.1f%%", k + 1, pct);
    else
      std::snprintf(label, sizeof label, "Group %d", k + 1);
    out += "<text x=\"" + fmt(lx + 36) + "\" y=\"" + fmt(ly + 4) + "\" font-size=\"13\">" + xmlEscape(label) + "</text>\n";
  }
  const double noteY = kTop + 20 + 24 * g + 10;
  const double noteX = offsetX + kLeft + plotW + 20;
  out += "<text x=\"" + fmt(noteX) + "\" y=\"" + fmt(noteY) +
         "\" font-size=\"11\" fill=\"#555\">points: observed averages</text>\n";
  out += "<text x=\"" + fmt(noteX) + "\" y=\"" + fmt(noteY + 15) +
         "\" font-size=\"11\" fill=\"#555\">bands: 95% confidence</text>\n";
  out += "</g>\n";
}

}  // namespace

std::string xmlEscape(const std::string& text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&apos;"; break;
      default: out += c;
    }
  }
  return out;
}

std::string axisLabel(const std::vector<std::string>& names) {
  if (names.empty()) return {};
  if (names.size() == 1) return names.front();
  auto stem = [](const std::string& name) {
    std::size_t end = name.size();
    while (end > 0 && std::isdigit(static_cast<unsigned char>(name[end - 1]))) --end;
    while (end > 0 && name[end - 1] == '_') --end;
    return name.substr(0, end);
  };
  const std::string first = stem(names.front());
  const bool common = !first.empty() && std::all_of(names.begin(), names.end(),
                                                    [&](const std::string& n) { return stem(n) == first; });
  return common ? first : names.front() + " - " + names.back();
}

std::string trajectoriesSvg(const std::vector<PlotPanel>& panels) {
  const double width = kPanelWidth * static_cast<double>(std::max<std::size_t>(1, panels.size()));
  std::string out = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
  out += "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + fmt(width) + "\" height=\"" + fmt(kPanelHeight) +
         "\" viewBox=\"0 0 " + fmt(width) + " " + fmt(kPanelHeight) + "\" font-family=\"sans-serif\">\n";
  out += "<rect width=\"100%\" height=\"100%\" fill=\"white\"/>\n";
  for (std::size_t p = 0; p < panels.size(); ++p) panelSvg(out, panels[p], kPanelWidth * static_cast<double>(p));
  out += "</svg>\n";
  return out;
}

}  // namespace kurv::cli
